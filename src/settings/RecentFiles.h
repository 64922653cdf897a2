#pragma once

#include "settings/PreferencesStore.h"

#include <QObject>
#include <QStringList>

#include <memory>

// The sound files opened last, newest first, kept in the preferences under
// a key of their own (the settings and presets are not touched).
class RecentFiles : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxFiles = 8;

    explicit RecentFiles(std::shared_ptr<PreferencesStore> store, QObject* parent = nullptr);

    // What the store holds; an unreadable record reads as none.
    QStringList paths() const;
    // `path` first, once, the list cut to kMaxFiles, and stored.
    void add(const QString& path);

signals:
    void changed();

private:
    std::shared_ptr<PreferencesStore> m_store;
};
