#include "settings/ScopeSettings.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Two instances of the program saving at once, each a read-modify-write of
// the stored list: neither may write over a preset the other just stored.
TEST(StoreConcurrency, TwoProcessesSavingAtOnceLoseNoPreset)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Orvalen.conf"));
    ScopeSettings(std::make_shared<QSettingsStore>(path)).savePreset(QStringLiteral("existing"));
    QStringList expected{"existing"}, stored;
    QProcess workers[2];
    for (int w = 0; w < 2; ++w) {
        const QString prefix = w ? QStringLiteral("b") : QStringLiteral("a");
        workers[w].start(QStringLiteral(SETTINGS_STORE_WORKER), {path, prefix, QStringLiteral("15")});
        for (int i = 0; i < 15; ++i)
            expected << prefix + QString::number(i);
    }
    for (QProcess& worker : workers)
        EXPECT_TRUE(worker.waitForFinished(60000) && worker.exitStatus() == QProcess::NormalExit && !worker.exitCode());
    const auto list = decodePresetList(QSettingsStore(path).read(QStringLiteral("Orvalen.presets")).value_or(""));
    for (const Preset& p : list.value_or(QList<Preset>{}))
        stored << p.name;
    stored.sort();
    expected.sort();
    EXPECT_EQ(stored.join(u' ').toStdString(), expected.join(u' ').toStdString());
}
