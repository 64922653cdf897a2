#pragma once

#include "settings/PreferencesStore.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// An INI store in a folder of its own, removed with the object.
struct TempStore {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Orvalen.conf"));
    std::shared_ptr<QSettingsStore> store = std::make_shared<QSettingsStore>(path);
};

// Passes everything to a real store and records the writes; `failWrites`
// makes writes fail as a full disk would, leaving the stored value.
class RecordingStore : public PreferencesStore {
public:
    explicit RecordingStore(std::shared_ptr<PreferencesStore> inner) : m_inner(std::move(inner)) { clock.start(); }

    std::optional<QByteArray> read(const QString& key) override { return m_inner->read(key); }
    bool write(const QString& key, const QByteArray& bytes) override
    {
        writes.push_back({key, bytes, clock.nsecsElapsed()});
        return !failWrites && m_inner->write(key, bytes);
    }
    std::shared_ptr<void> lockForUpdate() override { return m_inner->lockForUpdate(); }

    struct Write {
        QString key;
        QByteArray bytes;
        qint64 atNs;
    };
    std::vector<Write> writes;
    bool failWrites = false;
    QElapsedTimer clock;

private:
    std::shared_ptr<PreferencesStore> m_inner;
};
