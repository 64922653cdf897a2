#include "ui/Snapshot.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace ui {

namespace {

QString snapshotFolder()
{
    for (const QString& folder : {QStandardPaths::writableLocation(QStandardPaths::PicturesLocation), QDir::homePath()})
        if (!folder.isEmpty() && QDir().mkpath(folder))
            return folder;
    return {};
}

}  // namespace

std::optional<QString> saveSnapshot(const QImage& picture, const QDateTime& when)
{
    const QString folder = snapshotFolder();
    if (picture.isNull() || folder.isEmpty())
        return std::nullopt;
    const QString stem = QDir(folder).filePath(when.toString(QStringLiteral("'Orvalen 'yyyy-MM-dd HH-mm-ss")));
    for (int n = 1; n < 1000; ++n) {
        const QString path = n == 1 ? stem + QStringLiteral(".png") : QStringLiteral("%1 %2.png").arg(stem).arg(n);
        QFile file(path);
        // NewOnly: a name taken between looking and writing is not overwritten.
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFile::exists(path))
                continue;
            return std::nullopt;
        }
        const bool written = picture.save(&file, "PNG");
        file.close();  // flushes: a full disk shows here
        if (written && file.error() == QFileDevice::NoError)
            return path;
        file.remove();
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace ui
