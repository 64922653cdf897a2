// The meter schedule on a history filled from plain arrays; once warm, a run
// allocates nothing.

#include "AllocationCounter.h"
#include "analysis/Signals.h"
#include "renderer/MeterSchedule.h"
#include "renderer/SampleHistory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Names = std::vector<std::string>;

// Records every meter callback's name and value, in order.
struct Recorder {
    Names names;
    std::vector<float> values;
    explicit Recorder(MeterSchedule& meters)
    {
        const auto to = [this](const char* name) {
            return [this, name](float v) { names.push_back(name), values.push_back(v); };
        };
        meters.onRhythmAnalysis = to("rhythm"), meters.onPressureAnalysis = to("pressure");
        meters.onDensityAnalysis = to("density"), meters.onCurvatureAnalysis = to("curvature");
        names.reserve(64), values.reserve(64);  // recording allocates nothing either
    }
};

}  // namespace

TEST(MeterSchedule, EverySixthFrameSmoothsTheNewestThreeSecondsOfTheAnalysedChannel)
{
    // Kicks on the right channel for the newest three seconds only.
    auto right = test::noise(26000, 0.5), left = test::noise(170000, 0.5, 2);
    const auto kicks = signals::clickTrain(144000, 48000, 0.5);
    right.insert(right.end(), kicks.begin(), kicks.end());
    SampleHistory history;
    history.append(left.data(), right.data(), 170000);
    MeterSchedule meters;
    Recorder calls(meters);
    RhythmAnalyzer oracle;  // a second analyser on the window the schedule should cut
    float rate = 0, pressure = 0;
    for (int frame = 1; frame <= 24; ++frame) {
        if (frame == 18) {
            ASSERT_GT(meters.smoothedCurvature() * meters.smoothedDensity() * rate * pressure, 0.0f);
            calls.names.clear(), calls.values.clear();
            meters.resetAnalysis();
            EXPECT_EQ(calls.names, (Names{"rhythm", "pressure", "density", "curvature"}));
            EXPECT_EQ(calls.values, std::vector<float>(4, 0.0f));
            EXPECT_EQ(std::pair(meters.smoothedDensity(), meters.smoothedCurvature()), std::pair(0.0f, 0.0f));
            oracle.heldExpansion = rate = pressure = 0;
        }
        const size_t before = calls.names.size();
        const int64_t allocations = allocationCount();
        meters.tick(history, 1, 48000, 2);
        EXPECT_TRUE(frame <= 6 || allocationCount() == allocations) << frame;  // the window is made once
        if (frame % 6 != 0) {
            EXPECT_EQ(calls.names.size(), before) << frame;
            continue;
        }
        const Names run(calls.names.begin() + long(before), calls.names.end());
        EXPECT_EQ(run, (Names{"rhythm", "curvature", "pressure", "density"}));
        rate = 0.7f * oracle.analyze(right.data() + 26000, 144000, 48000) + 0.3f * rate;
        pressure = 0.7f * oracle.analyzeExpansion(right.data() + 26000, 144000, 48000) + 0.3f * pressure;
        EXPECT_FLOAT_EQ(calls.values[before], rate) << frame;
        EXPECT_FLOAT_EQ(meters.smoothedPressure(), pressure) << frame;  // never the adjusted, published value
    }
    MeterSchedule().resetAnalysis();  // with no callbacks set
}

TEST(MeterSchedule, ARunNeedsMoreThanAThousandSamplesAtAUsableRateAndElevenBlocksForTheDensity)
{
    using Case = std::tuple<int64_t, double, size_t>;  // samples held, rate, callbacks made
    for (auto [held, rate, made] : {Case{1000, 48000, 0}, {1001, 48000, 2}, {2639, 48000, 2}, {2640, 48000, 3},
                                    {5000, 0, 0}, {5000, -48000, 0}, {5000, NAN, 0}, {5000, HUGE_VAL, 0},
                                    {5000, 1e300, 2}}) {
        const auto x = signals::clickTrain(held, 48000, 0.5);
        SampleHistory history;
        history.append(x.data(), x.data(), held);
        MeterSchedule meters;
        Recorder calls(meters);
        meters.run(history, 0, rate, 0);
        EXPECT_EQ(calls.names.size(), made) << held << " held at " << rate << " Hz";
    }
}
