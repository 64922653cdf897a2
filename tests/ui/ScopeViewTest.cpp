#include "UiTestSupport.h"
#include "renderer/ScopeRenderer.h"

struct ScopeViewTest : UiWorld {
    std::unique_ptr<ScopeView> view = std::make_unique<ScopeView>(engine, settings);

    void SetUp() override
    {
        view->resize(400, 300);
        if (!showScope(*view, view.get()))
            GTEST_SKIP() << "no X display or no OpenGL 4.3 core context";
    }
};

TEST_F(ScopeViewTest, SettingsReachTheRendererInItsUnitsAndTheFrameRateAtOnce)
{
    startMicrophone();
    settings.setTimePerDivision(10.0f);
    settings.setXyRotation(XYRotation::deg0);
    settings.setDisplayMode(DisplayMode::waveform);
    settings.setDisplayFilterType(FilterType::bandpass);
    settings.setKxScaleMode(KXScaleMode::mix);
    settings.setBeamColorMode(BeamColorMode::blue);
    settings.setTriggerChannel(1);
    settings.setDecay(0.8f);
    test::settle();
    const ScopeRenderer& r = *view->renderer();
    EXPECT_EQ(r.ringBuffer, engine.ringBuffer());
    EXPECT_EQ(std::tuple(r.sampleRate, r.displaySampleCount), std::tuple(44100.0, 4410));  // ten divisions
    EXPECT_EQ(std::tuple(r.displayMode, r.displayFilterType, r.kxScaleMode, r.triggerChannel), std::tuple(1, 3, 2, 1));
    EXPECT_EQ(std::tuple(r.xyRotationAngle, r.decay, r.beamColor),
              std::tuple(0.7853981f, 0.8f, std::array{0.3f, 0.6f, 1.0f}));
    settings.setXyRotation(XYRotation::deg45);
    test::settle();
    EXPECT_EQ(r.xyRotationAngle, 0.0f);
    for (auto [asked, used] : {std::pair<long long, int>{60, 60}, {0, 1}, {-5, 1}, {1'000'000'000, 240}}) {
        settings.setFrameRate(asked);  // not through a queued update
        EXPECT_EQ(view->frameRate(), used) << asked;
    }
}

TEST_F(ScopeViewTest, AnalysisResultsArriveQueuedAndHooksOutliveTheView)
{
    settings.setRhythmMatchRate(0.5f);
    settings.setExpansionPressure(0.6f);
    settings.setSignalDensity(0.7f);
    settings.setEnvelopeCurvature(0.8f);
    settings.onResetAnalysis();  // the renderer reports zeros at once; the settings hear of them later
    EXPECT_EQ(settings.rhythmMatchRate(), 0.5f);
    test::settle();
    EXPECT_EQ(std::tuple(settings.rhythmMatchRate(), settings.expansionPressure(), settings.signalDensity(),
                         settings.envelopeCurvature()), std::tuple(0, 0, 0, 0));
    const auto onRhythm = view->renderer()->onRhythmAnalysis;
    view.reset();  // the hooks it left in the settings now do nothing
    settings.onResetAnalysis();
    settings.setFrameRate(30);
    onRhythm(0.25f);  // the settings still exist: the write still lands
    test::settle();
    EXPECT_EQ(settings.rhythmMatchRate(), 0.25f);
}

TEST_F(ScopeViewTest, FramesStopOnceCaptureIsStoppedAndThePictureHasFaded)
{
    EXPECT_TRUE(view->isAnimating());
    const auto signal = test::sine(120000, 48000.0, 380.0, 0.5);
    engine.ringBuffer()->write(signal.data(), 60000);
    settings.setDecay(0.5f);  // fades within a few frames; the meters (reported every sixth) settle in 60
    settings.setFrameRate(240);
    EXPECT_TRUE(test::waitFor([&] { return settings.signalDensity() > 0.0f; }, 3000));
    EXPECT_TRUE(test::waitFor([&] { return !view->isAnimating(); }, 5000));  // meter writes do not wake it
    settings.setIntensity(5.0f);  // any change does
    test::settle();
    EXPECT_TRUE(view->isAnimating());
}
