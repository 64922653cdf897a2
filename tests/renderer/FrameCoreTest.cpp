// The frame's CPU half: the drain into the history, the triggered waveform
// window and the display filter, none of which allocates once warm.

#include "AllocationCounter.h"
#include "analysis/CorrelationMeter.h"
#include "analysis/Signals.h"
#include "renderer/BeamModel.h"
#include "renderer/CoreFeed.h"
#include "renderer/MeterMath.h"
#include "renderer/ShaderParams.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <optional>

namespace {

constexpr int64_t C = SampleHistory::capacity;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

}  // namespace

TEST(FrameCore, DrainsAScratchPerFrameTicksTheMetersWithoutASourceAndDrawsXYOldestFirst)
{
    const auto left = test::noise(20000, 0.5), right = signals::clickTrain(20000, 44100, 0.5);
    ScopeFrameCore core;
    core.triggerChannel = 1, core.sampleRate = 44100, core.kxScaleMode = 2;
    write(core, left, right);
    const std::vector<int64_t> drained{core.drainAndTick(), core.drainAndTick(), core.drainAndTick()};
    EXPECT_EQ(drained, (std::vector<int64_t>{16384, 3616, 0}));  // the rest on the next frame
    core.triggerEnabled = false, core.displaySampleCount = 20000;
    ASSERT_EQ(core.prepareWaveformData(), 20000);
    EXPECT_EQ(values(core.waveformRightData(), 20000), right);
    std::vector<float> got, want;
    core.meters().onPressureAnalysis = core.meters().onDensityAnalysis = [&got](float v) { got.push_back(v); };
    core.ringBuffer.reset();  // no source any more: nothing drained, the meters go on
    for (int frame = 4; frame <= 6; ++frame)
        EXPECT_EQ(core.drainAndTick(), 0);
    SampleHistory same;
    same.append(left.data(), right.data(), 20000);
    MeterSchedule oracle;
    oracle.onPressureAnalysis = oracle.onDensityAnalysis = [&want](float v) { want.push_back(v); };
    oracle.run(same, 1, 44100, 2);
    EXPECT_EQ(got, want);  // one run on the sixth frame, on the trigger channel at the core's rate and scale

    // A block, a frame without one, the next block: the pace (1365 of 2048)
    // takes the oldest of the second block, not its newest. Unpaced (a video
    // render), the frame draws the whole block it drained.
    for (const auto& [paced, drawn] : {std::pair{true, 1365}, {false, 2048}}) {
        ScopeFrameCore xy;
        xy.paced = paced;
        int64_t count = 0;
        for (float block : {0.0f, -1.0f, 2048.0f}) {
            if (block >= 0)
                write(xy, test::ramp(2048, block), test::ramp(2048, block));
            xy.applyDisplayFilterXY(count = xy.paceXY(xy.drainAndTick()));
        }
        EXPECT_EQ(count, drawn);
        EXPECT_EQ(values(xy.filteredLeftData(), drawn), test::ramp(drawn, 2048.0f));
    }
}

// The correlation takes every drained frame, as captured: 500 Hz in phase
// under 3 kHz in anti-phase reads positive, but negative through the
// display's 1 kHz high-pass.
TEST(FrameCore, TheCorrelationFollowsEveryDrainedFramePublishedAndResetWithTheMeters)
{
    const auto low = test::sine(14000, 48000, 500), high = test::sine(14000, 48000, 3000);
    std::vector<float> left(low), right(low);
    for (size_t i = 0; i < left.size(); ++i)
        left[i] += high[i], right[i] -= high[i];
    ScopeFrameCore core;
    core.displayFilterType = 2, core.displayFilterFrequency = 1000;
    CorrelationMeter oracle(48000);
    std::vector<std::pair<int, float>> got, want;
    int frame = 0;
    core.meters().onCorrelationAnalysis = [&](float v) { got.emplace_back(frame, v); };
    for (int64_t done = 0, block = 150; ++frame <= 12; done += block, block = frame < 6 ? 150 : 2048) {
        if (frame == 7)
            core.meters().resetAnalysis(), oracle.reset(), want.emplace_back(frame, 0.0f);
        write(core, slice(left, done, block), slice(right, done, block));  // 900 held at frame 6: no run, still published
        core.applyDisplayFilterXY(core.paceXY(core.drainAndTick()));
        oracle.process(left.data() + done, right.data() + done, block);
        if (frame % 6 == 0)
            want.emplace_back(frame, oracle.value());
    }
    EXPECT_EQ(got, want);
    EXPECT_GT(want.back().second, 0.5f);
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
        ScopeFrameCore core;
        fill(core, left, right);
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
        ScopeFrameCore core;
        fill(core, left, right);
        core.triggerEnabled = false, core.displayFilterType = index, core.displayFilterFrequency = 500.0f;
        core.displaySampleCount = 1000;
        for (int frame = 0; frame < 2; ++frame) {  // the second starts over from the state the first left
            const int64_t allocations = allocationCount();  // every operator new in this binary
            ASSERT_EQ(core.prepareWaveformData(), 1000);
            EXPECT_EQ(allocationCount(), allocations);
            for (auto [got, x] : {std::pair{core.waveformLeftData(), &left}, {core.waveformRightData(), &right}})
                EXPECT_EQ(values(got, 1000), filtered(*x));
        }
        core.displayFilterType = 0;
        ASSERT_EQ(core.prepareWaveformData(), 1000);
        EXPECT_EQ(values(core.waveformRightData(), 1000), slice(right, held - 1000, 1000));  // the history stays raw
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
        ScopeFrameCore core;
        core.displayFilterType = index;
        BiquadFilter l, r;  // the expected stream
        for (int64_t start : {0, 1000, 2000}) {
            // A new frequency takes effect with its block, with no restart.
            const float hz = start == 0 && poison == frequency ? kNaN : start < 2000 ? 2000.0f : 300.0f;
            core.displayFilterFrequency = hz;
            write(core, slice(left, start, 1000), slice(right, start, 1000));
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
        core.displayFilterType = 0, core.triggerEnabled = false, core.displaySampleCount = 3000;
        ASSERT_EQ(core.prepareWaveformData(), 3000);
        EXPECT_TRUE(test::sameBits(values(core.waveformLeftData(), 3000), left));  // the analysers see raw samples
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

// Each point's brightness is its own sample's Z by the convention, held to
// 0 ... 1 (NaN dark), on the XY path and in the waveform window, at every
// factor; with Z off there is none.
TEST(FrameCore, EachPointTakesItsOwnSamplesZ)
{
    const std::vector<float> z = {-2, -1, -0.5f, 0, 0.25f, 1, 3, NAN};
    const struct { int64_t convention; std::vector<float> brightness; } rows[] = {
        {0, {}}, {1, {0, 0, 0, 0, 0.25f, 1, 1, 0}}, {2, {0, 0, 0.25f, 0.5f, 0.625f, 1, 1, 0}}};
    for (int64_t factor : {1, 8})
        for (const auto& r : rows) {
            ScopeFrameCore core;
            core.upsampling = factor;
            core.zInput = r.convention;
            core.triggerEnabled = false;
            core.displaySampleCount = 40;
            core.ringBuffer = std::make_shared<RingBuffer>(65536, 3);
            std::vector<float> frames;  // the left channel counts the samples
            for (int k = 0; k < 40; ++k)
                frames.insert(frames.end(), {float(k), 0.0f, z[size_t(k % 8)]});
            core.ringBuffer->write(frames.data(), 40);
            const int64_t n = core.paceXY(core.drainAndTick());
            core.applyDisplayFilterXY(n);
            const int64_t points = core.reconstructXY(n);
            ASSERT_EQ(core.prepareWaveformData(), factor * 39 + 1);
            if (r.brightness.empty()) {
                EXPECT_TRUE(!core.xyBrightnessData() && !core.waveformBrightnessData());
                continue;
            }
            for (int64_t i = 0; i < points; i += factor)  // the left channel says which sample is there
                ASSERT_EQ(core.xyBrightnessData()[i], r.brightness[size_t(core.xyLeftData()[i]) % 8]) << factor << " " << i;
            for (int64_t k = 0; k < 40; ++k)
                ASSERT_EQ(core.waveformBrightnessData()[k * factor], r.brightness[size_t(k) % 8]) << factor << " " << k;
        }
}

// Steps the reconstruction barely bends are drawn with fewer parts: every
// reconstructed point stays within the tolerance of the drawn line, a slow
// circle costs about a segment per sample step and a fast one all eight.
TEST(FrameCore, StepsAreDrawnWithTheFewestPartsThatFollowThePath)
{
    constexpr float kTolerance = 1e-4f;
    for (double hz : {50.0, 6000.0}) {
        ScopeFrameCore core;
        core.upsampling = 8;
        write(core, test::sine(200, 48000, hz, 0.5), test::sine(200, 48000, hz, 0.5, test::kPi / 2));
        const int64_t n = core.paceXY(core.drainAndTick());
        core.applyDisplayFilterXY(n);
        const int64_t points = core.reconstructXY(n);
        std::vector<std::array<float, 4>> drawn;  // the segments with both ends on the path
        for (const auto& run : core.xyRuns(points, kTolerance))
            for (int64_t k = 0; k + 1 < run.count; ++k)
                if (std::isfinite(run.left[k]) && std::isfinite(run.left[k + 1]))
                    drawn.push_back({run.left[k], run.right[k], run.left[k + 1], run.right[k + 1]});
        for (int64_t p = 0; p < points; ++p) {
            const float x = core.xyLeftData()[p], y = core.xyRightData()[p];
            float nearest = INFINITY;
            for (const auto& [ax, ay, bx, by] : drawn) {
                const float dx = bx - ax, dy = by - ay, length2 = dx * dx + dy * dy;
                const float t = length2 > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / length2, 0.0f, 1.0f) : 0.0f;
                nearest = std::min(nearest, std::hypot(x - ax - t * dx, y - ay - t * dy));
            }
            ASSERT_LE(nearest, kTolerance * 1.01f) << hz << " Hz, point " << p;
        }
        EXPECT_TRUE(hz < 100 ? int64_t(drawn.size()) < 2 * n : int64_t(drawn.size()) > 7 * n) << hz << ": " << drawn.size();

        // With quads that reach far, following every bend of the fast circle
        // would cover more than the allowed growth over straight steps.
        const float reach = 0.2f;
        double area = 0, straight = 0;
        for (const auto& run : core.xyRuns(points, kTolerance, reach))
            for (int64_t k = 0; k + 1 < run.count; ++k)
                area += std::isfinite(run.left[k] + run.left[k + 1])
                            ? std::hypot(run.left[k + 1] - run.left[k], run.right[k + 1] - run.right[k]) + 2 * reach
                            : 0.0;
        for (int64_t p = 0; p + 8 < points; p += 8)
            straight += std::hypot(core.xyLeftData()[p + 8] - core.xyLeftData()[p],
                                   core.xyRightData()[p + 8] - core.xyRightData()[p]) + 2 * reach;
        EXPECT_TRUE(area <= ScopeFrameCore::kMaxAreaGrowth * straight * 1.01 && (hz < 100 || area > 1.2 * straight))
            << hz << ": " << area / straight;
    }
}

// The XY path has the points per sample asked for, on the signal between the
// samples (a ramp stays a ramp, three samples late); at one point per sample
// it is the filtered samples themselves.
TEST(FrameCore, TheXYPathHasThePointsPerSampleAskedFor)
{
    for (int64_t factor : {1, 2, 8}) {
        ScopeFrameCore core;
        core.upsampling = factor;
        write(core, test::ramp(100, 0.0f), test::ramp(100, 0.0f));
        const int64_t n = core.paceXY(core.drainAndTick());
        core.applyDisplayFilterXY(n);
        ASSERT_EQ(core.reconstructXY(n), n * factor);
        const int64_t late = factor == 1 ? 0 : BandLimitedUpsampler::kLatency;
        for (int64_t i = 10 * factor; i < n * factor; ++i)
            ASSERT_NEAR(core.xyLeftData()[i], double(i) / double(factor) - double(late), 0.05) << factor << " " << i;
        // The waveform window spans the same samples, its own points exactly;
        // one too long for the GPU's buffers at that factor gets fewer points.
        core.triggerEnabled = false;
        core.displaySampleCount = 100;
        ASSERT_EQ(core.prepareWaveformData(), factor * 99 + 1);
        for (int64_t j = 0; j < 100; ++j)
            ASSERT_EQ(core.waveformLeftData()[j * factor], float(j)) << factor << " " << j;
        fill(core, test::ramp(ScopeFrameCore::maxGPUSamples, 0.0f), test::ramp(ScopeFrameCore::maxGPUSamples, 0.0f));
        core.displaySampleCount = ScopeFrameCore::maxGPUSamples / 4;
        EXPECT_EQ(core.prepareWaveformData(), std::min<int64_t>(factor, 4) * (core.displaySampleCount - 1) + 1);
    }
}
