#include "settings/PreferencesStore.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QVariant>

namespace {

constexpr int kUpdateLockWaitMs = 2000;

}  // namespace

QSettingsStore::QSettingsStore() = default;

QSettingsStore::QSettingsStore(const QString& iniFilePath) : m_iniFilePath(iniFilePath) {}

// A fresh QSettings per operation: its status then describes that operation
// alone (QSettings never clears an error once set). Qt shares the parsed file
// between objects of one process, so this costs a stat, not a parse.
static std::unique_ptr<QSettings> openSettings(const QString& iniFilePath)
{
    std::unique_ptr<QSettings> settings = iniFilePath.isEmpty()
        ? std::make_unique<QSettings>(QStringLiteral("Orvalen"), QStringLiteral("Orvalen"))
        : std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat);
    // Never fall back to rewriting the file in place.
    settings->setAtomicSyncRequired(true);
    return settings;
}

QString QSettingsStore::fileName() const
{
    return openSettings(m_iniFilePath)->fileName();
}

std::optional<QByteArray> QSettingsStore::read(const QString& key)
{
    const std::unique_ptr<QSettings> settings = openSettings(m_iniFilePath);
    const QVariant value = settings->value(key);
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

bool QSettingsStore::write(const QString& key, const QByteArray& bytes)
{
    const std::unique_ptr<QSettings> settings = openSettings(m_iniFilePath);
    if (settings->status() != QSettings::NoError && settings->status() != QSettings::FormatError)
        return false;
    settings->setValue(key, bytes);
    settings->sync();
    // A file that did not parse is rewritten from what could be read; the
    // error it reported hides whether the write went through, so check.
    if (settings->status() == QSettings::FormatError) {
        const std::unique_ptr<QSettings> check = openSettings(m_iniFilePath);
        return check->status() == QSettings::NoError && check->value(key) == QVariant(bytes);
    }
    return settings->status() == QSettings::NoError;
}

std::shared_ptr<void> QSettingsStore::lockForUpdate()
{
    const QString path = fileName() + QStringLiteral(".update.lock");
    QDir().mkpath(QFileInfo(path).absolutePath());
    auto lock = std::make_shared<QLockFile>(path);
    if (!lock->tryLock(kUpdateLockWaitMs))
        return nullptr;
    return lock;
}
