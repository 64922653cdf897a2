#include "ui/ScopeView.h"

#include "UiTestSupport.h"
#include "renderer/ScopeRenderer.h"

#include <QSignalSpy>

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A shown scope view with its renderer, or a skip when this machine has no
// OpenGL 4.3 core context (no X display, or an old driver).
struct ScopeViewTest : ::testing::Test {
    UiWorld world;
    ScopeSettings& settings = world.settings;
    std::unique_ptr<ScopeView> view;

    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "no X display: the scope view needs OpenGL 4.3 core";
        view = std::make_unique<ScopeView>(world.engine, world.settings);
        QSignalSpy ready(view.get(), &ScopeView::rendererReady);
        view->resize(400, 300);
        view->show();
        if (!ready.wait(5000) || !ready.front().front().toBool())
            GTEST_SKIP() << "no OpenGL 4.3 core context: the scope area stays empty";
        settle();
    }
    ScopeRenderer& renderer() { return *view->renderer(); }
};

}  // namespace

TEST_F(ScopeViewTest, SettingsReachTheRendererInItsOwnUnits)
{
    EXPECT_EQ(renderer().ringBuffer, world.engine.ringBuffer());
    EXPECT_EQ(renderer().sampleRate, 48000.0);
    EXPECT_EQ(renderer().displaySampleCount, 960);  // 2 ms per division, ten divisions

    settings.setTimePerDivision(10.0f);
    settings.setXyRotation(XYRotation::deg0);
    settings.setDisplayMode(DisplayMode::waveform);
    settings.setDisplayFilterType(FilterType::bandpass);
    settings.setKxScaleMode(KXScaleMode::mix);
    settings.setBeamColorMode(BeamColorMode::blue);
    settings.setDecay(0.8f);
    settings.setTriggerChannel(1);
    settle();
    EXPECT_EQ(renderer().displaySampleCount, 4800);
    EXPECT_FLOAT_EQ(renderer().xyRotationAngle, 0.7853981f);
    EXPECT_EQ(renderer().displayMode, 1);
    EXPECT_EQ(renderer().displayFilterType, 3);
    EXPECT_EQ(renderer().kxScaleMode, 2);
    EXPECT_EQ(renderer().beamColor, (std::array<float, 3>{0.3f, 0.6f, 1.0f}));
    EXPECT_FLOAT_EQ(renderer().decay, 0.8f);
    EXPECT_EQ(renderer().triggerChannel, 1);

    settings.setXyRotation(XYRotation::deg45);
    settle();
    EXPECT_EQ(renderer().xyRotationAngle, 0.0f);
}

TEST_F(ScopeViewTest, FrameRateArrivesThroughTheHookAndIsHeldToASaneRange)
{
    settings.setFrameRate(60);
    EXPECT_EQ(view->frameRate(), 60);  // at once, not through a queued update
    settings.setFrameRate(0);
    EXPECT_EQ(view->frameRate(), ScopeView::kMinFrameRate);
    settings.setFrameRate(-5);
    EXPECT_EQ(view->frameRate(), ScopeView::kMinFrameRate);
    settings.setFrameRate(1'000'000'000);
    EXPECT_EQ(view->frameRate(), ScopeView::kMaxFrameRate);
}

TEST_F(ScopeViewTest, MeterResetZeroesTheSettingsAfterTheQueuedWrites)
{
    settings.setRhythmMatchRate(0.5f);
    settings.setExpansionPressure(0.6f);
    settings.setSignalDensity(0.7f);
    settings.setEnvelopeCurvature(0.8f);
    ASSERT_TRUE(settings.onResetAnalysis);
    settings.onResetAnalysis();
    // Nothing is written inside the call: the writes are queued.
    EXPECT_EQ(settings.rhythmMatchRate(), 0.5f);
    settle();
    EXPECT_EQ(settings.rhythmMatchRate(), 0.0f);
    EXPECT_EQ(settings.expansionPressure(), 0.0f);
    EXPECT_EQ(settings.signalDensity(), 0.0f);
    EXPECT_EQ(settings.envelopeCurvature(), 0.0f);
}

TEST_F(ScopeViewTest, CallbacksOutliveNeitherViewNorSettings)
{
    auto onRhythm = renderer().onRhythmAnalysis;
    view.reset();  // renderer gone; the hooks left in the settings do nothing
    ASSERT_TRUE(settings.onResetAnalysis);
    settings.onResetAnalysis();
    settings.setFrameRate(30);
    onRhythm(0.25f);  // the settings still exist: the write still lands
    settle();
    EXPECT_EQ(settings.rhythmMatchRate(), 0.25f);
}

TEST_F(ScopeViewTest, FramesStopOnceCaptureIsStoppedAndThePictureHasFaded)
{
    EXPECT_TRUE(view->isAnimating());
    // Two seconds of signal in the ring: the analysis then reports every sixth
    // frame, and its meter writes must not keep the resting scope awake.
    std::vector<float> frames(2 * 96000);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = 0.5f * static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
    world.engine.ringBuffer()->write(frames.data(), 60000);
    settings.setDecay(0.5f);  // fades within a few frames; the meters settle in 60
    settings.setFrameRate(240);
    EXPECT_TRUE(waitFor([&] { return settings.signalDensity() > 0.0f; }, 3000));
    EXPECT_TRUE(waitFor([&] { return !view->isAnimating(); }, 5000));
    settings.setIntensity(5.0f);  // any change wakes it
    settle();
    EXPECT_TRUE(view->isAnimating());
}
