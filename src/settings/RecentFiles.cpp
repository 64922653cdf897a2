#include "settings/RecentFiles.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QString kRecentFilesKey = QStringLiteral("Orvalen.recentFiles");

}  // namespace

RecentFiles::RecentFiles(std::shared_ptr<PreferencesStore> store, QObject* parent)
    : QObject(parent), m_store(std::move(store))
{
}

QStringList RecentFiles::paths() const
{
    QStringList paths;
    const std::optional<QByteArray> blob = m_store->read(kRecentFilesKey);
    if (!blob)
        return paths;
    const QJsonDocument document = QJsonDocument::fromJson(*blob);
    for (const QJsonValue& value : document.array()) {
        const QString path = value.toString();
        if (!path.isEmpty() && !paths.contains(path) && paths.size() < kMaxFiles)
            paths << path;
    }
    return paths;
}

void RecentFiles::add(const QString& path)
{
    const std::shared_ptr<void> lock = m_store->lockForUpdate();  // another window may add one too
    QStringList paths = this->paths();
    paths.removeAll(path);
    paths.prepend(path);
    QJsonArray array;
    for (const QString& p : paths.mid(0, kMaxFiles))
        array.append(p);
    m_store->write(kRecentFilesKey, QJsonDocument(array).toJson(QJsonDocument::Compact));
    emit changed();
}
