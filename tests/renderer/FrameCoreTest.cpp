// The frame's CPU half: the drain into the history, the triggered waveform
// window, the display filter and the meter schedule, none of which allocates
// once warm.

#include "AllocationCounter.h"
#include "analysis/Signals.h"
#include "renderer/BeamModel.h"
#include "renderer/CoreProbe.h"
#include "renderer/MeterMath.h"
#include "renderer/ShaderParams.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

namespace {

constexpr int64_t C = ScopeFrameCore::historyCapacity;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
using Names = std::vector<std::string>;

// Records every meter callback's name and value, in order.
struct Recorder {
    Names names;
    std::vector<float> values;
    explicit Recorder(ScopeFrameCore& core)
    {
        const auto to = [this](const char* name) {
            return [this, name](float v) { names.push_back(name), values.push_back(v); };
        };
        core.onRhythmAnalysis = to("rhythm"), core.onPressureAnalysis = to("pressure");
        core.onDensityAnalysis = to("density"), core.onCurvatureAnalysis = to("curvature");
        names.reserve(64), values.reserve(64);  // recording allocates nothing either
    }
};

}  // namespace

TEST(History, DrainsAScratchPerFrameAndKeepsTheNewestAcrossTheWrap)
{
    CoreProbe core;
    core.write(test::ramp(20000), test::ramp(20000, 1e6f));
    const std::vector<int64_t> drained{core.drainAndTick(), core.drainAndTick(), core.drainAndTick()};
    EXPECT_EQ(drained, (std::vector<int64_t>{16384, 3616, 0}));  // the rest on the next frame
    EXPECT_EQ(core.newest(20000), test::ramp(20000));
    EXPECT_EQ(core.newest(20000, true), test::ramp(20000, 1e6f));
    core.fill(test::ramp(C - 20000, 20000.0f));
    EXPECT_EQ(core.historyWritePos, 0);  // exactly full
    core.fill(test::ramp(100, float(C)));
    EXPECT_EQ(std::pair(core.historyWritePos, core.historyCount), std::pair(int64_t(100), C));
    EXPECT_EQ(core.newest(C), test::ramp(C, 100.0f));
}

TEST(Trigger, TheWindowStartsAtTheOldestRisingCrossingThatLeavesItFull)
{
    // name, left, right, displaySampleCount, trigger (history index; none: the newest are shown), level, channel, on
    using Samples = std::vector<float>;
    using Case = std::tuple<const char*, Samples, Samples, int64_t, std::optional<int64_t>, float, int, bool>;
    const auto marked = [](int64_t count, float base, float mark, std::initializer_list<int64_t> at) {
        std::vector<float> v(size_t(count), base);
        for (int64_t i : at)
            v[size_t(i)] = mark;
        return v;
    };
    // Crossings at 5, 13, 18 and 25 of 30: with m = 10 the candidates are
    // indices 11 ... 20, distances 19 ... 10 back from the write position.
    const auto crossings = marked(30, -1, 0.5f, {5, 13, 18, 25}), atLevel = marked(30, 0, 0.25f, {10, 11, 15});
    const auto withNaN = [&] { auto v = atLevel; v[14] = kNaN; return v; }();
    const auto rising = [&](int64_t after) { return marked(15, 1, -1, {after}); };  // an edge at after + 1
    const auto sine = test::sine(400, 48000, 500, 0.9), wrapped = marked(C + 6, -1, 1, {C - 3});
    const auto ramp = test::ramp(40), spike = marked(40, -1, 1, {22}), longer = test::ramp(70000);
    const std::vector<Case> cases = {
        Case{"the oldest crossing that leaves m samples", crossings, crossings, 10, 13, 0.0f, 0, true},
        {"trigger off: free running", crossings, crossings, 10, std::nullopt, 0.0f, 0, false},
        {"at the level after below it, not after the level", atLevel, atLevel, 10, 15, 0.25f, 0, true},
        {"a NaN takes part in no crossing", withNaN, withNaN, 10, std::nullopt, 0.25f, 0, true},
        {"a peak below the level", sine, sine, 100, std::nullopt, 1.0f, 0, true},
        {"fewer samples than asked: all of them", rising(3), rising(3), 4800, std::nullopt, 0.0f, 0, true},
        {"the oldest sample precedes the oldest candidate", rising(0), rising(0), 10, 1, 0.0f, 0, true},
        {"a crossing m back is a candidate", rising(4), rising(4), 10, 5, 0.0f, 0, true},
        {"one nearer is not", rising(5), rising(5), 10, std::nullopt, 0.0f, 0, true},
        {"the right channel decides for both", ramp, spike, 10, 22, 0.0f, 1, true},
        {"the left one ignores the right's crossing", ramp, spike, 10, std::nullopt, 0.0f, 0, true},
        {"across the wrap of the history", wrapped, wrapped, 5, C - 3, 0.0f, 0, true},
        {"no longer than the GPU buffers", longer, longer, 100000, std::nullopt, 0.0f, 0, true},
        {"none asked, none shown", longer, longer, 0, std::nullopt, 0.0f, 0, true},
        {"nor for less", longer, longer, std::numeric_limits<int64_t>::min(), std::nullopt, 0.0f, 0, true},
        {"nothing without a history", {}, {}, 4800, std::nullopt, 0.0f, 0, true},
    };
    for (const auto& [name, left, right, asked, trigger, level, channel, enabled] : cases) {
        SCOPED_TRACE(name);
        CoreProbe core;
        core.fill(left, right);
        core.triggerLevel = level, core.triggerChannel = channel, core.triggerEnabled = enabled;
        core.displaySampleCount = asked;
        const int64_t held = int64_t(left.size()), m = std::clamp<int64_t>(std::min(asked, held), 0, 65536);
        EXPECT_EQ(core.findTriggerPoint(m), trigger);
        ASSERT_EQ(core.prepareWaveformData(), m);
        const int64_t from = trigger.value_or(held - m);  // a history index is an index into left here
        EXPECT_TRUE(test::sameBits(values(core.waveformLeftData(), m), slice(left, from, m)));
        EXPECT_TRUE(test::sameBits(values(core.waveformRightData(), m), slice(right, from, m)));
    }
}

TEST(DisplayFilter, EachWaveformWindowStartsOverFromTheSamplesBeforeIt)
{
    using Case = std::tuple<int64_t, int64_t, FilterType, int64_t>;  // held, type index, type, warm-up length
    using enum FilterType;
    for (auto [held, index, type, warmUp] : {Case{5000, 1, lowpass, 512}, {1300, 2, highpass, 300},
             {1000, 2, highpass, 0}, {3000, 7, bandpass, 512}, {3000, 0, off, 0}, {3000, -1, off, 0}}) {
        SCOPED_TRACE(testing::Message() << "type " << index << ", " << held << " held");
        // What the filter should make of the window: from rest, over the samples before it first.
        const auto filtered = [held = held, type = type, warmUp = warmUp](const std::vector<float>& x) {
            auto warm = slice(x, held - 1000 - warmUp, warmUp), window = slice(x, held - 1000, 1000);
            BiquadFilter f;
            f.updateCoefficients(type, 500, 48000.0);
            f.process(warm.data(), warmUp);
            f.process(window.data(), 1000);
            return window;
        };
        const auto left = test::noise(held, 0.8, 1), right = test::noise(held, 0.8, 2);
        CoreProbe core;
        core.fill(left, right);
        core.triggerEnabled = false, core.displayFilterType = index, core.displayFilterFrequency = 500.0f;
        core.displaySampleCount = 1000;
        core.displayFilter.left.z1 = core.displayFilter.right.z1 = 0.125f;  // as XY frames may leave it
        for (int frame = 0; frame < 2; ++frame) {
            const int64_t allocations = allocationCount();  // every operator new in this binary
            ASSERT_EQ(core.prepareWaveformData(), 1000);
            EXPECT_EQ(allocationCount(), allocations);
            for (auto [got, x] : {std::pair{core.waveformLeftData(), &left}, {core.waveformRightData(), &right}})
                EXPECT_EQ(values(got, 1000), filtered(*x));
        }
        EXPECT_TRUE(type != off || core.displayFilter.left.z1 == 0.125f);  // off touches no state
        EXPECT_EQ(core.newest(held, true), right);  // the history stays unfiltered
    }
}

TEST(DisplayFilter, XYFramesFilterOneStreamThatRecoversFromNaNOnBothChannels)
{
    // A NaN sample or frequency must not stay in the state and blank the picture: the next block starts from rest.
    enum Poison { none, samples, frequency };
    using Case = std::tuple<int64_t, FilterType, Poison>;
    using enum FilterType;
    for (auto [index, type, poison] : {Case{1, lowpass, none}, {7, bandpass, none}, {0, off, none}, {-1, off, none},
                                       {3, bandpass, samples}, {3, bandpass, frequency}}) {
        SCOPED_TRACE(testing::Message() << "type " << index << ", poison " << poison);
        auto left = test::noise(3000, 0.8, 3), right = test::noise(3000, 0.8, 4);
        if (poison == samples)
            left[500] = right[700] = kNaN;
        CoreProbe core;
        core.displayFilterType = index;
        BiquadFilter l, r;  // the expected stream
        for (int64_t start : {0, 1000, 2000}) {
            // A new frequency takes effect with its block, with no restart.
            const float hz = start == 0 && poison == frequency ? kNaN : start < 2000 ? 2000.0f : 300.0f;
            core.displayFilterFrequency = hz;
            core.write(slice(left, start, 1000), slice(right, start, 1000));
            const int64_t allocations = allocationCount();
            core.applyDisplayFilterXY(core.paceXY(core.drainAndTick()));
            EXPECT_EQ(allocationCount(), allocations);
            for (auto [f, x, drawn] :
                 {std::tuple{&l, &left, core.filteredLeftData()}, {&r, &right, core.filteredRightData()}}) {
                auto expected = slice(*x, start, 1000);
                f->updateCoefficients(type, hz, 48000.0);
                f->process(expected.data(), 1000);
                EXPECT_TRUE((poison != none && start == 0) || values(drawn, 1000) == expected) << start;
                if (poison != none && start == 0)
                    f->z1 = f->z2 = 0.0f;
            }
        }
        EXPECT_TRUE(test::sameBits(core.newest(3000), left));  // the analysers see raw samples
    }
}

// PipeWire hands over 2048 frames every 43 ms, one block per five 8.3 ms
// frames: each frame draws its share, in order and at most about a block
// late, instead of the whole block at once and nothing in the next four. A
// late frame (three blocks) draws the excess at once; the pace follows when
// blocks come twice as often.
TEST(XYPacing, BlocksSpanningFramesAreDrawnInSharesInOrder)
{
    CoreProbe core;
    float written = 0, drawn = 0;
    for (int frame = 0; frame < 260; ++frame) {
        const int blocks = frame < 100 ? frame % 5 == 0 : frame == 100 ? 3 : frame * 2 / 5 != (frame - 1) * 2 / 5;
        for (int b = 0; b < blocks; ++b, written += 2048)
            core.write(test::ramp(2048, written), test::ramp(2048, written));
        const int64_t n = core.paceXY(core.drainAndTick());
        core.applyDisplayFilterXY(n);
        ASSERT_EQ(values(core.filteredLeftData(), n), test::ramp(n, drawn)) << frame;
        drawn += float(n);
        EXPECT_TRUE(frame > 0 || n == 2048);  // a lone block at once
        EXPECT_TRUE(frame != 100 || n >= 1024) << n;
        if (const double pace = frame < 100 ? 409.6 : 819.2; (frame >= 50 && frame < 100) || frame >= 160) {
            EXPECT_NEAR(double(n), pace, pace / 6) << frame;
            EXPECT_TRUE(written - drawn >= pace / 4 && written - drawn <= 2 * 2048) << frame;  // never runs dry
        }
    }
    core.dropXYBacklog();
    EXPECT_EQ(core.paceXY(0), 0);
    CoreProbe flood;  // quiet, then a full scratch every frame: never more than the scratch holds
    for (int frame = 0; frame < 140; ++frame)
        ASSERT_LE(flood.paceXY(frame < 40 ? 400 : ScopeFrameCore::scratchSize), ScopeFrameCore::scratchSize) << frame;
}

TEST(MeterSchedule, EverySixthFrameSmoothsTheNewestThreeSecondsOfTheTriggerChannel)
{
    // Kicks on the right channel for the newest three seconds only.
    auto right = test::noise(26000, 0.5), left = test::noise(170000, 0.5, 2);
    const auto kicks = signals::clickTrain(144000, 48000, 0.5);
    right.insert(right.end(), kicks.begin(), kicks.end());
    CoreProbe core;
    Recorder calls(core);
    core.fill(left, right);
    core.triggerChannel = 1, core.kxScaleMode = 2;
    RhythmAnalyzer oracle;  // a second analyser on the window the frame should cut
    float rate = 0, pressure = 0;
    for (int frame = 1; frame <= 24; ++frame) {
        if (frame == 7)
            core.ringBuffer.reset();  // no source any more: nothing drained, the meters go on
        if (frame == 18) {
            ASSERT_GT(core.smoothedCurvature * core.smoothedDensity * rate * pressure, 0.0f);
            calls.names.clear(), calls.values.clear();
            core.resetAnalysis();
            EXPECT_EQ(calls.names, (Names{"rhythm", "pressure", "density", "curvature"}));
            EXPECT_EQ(calls.values, std::vector<float>(4, 0.0f));
            EXPECT_EQ(std::pair(core.smoothedDensity, core.smoothedCurvature), std::pair(0.0f, 0.0f));
            oracle.heldExpansion = rate = pressure = 0;
        }
        const size_t before = calls.names.size();
        const int64_t allocations = allocationCount();
        EXPECT_EQ(core.drainAndTick(), 0);
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
        EXPECT_FLOAT_EQ(core.smoothedPressure, pressure) << frame;  // never the adjusted, published value
    }
    CoreProbe().resetAnalysis();  // with no callbacks set
}

TEST(MeterSchedule, ARunNeedsMoreThanAThousandSamplesAtAUsableRateAndElevenBlocksForTheDensity)
{
    using Case = std::tuple<int64_t, double, size_t>;  // samples held, rate, callbacks made
    for (auto [held, rate, made] : {Case{1000, 48000, 0}, {1001, 48000, 2}, {2639, 48000, 2}, {2640, 48000, 3},
                                    {5000, 0, 0}, {5000, -48000, 0}, {5000, kNaN, 0}, {5000, HUGE_VAL, 0},
                                    {5000, 1e300, 2}}) {
        CoreProbe core;
        Recorder calls(core);
        core.fill(signals::clickTrain(held, 48000, 0.5));
        core.sampleRate = rate;
        core.runRhythmAnalysis();
        EXPECT_EQ(calls.names.size(), made) << held << " held at " << rate << " Hz";
    }
}

TEST(MeterMath, AdjustmentsAndTheDensityBlocks)
{
    using Rhythm = std::tuple<float, int64_t, float>;  // smoothed rate, KX scale mode, adjustment
    for (auto [r, mode, expected] : {Rhythm{0.3f, 0, -0.1f}, {0.4f, 0, -0.1f}, {0.475f, 0, -0.065f}, {0.55f, 1, -0.03f},
                                     {0.5501f, 0, 0}, {0.8f, 0, 0}, {0.99f, 1, 0.03f}, {0.99f, 2, 0}})
        EXPECT_NEAR(meter::rhythmAdjustment(r, mode), expected, 1e-6f) << r << " in mode " << mode;
    for (auto [c, expected] : {std::pair{0.40f, -0.0625f}, {0.38f, -0.25f}, {0.1f, -0.25f}, {0.42f, 0.0f}})
        EXPECT_NEAR(meter::curvatureAdjustment(c), expected, 1e-5f) << c;
    for (auto [p, expected] : {std::pair{-0.05f, 0.0f}, {1.02f, 1.0f}, {0.3725f, 0.3725f}, {kNaN, 0.0f}})
        EXPECT_EQ(meter::publishedPressure(p, 0.0f, 0.0f), expected) << p;
    std::vector<float> tone = test::sine(704, 8000, 1000, 0.8), scratch(64);  // at 8 kHz, blocks of 64 samples
    EXPECT_FALSE(meter::signalDensity(tone.data(), 703, 8000, scratch.data()));  // ten and a bit blocks
    EXPECT_EQ(meter::signalDensity(tone.data(), 704, 8000, scratch.data()), 1.0f);
}

TEST(LightBound, FramesToFadeAreTheFewestThatTakeTheBrightestLightOutOfSight)
{
    for (float x = 1; x < 2; x += 0x1p-10f) {  // one fade as the half-float picture stores it: 11 bits, to nearest
        int e;
        const float mantissa = std::frexp(x * 0.92f, &e), stored = std::ldexp(std::nearbyint(mantissa * 2048), e - 11);
        ASSERT_LE(stored, double(x) * beam::fadeBound(0.92f)) << x;
    }
    for (float decay : {0.5f, 0.92f, 0.99f, 1.0f}) {
        const double factor = beam::fadeBound(decay), n = double(beam::framesToFade(decay));
        const double left = beam::kMaxTexel * std::pow(factor, n - 1);  // after all fades but the last
        EXPECT_TRUE(factor < 1 ? left > beam::invisibleLight() && left * factor <= beam::invisibleLight()
                               : n == beam::kMaxFadeFrames) << decay;
    }
}

TEST(ParameterBlocks, LightShapeAndTurnAreMadeFinite)
{
    const float inf = std::numeric_limits<float>::infinity();
    const BeamParams b = makeBeamParams({kNaN, kNaN, inf, {kNaN, -1.0f, inf}, inf, kNaN, inf}, 2, 1, 1);
    for (float v : {b.intensity, b.beamWidth, b.speedSensitivity, b.colorRed, b.colorGreen, b.colorBlue,
                    b.xyRotationAngle})
        EXPECT_TRUE(std::isfinite(v) && v >= 0.0f) << v;
}
