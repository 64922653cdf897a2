#include "ui/ContentView.h"

#include "UiTestSupport.h"
#include "ui/ControlPanel.h"

using ContentViewTest = UiWorld;

TEST_F(ContentViewTest, ShowsTheLastSessionKeepsThePanelInPlaceAndReturnsToItsSizeOnADoubleClick)
{
    {
        ScopeSettings earlier(store);
        earlier.setDecay(0.77f);
        earlier.saveLastSession();
    }
    ContentView window(engine, settings);
    window.setGeometry(100, 100, 1300, 900);
    EXPECT_NE(settings.decay(), 0.77f);  // nothing is read before the window shows
    window.show();
    test::settle();
    EXPECT_EQ(settings.decay(), 0.77f);
    EXPECT_TRUE(settings.autoSaveActive());
    EXPECT_FALSE(engine.isRunning());  // no audio until Start
    EXPECT_EQ(window.minimumSize(), ContentView::kDefaultSize);
    const QRect panel = window.controlPanel()->geometry();
    EXPECT_TRUE(panel.height() >= 120 && panel.height() <= 200) << panel.height();
    settings.setScopeVisible(false);
    test::settle();
    EXPECT_TRUE(window.scopeContainer()->isHidden());
    EXPECT_EQ(window.controlPanel()->geometry(), panel);  // the hidden scope keeps its place

    const QPoint centre = window.geometry().center();
    QTest::mouseDClick(window.controlPanel(), Qt::LeftButton, {}, QPoint(3, 3));
    ASSERT_TRUE(test::waitFor([&] { return window.size() == ContentView::kDefaultSize; }, 3000));
    EXPECT_LE((window.geometry().center() - centre).manhattanLength(), 2);
}
