#include "ui/ContentView.h"

#include "UiTestSupport.h"
#include "ui/ControlPanel.h"
#include "ui/ParamSlider.h"
#include "ui/SegmentedPicker.h"

#include <QDir>
#include <QLabel>
#include <QSlider>
#include <QToolButton>

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

TEST_F(ContentViewTest, KeysDriveCaptureControlsFullScreenSnapshotsAndQuit)
{
    QTemporaryDir pictures;  // the user's Pictures folder, private to the test
    QFile dirs(qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs");
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_PICTURES_DIR=\"" + pictures.path().toUtf8() + "\"\n");
    dirs.close();
    engine.setSelectedDeviceID(engine.devices().back().id);  // the microphone
    ContentView window(engine, settings);
    const bool gl = showScope(window, window.scopeView());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ControlPanel& panel = *window.controlPanel();
    QWidget* decay = panel.slider("DECAY")->findChild<QSlider*>();
    auto saved = [&] { return QDir(pictures.path()).entryList({"*.png"}); };
    const std::tuple<QWidget*, QKeyCombination, std::function<bool()>> rows[] = {
        {decay, Qt::Key_Space, [&] { return engine.isRunning(); }},  // a slider leaves Space to the window
        {panel.visibilityButton(), Qt::Key_Space, [&] { return engine.isRunning() && !settings.scopeVisible(); }},
        {&window, Qt::Key_Space, [&] { return !engine.isRunning(); }},
        {decay, Qt::Key_PageUp, [&] { return std::abs(settings.decay() - (0.52f + 0.049f)) < 1e-4f; }},
        {decay, Qt::Key_Right, [&] { return std::abs(settings.decay() - (0.52f + 0.0539f)) < 1e-4f; }},
        {panel.scalePicker(), Qt::Key_Right, [&] { return settings.kxScaleMode() == KXScaleMode::rock; }},
        {decay, Qt::Key_F11, [&] { return window.isFullScreen() && panel.isVisible(); }},
        {decay, Qt::Key_Escape, [&] { return !window.isFullScreen(); }},
        {decay, Qt::CTRL | Qt::Key_S, [&] {
             const QString name = saved().value(0);
             return gl ? saved().size() == 1 && panel.snapshotNote()->toolTip() == pictures.filePath(name) &&
                             panel.snapshotNote()->isVisible() && panel.snapshotNote()->text().startsWith("Saved ") &&
                             QImage(pictures.filePath(name)).size() == window.scopeView()->size() *
                                                                    window.scopeView()->devicePixelRatio()
                       : panel.snapshotNote()->text() == "Snapshot could not be saved";
         }},
        {decay, Qt::CTRL | Qt::Key_Q, [&] { return !window.isVisible(); }}};
    for (const auto& [focus, key, done] : rows) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString() + " on " + focus->metaObject()->className());
        focus->setFocus();
        QTest::keyClick(focus, key.key(), key.keyboardModifiers());
        test::settle();
        EXPECT_TRUE(done());
    }
}
