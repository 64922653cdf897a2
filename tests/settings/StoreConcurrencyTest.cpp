#include "settings/ScopeSettings.h"

#include "settings/StoreHelpers.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const QString kPresets = QStringLiteral("Orvalen.presets");

std::unique_ptr<QProcess> startWorker(const QStringList& args)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral(SETTINGS_STORE_WORKER), args);
    EXPECT_TRUE(process->waitForStarted(10000));
    return process;
}

}  // namespace

TEST(StoreConcurrency, TwoProcessesSavingAtOnceLoseNoPreset)
{
    TempStore t;
    ScopeSettings(t.store).savePreset(QStringLiteral("existing"));

    constexpr int kEach = 15;
    auto first = startWorker({t.path, "save", "a", QString::number(kEach)});
    auto second = startWorker({t.path, "save", "b", QString::number(kEach)});
    for (QProcess* p : {first.get(), second.get()}) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
    }

    QStringList expected{QStringLiteral("existing")};
    for (int i = 0; i < kEach; ++i)
        expected << QStringLiteral("a%1").arg(i) << QStringLiteral("b%1").arg(i);
    QStringList stored;
    const std::optional<QList<Preset>> presets = decodePresetList(t.store->read(kPresets).value_or(""));
    ASSERT_TRUE(presets);
    for (const Preset& p : *presets)
        stored << p.name;
    expected.sort();
    stored.sort();
    EXPECT_EQ(stored.join(u' ').toStdString(), expected.join(u' ').toStdString());
    const std::optional<Preset> session = decodePreset(t.store->read("Orvalen.lastSession").value_or(""));
    ASSERT_TRUE(session);
    EXPECT_EQ(session->decay, 0.5f + 0.01f * float(kEach - 1));
}

TEST(StoreConcurrency, AWriterKilledMidWriteLeavesAWholeList)
{
    TempStore t;
    constexpr int kRecords = 2000;  // ~1 MB a write, so kills land inside writes
    for (int round = 0; round < 5; ++round) {
        auto worker = startWorker({t.path, "churn", QString::number(kRecords)});
        ASSERT_TRUE(worker->waitForReadyRead(60000));
        QThread::msleep(QRandomGenerator::global()->bounded(5, 60));
        worker->kill();
        ASSERT_TRUE(worker->waitForFinished(10000));

        const std::optional<QList<Preset>> presets = decodePresetList(t.store->read(kPresets).value_or(""));
        ASSERT_TRUE(presets) << "round " << round;
        ASSERT_EQ(presets->size(), kRecords);
        const QString generation = presets->front().name.section(u'-', 0, 0);
        for (const Preset& p : *presets)
            ASSERT_EQ(p.name.section(u'-', 0, 0), generation) << "records of two writes mixed";
    }
}
