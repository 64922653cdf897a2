#include "settings/ScopeSettings.h"

#include "settings/StoreHelpers.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

constexpr auto kInterval = 200ms;
constexpr qint64 kIntervalNs = std::chrono::nanoseconds(kInterval).count();

struct AutoSaveFixture {
    TempStore t;
    std::shared_ptr<RecordingStore> store = std::make_shared<RecordingStore>(t.store);
    std::unique_ptr<ScopeSettings> settings = std::make_unique<ScopeSettings>(store);
    std::vector<qint64> changes;  // times of the notifications

    AutoSaveFixture()
    {
        settings->setAutoSaveInterval(kInterval);
        QObject::connect(settings.get(), &ScopeSettings::willChange,
                         [this] { changes.push_back(store->clock.nsecsElapsed()); });
    }

    // Makes `count` assignments `spacing` apart from the event loop, then
    // waits until a save would long be due.
    void changeRepeatedly(int count, std::chrono::milliseconds spacing, const std::function<void(int)>& change)
    {
        int done = 0;
        QTimer driver;
        driver.setTimerType(Qt::PreciseTimer);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            change(done);
            if (++done == count)
                driver.stop();
        });
        driver.start(spacing);
        EXPECT_TRUE(QTest::qWaitFor([&] { return done == count; }, 10000));
        QTest::qWait(int(kInterval.count()) * 3);
    }

    // A save one interval after a change with none in between is a debounce;
    // a save any earlier would be a save while changes keep coming.
    void expectOneSaveAfterTheLastChange()
    {
        ASSERT_FALSE(changes.empty());
        size_t quietGaps = 0;
        for (size_t i = 1; i < changes.size(); ++i)
            quietGaps += changes[i] - changes[i - 1] >= kIntervalNs;
        for (const auto& write : store->writes) {
            EXPECT_EQ(write.key, QStringLiteral("Orvalen.lastSession"));
            const auto last = std::upper_bound(changes.begin(), changes.end(), write.atNs);
            ASSERT_NE(last, changes.begin());
            EXPECT_GE(write.atNs - *(last - 1), kIntervalNs) << "saved while changes kept coming";
        }
        if (quietGaps == 0)  // the usual case; a stalled machine may leave a quiet gap
            EXPECT_EQ(store->writes.size(), 1u);
        else
            EXPECT_LE(store->writes.size(), quietGaps + 1);
        ASSERT_FALSE(store->writes.empty());
        EXPECT_GT(store->writes.back().atNs, changes.back());
    }
};

}  // namespace

TEST(AutoSave, IsOffUntilStartedAndWaitsOneSecondByDefault)
{
    TempStore t;
    ScopeSettings s(t.store);
    EXPECT_FALSE(s.autoSaveActive());
    EXPECT_EQ(s.autoSaveInterval(), 1000ms);
    s.startAutoSave();
    EXPECT_TRUE(s.autoSaveActive());
}

TEST(AutoSave, ManyChangesGiveOneSaveOneIntervalAfterTheLast)
{
    AutoSaveFixture f;
    f.settings->startAutoSave();
    f.changeRepeatedly(10, kInterval / 4, [&](int i) { f.settings->setDecay(0.5f + 0.01f * float(i)); });
    f.expectOneSaveAfterTheLastChange();
    EXPECT_EQ(decodePreset(f.store->writes.back().bytes)->decay, 0.59f) << "the state after the last change";
}

TEST(AutoSave, MeterUpdatesPostponeTheSaveToo)
{
    AutoSaveFixture f;
    f.settings->startAutoSave();
    f.changeRepeatedly(25, kInterval / 8, [&](int i) { f.settings->setRhythmMatchRate(float(i)); });
    f.expectOneSaveAfterTheLastChange();
}

TEST(AutoSave, TheRestoreBeforeStartingSavesNothingAndARestartReplaces)
{
    AutoSaveFixture f;
    f.settings->savePreset(QStringLiteral("p"));
    f.store->writes.clear();
    f.settings->loadLastSession();
    f.settings->startAutoSave();
    f.settings->startAutoSave();
    QTest::qWait(int(kInterval.count()) * 2);
    EXPECT_TRUE(f.store->writes.empty());

    f.changes.clear();
    f.settings->resetToDefaults();
    QTest::qWait(int(kInterval.count()) * 3);
    f.expectOneSaveAfterTheLastChange();
}

TEST(AutoSave, EndsWithTheSettingsObject)
{
    AutoSaveFixture f;
    f.settings->startAutoSave();
    f.settings->setDecay(0.6f);
    f.settings.reset();
    QTest::qWait(int(kInterval.count()) * 2);
    EXPECT_TRUE(f.store->writes.empty());
}
