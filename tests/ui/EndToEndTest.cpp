#include "ui/ContentView.h"

#include "UiTestSupport.h"
#include "audio/PulseTestSupport.h"
#include "ui/ControlPanel.h"

// The whole program on the test sound server: a tone played into the null sink,
// captured as system audio, draws its figure and moves the meters.
TEST(EndToEnd, ATonePlayedIntoTheSinkDrawsItsFigureAndMovesTheMeters)
{
    QTemporaryDir config;
    ScopeSettings settings(std::make_shared<QSettingsStore>(config.filePath("Orvalen.conf")));
    AudioEngine engine;
    ContentView window(engine, settings);
    if (sharedServer().empty() || !showScope(window, window.scopeView()))
        GTEST_SKIP() << "needs the test sound server, an X display and OpenGL 4.3 core";
    ASSERT_EQ(engine.selectedDeviceID(), AudioDeviceInfo::kSystemAudioID) << "the default source";
    TonePlayer tone(sharedServer(), {{440.0, 0.5f}, {440.0, 0.5f}}, "@DEFAULT_SINK@", 15);
    QTest::mouseClick(find<QAbstractButton>(window.controlPanel(), "Start"), Qt::LeftButton);
    ASSERT_TRUE(test::waitFor([&] { return settings.signalDensity() > 0.0f; }, 10000))
        << tone.ok() << engine.isRunning() << engine.lastError().toStdString();

    // One tone on both channels: the rising diagonal through the centre,
    // reaching 0.45 x 0.5 of the smaller side along each axis; waited for, as
    // a loaded server may play a moment of silence (a dot at the centre).
    int lit = 0, onDiagonal = 0, reach = 0;
    double expected = 0;
    test::waitFor([&] {
        const QImage picture = window.scopeView()->grabFramebuffer();  // a widget grab misses the GL child
        const int cx = picture.width() / 2, cy = picture.height() / 2;
        lit = onDiagonal = reach = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (qGreen(picture.pixel(x, y)) >= 80) {  // the background is 0.04 grey
                    ++lit;
                    onDiagonal += std::abs((x - cx) - (cy - y)) < 12;
                    reach = std::max(reach, std::abs(x - cx));
                }
        expected = 0.225 * std::min(picture.width(), picture.height());
        return lit > 100 && std::abs(reach - expected) < expected * 0.2;
    }, 5000);
    ASSERT_GT(lit, 100) << "no beam on screen";
    EXPECT_GT(onDiagonal, lit * 0.95);
    EXPECT_NEAR(reach, expected, expected * 0.2);
}
