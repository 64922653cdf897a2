#include "ui/ContentView.h"

#include "UiTestSupport.h"
#include "media/MediaTestSupport.h"
#include "settings/RecentFiles.h"
#include "ui/DeviceSelector.h"
#include "ui/panel/RenderStatus.h"
#include "ui/panel/TransportBar.h"
#include "video/VideoRender.h"
#include "ui/ControlPanel.h"
#include "ui/ParamSlider.h"
#include "ui/SegmentedPicker.h"

#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QProgressBar>
#include <QMimeData>
#include <QPushButton>
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
    test::settle();
    window.grab().save("/tmp/panel.png");
    // At the smallest size the logo covers no control, caption or value.
    const ControlPanel* p = window.controlPanel();
    const QRect logo(p->logo()->mapTo(p, QPoint()), p->logo()->size());
    for (const QWidget* w : p->findChildren<QWidget*>()) {
        if (w->isVisible() && w != p->logo() && w->findChildren<QWidget*>().isEmpty()) {
            EXPECT_FALSE(logo.intersects(QRect(w->mapTo(p, QPoint()), w->size()))) << w->metaObject()->className();
        }
    }
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
    window.showMaximized();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ControlPanel& panel = *window.controlPanel();
    QObject *decay = panel.slider("DECAY")->findChild<QSlider*>(), *scope = window.scopeView();
    auto saved = [&] { return QDir(pictures.path()).entryList({"*.png"}); };
    auto was = [&] { return window.isMaximized() && !window.isFullScreen(); };  // back to the window as it was
    // Target, key, held (one auto-repeat that must do nothing more), what it has done.
    const std::tuple<QObject*, QKeyCombination, bool, std::function<bool()>> rows[] = {
        {scope, Qt::Key_Space, true, [&] { return engine.isRunning(); }},
        {scope, Qt::Key_F11, true, [&] { return window.isFullScreen() && panel.isVisible(); }},
        {decay, Qt::Key_Escape, false, was},
        {decay, Qt::Key_F11, false, [&] { return window.isFullScreen(); }},
        {decay, Qt::Key_F11, false, was},
        {panel.visibilityButton(), Qt::Key_Space, false,
         [&] { return engine.isRunning() && !settings.scopeVisible(); }},
        {decay, Qt::Key_Space, true, [&] { return !engine.isRunning(); }},  // a slider leaves Space to the window
        {decay, Qt::Key_PageUp, false, [&] { return std::abs(settings.decay() - (0.52f + 0.049f)) < 1e-4f; }},
        {decay, Qt::Key_Right, false, [&] { return std::abs(settings.decay() - (0.52f + 0.0539f)) < 1e-4f; }},
        {panel.scalePicker(), Qt::Key_Right, false, [&] { return settings.kxScaleMode() == KXScaleMode::rock; }},
        {decay, Qt::CTRL | Qt::Key_S, true, [&] {
             const QString name = saved().value(0);
             return gl ? saved().size() == 1 && panel.snapshotNote()->toolTip() == pictures.filePath(name) &&
                             panel.snapshotNote()->isVisible() && panel.snapshotNote()->text().startsWith("Saved ") &&
                             QImage(pictures.filePath(name)).size() == window.scopeView()->size() *
                                                                    window.scopeView()->devicePixelRatio()
                       : panel.snapshotNote()->text() == "Snapshot could not be saved";
         }},
        {decay, Qt::CTRL | Qt::Key_Q, false, [&] { return !window.isVisible(); }}};
    for (const auto& [target, key, held, done] : rows) {
        SCOPED_TRACE(QKeySequence(key).toString().toStdString() + " on " + target->metaObject()->className());
        QWindow* to = target == scope ? window.scopeView()
                                      : (static_cast<QWidget*>(target)->setFocus(), window.windowHandle());
        for (int event : {0, 1, 2})  // press, an auto-repeat while held, release
            if (event != 1 || held)
                QTest::simulateEvent(to, event < 2, key.key(), key.keyboardModifiers(), {}, event == 1);
        test::settle();
        EXPECT_TRUE(done());
    }
}

// A file dropped on the scope plays at once: the transport row shows its
// name and length, Left and Right seek, the button reads Pause, the source
// list holds the file (and keeps it in the preferences), and Space pauses. A file that is no
// sound changes nothing but the error line.
TEST_F(ContentViewTest, AFilePlaysFromTheWindowAndABadOneChangesNothing)
{
    mediatest::TempDir dir;
    mediatest::writeFloatWav(dir.file("tone.wav"), 48000, std::vector<float>(2 * 48000 * 12, 0.25f));
    mediatest::writeFile(dir.file("text.wav"), std::vector<uint8_t>(4096, 'x'));
    ContentView window(engine, settings);
    window.show();
    test::settle();
    ControlPanel& panel = *window.controlPanel();
    QComboBox* sources = panel.deviceSelector()->picker();
    QMimeData dropped;  // onto the scope, which is a window of its own
    dropped.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.file("tone.wav")))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.scopeView(), &drop);
    ASSERT_TRUE(test::waitFor([&] { return engine.isRunning() && panel.transportBar()->isVisible(); }, 3000));
    EXPECT_EQ(panel.startStopButton()->text(), "Pause");
    EXPECT_TRUE(panel.transportBar()->timeLabel()->text().endsWith("/ 0:12"));
    for (auto [key, at] : {std::pair{Qt::Key_Right, 5}, {Qt::Key_Right, 10}, {Qt::Key_Left, 5},
                            {Qt::Key_Left, 0}, {Qt::Key_Left, 0}}) {
        QTest::keyClick(window.scopeView(), key);  // 5 s a press, held to the start
        EXPECT_EQ(engine.filePosition(), at * 48000) << at;
    }
    EXPECT_EQ(sources->currentText(), "tone.wav");
    EXPECT_EQ(panel.deviceSelector()->sourceTip(), QString::fromStdString(dir.file("tone.wav")));
    EXPECT_EQ(RecentFiles(store).paths(), QStringList{QString::fromStdString(dir.file("tone.wav"))});
    QTest::keyClick(window.scopeView(), Qt::Key_Space);
    EXPECT_TRUE(test::waitFor([&] { return !engine.isRunning() && panel.startStopButton()->text() == "Play"; }, 2000));

    window.openFile(QString::fromStdString(dir.file("text.wav")));
    test::settle();
    EXPECT_TRUE(panel.errorLabel()->isVisible() && sources->currentText() == "tone.wav");
    EXPECT_EQ(RecentFiles(store).paths().size(), 1);
}

// A video renders in the background while the window goes on; the panel
// shows how far, then where the video is. Cancelled, it leaves nothing.
TEST_F(ContentViewTest, AVideoRendersBesideTheLiveViewAndCancelLeavesNothing)
{
    mediatest::TempDir dir;
    mediatest::writeFloatWav(dir.file("long.wav"), 48000, std::vector<float>(2 * 48000 * 60, 0.25f));
    mediatest::writeFloatWav(dir.file("short.wav"), 48000, std::vector<float>(2 * 4800, 0.25f));
    ContentView window(engine, settings);
    window.show();
    ControlPanel& panel = *window.controlPanel();
    VideoRenderJob job;
    job.width = 160, job.height = 120, job.fps = 30;

    job.input = dir.file("long.wav"), job.output = dir.file("long.mp4");
    ASSERT_TRUE(window.startRender(job));
    EXPECT_FALSE(window.startRender(job)) << "one at a time";
    EXPECT_TRUE(panel.renderStatus()->isVisible());
    test::waitFor([&] { return panel.renderStatus()->bar()->maximum() > 0; }, 5000);
    panel.renderStatus()->cancelButton()->click();
    ASSERT_TRUE(test::waitFor([&] { return !window.isRendering(); }, 10000));
    EXPECT_FALSE(std::filesystem::exists(dir.file("long.mp4")));
    EXPECT_TRUE(panel.snapshotNote()->text().contains("cancelled"));

    job.input = dir.file("short.wav"), job.output = dir.file("short.mp4");
    ASSERT_TRUE(window.startRender(job));
    ASSERT_TRUE(test::waitFor([&] { return !window.isRendering(); }, 10000));
    EXPECT_TRUE(std::filesystem::file_size(dir.file("short.mp4")) > 0);
    EXPECT_EQ(panel.snapshotNote()->toolTip(), QString::fromStdString(dir.file("short.mp4")));
    EXPECT_FALSE(panel.renderStatus()->isVisible());
}
