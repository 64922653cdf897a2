#include "ui/ContentView.h"

#include "UiTestSupport.h"
#include "ui/ControlPanel.h"
#include "ui/ScopeView.h"

#include <gtest/gtest.h>

TEST(ContentView, OpensAtItsMinimumAndKeepsTheScopePlaceWhenHidden)
{
    UiWorld world;
    ContentView window(world.engine, world.settings);
    window.show();
    settle();
    EXPECT_EQ(window.minimumSize(), QSize(1020, 700));
    EXPECT_GE(window.width(), 1020);
    EXPECT_GE(window.height(), 700);
    const int panelHeight = window.controlPanel()->height();
    EXPECT_GE(panelHeight, 120);
    EXPECT_LE(panelHeight, 200);

    const QRect panelBefore = window.controlPanel()->geometry();
    world.settings.setScopeVisible(false);
    settle();
    EXPECT_TRUE(window.scopeContainer()->isHidden());
    EXPECT_EQ(window.controlPanel()->geometry(), panelBefore);  // the panel does not move

    window.resize(1400, 1100);
    settle();
    EXPECT_LE(window.controlPanel()->height(), 200);
}

TEST(ContentView, RestoresTheLastSessionOnShowAndSavesOneDebounceAfterTheLastChange)
{
    UiWorld world;
    {
        ScopeSettings earlier(world.store);
        earlier.setDecay(0.77f);
        earlier.setDisplayMode(DisplayMode::waveform);
        earlier.saveLastSession();
    }
    world.settings.setAutoSaveInterval(std::chrono::milliseconds(150));
    ContentView window(world.engine, world.settings);
    EXPECT_FLOAT_EQ(world.settings.decay(), 0.52f);  // nothing read before the window shows
    window.show();
    settle();
    EXPECT_FLOAT_EQ(world.settings.decay(), 0.77f);
    EXPECT_EQ(world.settings.displayMode(), DisplayMode::waveform);
    EXPECT_TRUE(world.settings.autoSaveActive());
    EXPECT_FALSE(world.engine.isRunning());  // no audio until Start

    auto storedDecay = [&] {
        ScopeSettings reader(world.store);
        reader.loadLastSession();
        return reader.decay();
    };
    world.settings.setDecay(0.6f);
    QTest::qWait(60);
    world.settings.setDecay(0.65f);  // restarts the debounce
    QTest::qWait(60);
    EXPECT_FLOAT_EQ(storedDecay(), 0.77f);
    EXPECT_TRUE(waitFor([&] { return storedDecay() == 0.65f; }, 2000));
}

TEST(ContentView, DoubleClickReturnsTheWindowToItsDefaultSizeAboutItsCentre)
{
    UiWorld world;
    ContentView window(world.engine, world.settings);
    window.setGeometry(100, 100, 1300, 900);
    window.show();
    settle();
    const QPoint centre = window.geometry().center();
    QTest::mouseDClick(window.controlPanel(), Qt::LeftButton, {}, QPoint(3, 3));
    ASSERT_TRUE(waitFor([&] { return window.size() == ContentView::kDefaultSize; }, 3000));
    EXPECT_LE((window.geometry().center() - centre).manhattanLength(), 2);
}
