#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

// The per-user preferences store as the settings model uses it: byte blobs
// under string keys. Main thread only.
class PreferencesStore {
public:
    virtual ~PreferencesStore() = default;

    // The blob under `key` as it is stored now; nothing when the key is absent
    // or holds something other than a byte blob.
    virtual std::optional<QByteArray> read(const QString& key) = 0;

    // Replaces the value under `key`. True once it is safely stored; on false
    // the previously stored value is still there.
    virtual bool write(const QString& key, const QByteArray& bytes) = 0;

    // Holds off other processes' read-modify-write cycles on this store until
    // the returned handle is released. Best effort: an empty handle when no
    // lock could be had within a short wait (the caller goes on regardless).
    virtual std::shared_ptr<void> lockForUpdate() { return nullptr; }
};

// The store backed by QSettings. The default is the user's
// QSettings("Orvalen", "Orvalen") (~/.config/Orvalen/Orvalen.conf); tests and
// tools may name an INI file instead.
//
// QSettings writes the whole file to a temporary beside it and renames it
// over the old one (after fdatasync), so a crash mid-write leaves the old
// file; it holds "<file>.lock" while writing and first re-reads the file if
// its size or modification time (to the millisecond) changed, so two
// processes writing different keys both keep their value.
class QSettingsStore : public PreferencesStore {
public:
    QSettingsStore();
    explicit QSettingsStore(const QString& iniFilePath);

    // The file behind the store.
    QString fileName() const;

    std::optional<QByteArray> read(const QString& key) override;
    bool write(const QString& key, const QByteArray& bytes) override;
    // A lock file "<file>.update.lock" beside the settings file, waited for
    // up to two seconds. A lock left by a process that died is taken over.
    std::shared_ptr<void> lockForUpdate() override;

private:
    QString m_iniFilePath;  // empty: the user's default store
};
