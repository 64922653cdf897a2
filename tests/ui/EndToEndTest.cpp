// The whole program against the test PulseAudio daemon: a tone played into
// the null sink, the app capturing system audio, the beam on screen.
#include "ui/ContentView.h"

#include "UiTestSupport.h"
#include "audio/PulseTestSupport.h"
#include "settings/PreferencesStore.h"
#include "ui/ControlPanel.h"
#include "ui/ScopeView.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

TEST(EndToEnd, ATonePlayedIntoTheSinkDrawsItsFigureAndMovesTheMeters)
{
    if (sharedServer().empty())
        GTEST_SKIP() << "no PulseAudio server (PULSE_SERVER unset)";
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "no X display for the scope's OpenGL window";

    QTemporaryDir config;
    ScopeSettings settings(std::make_shared<QSettingsStore>(config.filePath("Orvalen.conf")));
    AudioEngine engine;
    ContentView window(engine, settings);
    QSignalSpy ready(window.scopeView(), &ScopeView::rendererReady);
    window.show();
    if (!ready.wait(5000) || !ready.front().front().toBool())
        GTEST_SKIP() << "no OpenGL 4.3 core context";
    ASSERT_EQ(engine.selectedDeviceID(), 0xFFFFFFFFu) << "System Audio is the default source";

    // The same tone on both channels: in the default orientation the beam is
    // the rising diagonal through the centre, reaching 0.45 x 0.5 of the
    // smaller side along each axis.
    TonePlayer tone(sharedServer(), 440.0, 0.5f, 440.0, 0.5f, 15);
    ASSERT_TRUE(tone.ok());
    QTest::mouseClick(window.controlPanel()->startStopButton(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return engine.isRunning(); }, 5000)) << engine.lastError().toStdString();
    ASSERT_TRUE(waitFor([&] { return settings.signalDensity() > 0.0f; }, 8000));
    EXPECT_GT(settings.expansionPressure() + settings.rhythmMatchRate() + settings.signalDensity(), 0.0f);

    // A widget grab cannot see the native GL child: read its framebuffer.
    const QImage picture = window.scopeView()->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(picture.isNull());
    const double cx = picture.width() / 2.0, cy = picture.height() / 2.0;
    int lit = 0, onDiagonal = 0;
    double reach = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            if (qGreen(picture.pixel(x, y)) < 80)  // background is 0.04 grey
                continue;
            ++lit;
            const double dx = x - cx, dy = cy - y;  // y up
            if (std::fabs(dx - dy) < 12)
                ++onDiagonal;
            reach = std::max(reach, std::fabs(dx));
        }
    ASSERT_GT(lit, 100) << "no beam on screen";
    EXPECT_GT(onDiagonal, lit * 0.95);
    const double expected = 0.225 * std::min(picture.width(), picture.height());
    EXPECT_NEAR(reach, expected, expected * 0.2);

    window.controlPanel()->startStopButton()->click();
    EXPECT_FALSE(engine.isRunning());
}
