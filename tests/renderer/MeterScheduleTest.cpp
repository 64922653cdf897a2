// The meters: when the analysis runs, what window it sees, how the values
// are smoothed and adjusted, and what the callbacks receive.

#include "analysis/Signals.h"
#include "renderer/CoreProbe.h"
#include "renderer/MeterMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

constexpr double kRate = 48000.0;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Every callback appends "<name>=<value>" to calls.
struct Recorder {
    std::vector<std::string> names;
    std::vector<float> values;

    void attach(ScopeFrameCore& core)
    {
        core.onRhythmAnalysis = [this](float v) { record("rhythm", v); };
        core.onPressureAnalysis = [this](float v) { record("pressure", v); };
        core.onDensityAnalysis = [this](float v) { record("density", v); };
        core.onCurvatureAnalysis = [this](float v) { record("curvature", v); };
    }
    void record(const char* name, float v)
    {
        names.emplace_back(name);
        values.push_back(v);
    }
    float last(const std::string& name) const
    {
        for (size_t i = names.size(); i-- > 0;)
            if (names[i] == name)
                return values[i];
        return kNaN;
    }
    void clear()
    {
        names.clear();
        values.clear();
    }
};

// 240-sample blocks (5 ms at 48 kHz): loud (a 1 kHz tone at 0.8) where
// loud(b), silent elsewhere.
std::vector<float> blocks(int64_t count, const std::function<bool(int64_t)>& loud)
{
    return samples(count, [&](int64_t i) {
        return loud(i / 240) ? 0.8f * std::sin(2.0f * 3.14159265f * 1000.0f * float(i) / 48000.0f) : 0.0f;
    });
}

// A kick every half second: every analyser finds something in it.
std::vector<float> pulsing(int64_t count) { return signals::clickTrain(count, kRate, 0.5); }

}  // namespace

TEST(MeterSchedule, RunsOnEverySixthFrameWithOrWithoutNewSamples)
{
    CoreProbe core;
    Recorder calls;
    calls.attach(core);
    core.fill(pulsing(48000));
    std::vector<int> runs;
    for (int frame = 1; frame <= 18; ++frame) {
        if (frame == 7)
            core.ringBuffer.reset();  // samples stop arriving: the meters go on
        calls.clear();
        core.drainAndTick();
        if (!calls.names.empty())
            runs.push_back(frame);
        EXPECT_EQ(core.analysisFrameCounter, frame % 6);
    }
    EXPECT_EQ(runs, (std::vector<int>{6, 12, 18}));
}

TEST(MeterSchedule, NeedsMoreThanAThousandSamplesAndElevenBlocksForDensity)
{
    const auto x = pulsing(3000);
    for (auto [held, expected] : {std::pair<int64_t, std::vector<std::string>>{1000, {}},
                                  {1001, {"rhythm", "pressure"}},
                                  {2639, {"rhythm", "pressure"}},
                                  {2640, {"rhythm", "pressure", "density"}}}) {
        CoreProbe core;
        Recorder calls;
        calls.attach(core);
        core.fill({x.begin(), x.begin() + held});
        core.runRhythmAnalysis();
        EXPECT_EQ(calls.names, expected) << held;
    }
}

TEST(MeterSchedule, AnalysesTheNewestThreeSecondsOfTheTriggerChannel)
{
    // 300000 samples: all loud except the newest three seconds (600 blocks),
    // where exactly 60 blocks are loud. Density 0.1 proves the window.
    const int64_t total = 300000;
    const int64_t windowStart = total - 144000;
    const auto loud = blocks(total, [&](int64_t b) {
        return b * 240 < windowStart || (b - windowStart / 240) % 10 == 0;
    });
    const std::vector<float> silent(total, 0.0f);

    CoreProbe core;
    Recorder calls;
    calls.attach(core);
    core.fill(loud, silent);
    core.runRhythmAnalysis();
    EXPECT_EQ(core.analysisBufferSize, 144000);
    EXPECT_FLOAT_EQ(calls.last("density"), 0.7f * 0.1f);

    // The right channel is silent: a density of 0 enters the smoothing.
    core.triggerChannel = 1;
    core.runRhythmAnalysis();
    EXPECT_FLOAT_EQ(calls.last("density"), 0.3f * 0.7f * 0.1f);
}

TEST(MeterSchedule, SmoothingStartsFromZeroAndResetAnnouncesZeros)
{
    const auto x = pulsing(96000);
    RhythmAnalyzer oracle;
    const float r = oracle.analyze(x.data(), 96000, kRate);
    ASSERT_GT(r, 0.0f);

    CoreProbe core;
    Recorder calls;
    calls.attach(core);
    core.fill(x);
    core.runRhythmAnalysis();
    EXPECT_FLOAT_EQ(calls.last("rhythm"), 0.7f * r);
    core.runRhythmAnalysis();
    EXPECT_FLOAT_EQ(calls.last("rhythm"), 0.7f * r + 0.3f * (0.7f * r));
    ASSERT_GT(core.smoothedDensity, 0.0f);
    ASSERT_GT(core.smoothedPressure, 0.0f);

    calls.clear();
    core.resetAnalysis();
    EXPECT_EQ(calls.names, (std::vector<std::string>{"rhythm", "pressure", "density", "curvature"}));
    EXPECT_EQ(calls.values, (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(core.smoothedRate, 0.0f);
    EXPECT_EQ(core.smoothedPressure, 0.0f);
    EXPECT_EQ(core.smoothedDensity, 0.0f);
    EXPECT_EQ(core.smoothedCurvature, 0.0f);

    core.runRhythmAnalysis();
    EXPECT_FLOAT_EQ(calls.last("rhythm"), 0.7f * r);

    // Without callbacks the reset still zeroes everything.
    CoreProbe bare;
    bare.smoothedRate = 0.5f;
    bare.resetAnalysis();
    EXPECT_EQ(bare.smoothedRate, 0.0f);
}

TEST(MeterSchedule, CurvatureOnlyInMixAndInItsPlaceInTheOrder)
{
    CoreProbe core;
    Recorder calls;
    calls.attach(core);
    core.fill(pulsing(96000));
    core.kxScaleMode = 2;
    core.runRhythmAnalysis();
    EXPECT_EQ(calls.names, (std::vector<std::string>{"rhythm", "curvature", "pressure", "density"}));
    const float curvature = core.smoothedCurvature;

    calls.clear();
    core.kxScaleMode = 1;  // ROCK: curvature frozen, no callback
    core.runRhythmAnalysis();
    EXPECT_EQ(calls.names, (std::vector<std::string>{"rhythm", "pressure", "density"}));
    EXPECT_EQ(core.smoothedCurvature, curvature);
}

TEST(MeterSchedule, PublishedPressureIsClampedButTheStateIsNot)
{
    // A silent window gives 0 from every analyser, so one run leaves
    // exactly 0.3 x the seeded values: smoothedRate 0.2, smoothedPressure 0.05.
    CoreProbe core;
    Recorder calls;
    calls.attach(core);
    core.fill(std::vector<float>(48000, 0.0f));
    core.smoothedRate = 0.2f / 0.3f;
    core.smoothedPressure = 0.05f / 0.3f;
    core.runRhythmAnalysis();
    EXPECT_FLOAT_EQ(core.smoothedRate, 0.2f);
    EXPECT_FLOAT_EQ(core.smoothedPressure, 0.05f);
    EXPECT_EQ(calls.last("pressure"), 0.0f);
    EXPECT_EQ(calls.last("density"), 0.0f);
}

TEST(MeterSchedule, UnusableSampleRatesSkipTheRun)
{
    for (double rate : {0.0, -48000.0, double(kNaN), std::numeric_limits<double>::infinity()}) {
        CoreProbe core;
        Recorder calls;
        calls.attach(core);
        core.fill(pulsing(5000));
        core.sampleRate = rate;
        core.runRhythmAnalysis();
        EXPECT_TRUE(calls.names.empty()) << rate;
    }
    // An absurdly high rate still analyses (the window is all there is) but
    // has no room for density blocks.
    CoreProbe core;
    Recorder calls;
    calls.attach(core);
    core.fill(pulsing(5000));
    core.sampleRate = 1e300;
    core.runRhythmAnalysis();
    EXPECT_EQ(calls.names, (std::vector<std::string>{"rhythm", "pressure"}));
}

TEST(MeterMath, RhythmAdjustment)
{
    using meter::rhythmAdjustment;
    EXPECT_FLOAT_EQ(rhythmAdjustment(0.3f, 0), -0.1f);
    EXPECT_FLOAT_EQ(rhythmAdjustment(0.4f, 0), -0.1f);
    EXPECT_NEAR(rhythmAdjustment(0.475f, 0), -0.065f, 1e-6f);
    EXPECT_NEAR(rhythmAdjustment(0.55f, 1), -0.03f, 1e-6f);
    EXPECT_EQ(rhythmAdjustment(0.5501f, 0), 0.0f);  // the jump just above 0.55
    EXPECT_EQ(rhythmAdjustment(0.7f, 0), 0.0f);
    EXPECT_EQ(rhythmAdjustment(0.8f, 0), 0.0f);
    EXPECT_NEAR(rhythmAdjustment(0.99f, 0), 0.03f, 1e-6f);
    EXPECT_NEAR(rhythmAdjustment(0.99f, 1), 0.03f, 1e-6f);
    EXPECT_EQ(rhythmAdjustment(0.99f, 2), 0.0f);
}

TEST(MeterMath, CurvatureAdjustmentAndClamping)
{
    using meter::curvatureAdjustment;
    EXPECT_NEAR(curvatureAdjustment(0.40f), -0.0625f, 1e-5f);
    EXPECT_NEAR(curvatureAdjustment(0.38f), -0.25f, 1e-6f);  // t is 1 to float precision
    EXPECT_FLOAT_EQ(curvatureAdjustment(0.1f), -0.25f);
    EXPECT_EQ(curvatureAdjustment(0.42f), 0.0f);
    EXPECT_EQ(curvatureAdjustment(0.9f), 0.0f);

    EXPECT_EQ(meter::publishedPressure(0.05f, -0.1f, 0.0f), 0.0f);
    EXPECT_EQ(meter::publishedPressure(0.99f, 0.03f, 0.0f), 1.0f);
    EXPECT_FLOAT_EQ(meter::publishedPressure(0.5f, -0.065f, -0.0625f), 0.3725f);
    EXPECT_EQ(meter::publishedPressure(kNaN, 0.0f, 0.0f), 0.0f);
}

TEST(MeterMath, DensityCountsLoudBlocks)
{
    std::vector<float> scratch(64);
    const auto signalDensity = [&](const float* w, int64_t n, double rate) {
        return meter::signalDensity(w, n, rate, scratch.data());
    };
    // 11 blocks of 240, 3 loud: 3 / 11; the loud partial block after them
    // is ignored; ten and a half blocks are too few.
    const auto x = blocks(2700, [](int64_t b) { return b == 0 || b == 4 || b == 10 || b == 11; });
    EXPECT_FLOAT_EQ(*signalDensity(x.data(), 2640, kRate), 3.0f / 11.0f);
    EXPECT_FLOAT_EQ(*signalDensity(x.data(), 2700, kRate), 3.0f / 11.0f);
    EXPECT_FALSE(signalDensity(x.data(), 2639, kRate));
    // Quiet blocks at 4 % of the peak do not count; at 6 % they do.
    auto y = x;
    for (size_t i = 240; i < 480; ++i)
        y[i] = 0.04f * 0.8f;
    EXPECT_FLOAT_EQ(*signalDensity(y.data(), 2640, kRate), 3.0f / 11.0f);
    for (size_t i = 240; i < 480; ++i)
        y[i] = 0.06f * 0.8f;
    EXPECT_FLOAT_EQ(*signalDensity(y.data(), 2640, kRate), 4.0f / 11.0f);
    // Silence is density 0; low rates use 64-sample blocks.
    const std::vector<float> silence(2640, 0.0f);
    EXPECT_EQ(*signalDensity(silence.data(), 2640, kRate), 0.0f);
    EXPECT_FALSE(signalDensity(x.data(), 703, 8000.0));  // 10 blocks of 64
    EXPECT_TRUE(signalDensity(x.data(), 704, 8000.0));
    // NaN samples are neither peak nor loud.
    y = x;
    y[5] = kNaN;
    EXPECT_FLOAT_EQ(*signalDensity(y.data(), 2640, kRate), 2.0f / 11.0f);
}

TEST(MeterMath, AnalysisWindowLength)
{
    EXPECT_EQ(meter::analysisWindowLength(48000.0, 393216), 144000);
    EXPECT_EQ(meter::analysisWindowLength(48000.0, 5000), 5000);
    EXPECT_EQ(meter::analysisWindowLength(44100.7, 393216), 132302);
    EXPECT_EQ(meter::analysisWindowLength(1e300, 393216), 393216);
    EXPECT_EQ(meter::analysisWindowLength(double(kNaN), 393216), 0);
    EXPECT_EQ(meter::analysisWindowLength(-1.0, 393216), 0);
}
