// The frame's CPU half before any drawing: the drain into the history, the
// triggered waveform window and the display filter.

#include "renderer/CoreProbe.h"
#include "renderer/StereoFilterRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr int64_t C = ScopeFrameCore::historyCapacity;

std::vector<float> ramp(int64_t from, int64_t count)
{
    return samples(count, [from](int64_t i) { return static_cast<float>(from + i); });
}

std::vector<float> negated(std::vector<float> v)
{
    for (float& x : v)
        x = -x;
    return v;
}

std::vector<float> window(const float* data, int64_t count) { return {data, data + count}; }

// The history holds exactly these samples, oldest first, on both channels.
void setHistory(CoreProbe& core, const std::vector<float>& left, const std::vector<float>& right)
{
    core.fill(left, right);
}

}  // namespace

TEST(History, DrainsAtMost16384FramesPerFrameAndTheRestNext)
{
    CoreProbe core;
    core.write(ramp(0, 20000), negated(ramp(0, 20000)));

    EXPECT_EQ(core.drainAndTick(), 16384);
    EXPECT_EQ(core.historyWritePos, 16384);
    EXPECT_EQ(core.historyCount, 16384);
    EXPECT_EQ(core.historyLeft[16383], 16383.0f);

    EXPECT_EQ(core.drainAndTick(), 3616);
    EXPECT_EQ(core.historyWritePos, 20000);
    EXPECT_EQ(core.historyCount, 20000);
    for (int64_t i : {0, 1, 16383, 16384, 19999}) {
        EXPECT_EQ(core.historyLeft[i], float(i)) << i;
        EXPECT_EQ(core.historyRight[i], -float(i)) << i;
    }
    EXPECT_EQ(core.drainAndTick(), 0);
}

TEST(History, WrapsAtItsCapacityAndKeepsTheNewest)
{
    CoreProbe core;
    core.fill(ramp(0, C));
    EXPECT_EQ(core.historyWritePos, 0);
    EXPECT_EQ(core.historyCount, C);

    core.fill(ramp(C, 100));
    EXPECT_EQ(core.historyWritePos, 100);
    EXPECT_EQ(core.historyCount, C);
    EXPECT_EQ(core.historyLeft[0], float(C));
    EXPECT_EQ(core.historyLeft[99], float(C + 99));
    EXPECT_EQ(core.historyLeft[100], 100.0f);  // the oldest sample still held
    EXPECT_EQ(core.historyLeft[C - 1], float(C - 1));
}

TEST(History, WithoutRingBufferNothingIsDrainedButTheFrameGoesOn)
{
    CoreProbe core;
    core.fill(ramp(0, 50));
    core.ringBuffer.reset();
    const int64_t counter = core.analysisFrameCounter;
    EXPECT_EQ(core.drainAndTick(), 0);
    EXPECT_EQ(core.historyCount, 50);
    EXPECT_EQ(core.historyWritePos, 50);
    EXPECT_EQ(core.analysisFrameCounter, counter + 1);
    // The waveform keeps showing the last window.
    core.displaySampleCount = 20;
    core.triggerEnabled = false;
    ASSERT_EQ(core.prepareWaveformData(), 20);
    EXPECT_EQ(window(core.waveformLeftData(), 20), ramp(30, 20));
}

TEST(Trigger, TakesTheOldestRisingCrossingThatLeavesAFullWindow)
{
    CoreProbe core;
    // 30 samples at -1 with rising crossings of level 0 at 5, 13, 18 and 25.
    // m = 10: the span is the newest 20 (indices 10 ... 29), candidates are
    // distances 10 ... 19 (indices 11 ... 20); 25 is too near the newest.
    std::vector<float> x(30, -1.0f);
    for (int64_t i : {5, 13, 18, 25})
        x[static_cast<size_t>(i)] = 0.5f;
    setHistory(core, x, x);
    EXPECT_EQ(core.findTriggerPoint(10), 13);

    core.displaySampleCount = 10;
    ASSERT_EQ(core.prepareWaveformData(), 10);
    EXPECT_EQ(core.waveformLeftData()[0], 0.5f);
    EXPECT_EQ(core.waveformLeftData()[5], 0.5f);  // index 18

    core.triggerEnabled = false;
    EXPECT_FALSE(core.findTriggerPoint(10));
    ASSERT_EQ(core.prepareWaveformData(), 10);
    EXPECT_EQ(window(core.waveformLeftData(), 10), window(x.data() + 20, 10));
}

TEST(Trigger, NeedsStrictlyBelowThenAtOrAboveTheLevel)
{
    CoreProbe core;
    core.triggerLevel = 0.25f;
    // Candidates are indices 11 ... 20. At 11 the level follows the level
    // (no); at 15 it follows a sample below it (yes).
    std::vector<float> x(30, 0.0f);
    x[10] = 0.25f;
    x[11] = 0.25f;
    x[15] = 0.25f;
    setHistory(core, x, x);
    EXPECT_EQ(core.findTriggerPoint(10), 15);

    // A NaN on either side is no crossing.
    x[14] = std::numeric_limits<float>::quiet_NaN();
    CoreProbe withNaN;
    withNaN.triggerLevel = 0.25f;
    setHistory(withNaN, x, x);
    EXPECT_FALSE(withNaN.findTriggerPoint(10));

    // Never reaching the level: no trigger, the newest samples are shown.
    CoreProbe low;
    low.triggerLevel = 1.0f;
    const auto sine = samples(400, [](int64_t i) { return 0.9f * std::sin(0.1f * float(i)); });
    setHistory(low, sine, sine);
    low.displaySampleCount = 100;
    EXPECT_FALSE(low.findTriggerPoint(100));
    ASSERT_EQ(low.prepareWaveformData(), 100);
    EXPECT_EQ(window(low.waveformLeftData(), 100), window(sine.data() + 300, 100));
}

TEST(Trigger, ShortHistories)
{
    // Fewer samples than asked for: the whole history, untriggered.
    CoreProbe shortOne;
    std::vector<float> x(8, -1.0f);
    x[3] = 1.0f;
    setHistory(shortOne, x, x);
    shortOne.displaySampleCount = 4800;
    ASSERT_EQ(shortOne.prepareWaveformData(), 8);
    EXPECT_FALSE(shortOne.findTriggerPoint(8));
    EXPECT_EQ(window(shortOne.waveformLeftData(), 8), x);

    // Between m + 1 and 2m - 1 samples: the span is all of it, and the
    // predecessor of the oldest candidate is the oldest sample held.
    CoreProbe between;
    std::vector<float> y(15, 1.0f);
    y[0] = -1.0f;  // index 1 (distance 14) crosses from the oldest sample
    setHistory(between, y, y);
    EXPECT_EQ(between.findTriggerPoint(10), 1);
    y[0] = 1.0f;
    y[4] = -1.0f;  // index 5 is at distance 10: still a candidate
    CoreProbe between2;
    setHistory(between2, y, y);
    EXPECT_EQ(between2.findTriggerPoint(10), 5);
    y[4] = 1.0f;
    y[5] = -1.0f;  // index 6 is at distance 9: too near
    CoreProbe between3;
    setHistory(between3, y, y);
    EXPECT_FALSE(between3.findTriggerPoint(10));
}

TEST(Trigger, SearchesTheChosenChannelAndWindowsBothFromIt)
{
    CoreProbe core;
    std::vector<float> left = ramp(0, 40);
    std::vector<float> right(40, -1.0f);
    right[22] = 1.0f;
    setHistory(core, left, right);
    core.displaySampleCount = 10;
    EXPECT_FALSE(core.findTriggerPoint(10));  // left never crosses 0 from below
    core.triggerChannel = 1;
    EXPECT_EQ(core.findTriggerPoint(10), 22);
    ASSERT_EQ(core.prepareWaveformData(), 10);
    EXPECT_EQ(window(core.waveformLeftData(), 10), ramp(22, 10));
    EXPECT_EQ(core.waveformRightData()[0], 1.0f);
}

TEST(Trigger, FindsCrossingsAcrossTheWrapOfTheHistory)
{
    CoreProbe core;
    auto x = samples(C + 6, [](int64_t) { return -1.0f; });
    x[static_cast<size_t>(C - 3)] = 1.0f;  // the sample at index C - 3 ...
    core.fill(x, x);
    ASSERT_EQ(core.historyWritePos, 6);
    // ... is at distance 9 from the write position; with m = 5 it qualifies.
    EXPECT_EQ(core.findTriggerPoint(5), C - 3);
    core.displaySampleCount = 5;
    ASSERT_EQ(core.prepareWaveformData(), 5);
    EXPECT_EQ(core.waveformLeftData()[0], 1.0f);
    EXPECT_EQ(core.waveformLeftData()[3], -1.0f);  // index 0, after the wrap
}

TEST(Window, LengthIsBoundedByTheBuffersAndNothingForNoSamples)
{
    CoreProbe empty;
    EXPECT_EQ(empty.prepareWaveformData(), 0);

    CoreProbe core;
    core.fill(ramp(0, 70000));
    core.triggerEnabled = false;
    core.displaySampleCount = 100000;
    EXPECT_EQ(core.prepareWaveformData(), 65536);
    EXPECT_EQ(core.waveformLeftData()[65535], 69999.0f);
    for (int64_t bad : {int64_t(0), int64_t(-5), std::numeric_limits<int64_t>::min()}) {
        core.displaySampleCount = bad;
        EXPECT_EQ(core.prepareWaveformData(), 0);
    }
    core.displaySampleCount = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(core.prepareWaveformData(), 65536);
}

namespace {

// The filter the renderer should be running, applied from rest.
std::vector<float> reference(FilterType type, float frequency, const std::vector<float>& warmUp,
                             const std::vector<float>& x)
{
    BiquadFilter f;
    f.updateCoefficients(type, frequency, 48000.0);
    std::vector<float> w = warmUp;
    f.process(w.data(), static_cast<int64_t>(w.size()));
    std::vector<float> y = x;
    f.process(y.data(), static_cast<int64_t>(y.size()));
    return y;
}

std::vector<float> noiseLike(int64_t count, int64_t seed)
{
    return samples(count, [seed](int64_t i) {
        return 0.8f * std::sin(0.37f * float(i + seed)) + 0.2f * std::sin(2.9f * float(i * i % 977));
    });
}

}  // namespace

TEST(DisplayFilter, WaveformWindowIsFilteredFromTheWarmedUpState)
{
    const auto x = noiseLike(5000, 1);
    CoreProbe core;
    core.fill(x, negated(x));
    core.triggerEnabled = false;
    core.displaySampleCount = 1000;
    core.displayFilterType = 1;  // LP
    core.displayFilterFrequency = 500.0f;
    ASSERT_EQ(core.prepareWaveformData(), 1000);
    // Exactly the 512 samples before the window warm the filter up.
    const std::vector<float> warm(x.begin() + 3488, x.begin() + 4000);
    const std::vector<float> win(x.begin() + 4000, x.end());
    EXPECT_EQ(window(core.waveformLeftData(), 1000), reference(FilterType::lowpass, 500.0f, warm, win));
    EXPECT_NE(window(core.waveformLeftData(), 1000), reference(FilterType::lowpass, 500.0f, {}, win));
    EXPECT_EQ(window(core.waveformRightData(), 1000), reference(FilterType::lowpass, 500.0f, negated(warm), negated(win)));
    // The history itself stays unfiltered.
    EXPECT_EQ(core.historyLeft[4500], x[4500]);

    // A second frame gives the same window: the state is restarted each time.
    const auto first = window(core.waveformLeftData(), 1000);
    ASSERT_EQ(core.prepareWaveformData(), 1000);
    EXPECT_EQ(window(core.waveformLeftData(), 1000), first);
}

TEST(DisplayFilter, ShortHistoriesWarmUpOnWhatIsThere)
{
    const auto x = noiseLike(1300, 2);
    CoreProbe core;
    core.fill(x);
    core.triggerEnabled = false;
    core.displaySampleCount = 1000;
    core.displayFilterType = 2;  // HP
    ASSERT_EQ(core.prepareWaveformData(), 1000);
    EXPECT_EQ(window(core.waveformLeftData(), 1000),
              reference(FilterType::highpass, 1000.0f, {x.begin(), x.begin() + 300}, {x.begin() + 300, x.end()}));

    CoreProbe exact;  // history == window: from rest
    exact.fill({x.begin(), x.begin() + 1000});
    exact.triggerEnabled = false;
    exact.displaySampleCount = 1000;
    exact.displayFilterType = 2;
    ASSERT_EQ(exact.prepareWaveformData(), 1000);
    EXPECT_EQ(window(exact.waveformLeftData(), 1000),
              reference(FilterType::highpass, 1000.0f, {}, {x.begin(), x.begin() + 1000}));
}

TEST(DisplayFilter, OffLeavesTheWindowAndTheStateAlone)
{
    const auto x = noiseLike(3000, 3);
    CoreProbe core;
    core.fill(x);
    core.triggerEnabled = false;
    core.displaySampleCount = 1000;
    core.displayFilter.left.z1 = 0.125f;  // whatever an earlier XY frame left
    ASSERT_EQ(core.prepareWaveformData(), 1000);
    EXPECT_EQ(window(core.waveformLeftData(), 1000), window(x.data() + 2000, 1000));
    EXPECT_EQ(core.displayFilter.left.z1, 0.125f);

    for (int64_t type : {int64_t(-1), int64_t(0)}) {
        core.displayFilterType = type;
        core.write(x, x);
        const int64_t n = core.drainAndTick();
        core.applyDisplayFilterXY(n);
        EXPECT_EQ(window(core.filteredLeftData(), n), x) << type;
    }
}

TEST(DisplayFilter, TypesAboveBandPassCountAsBandPass)
{
    const auto x = noiseLike(3000, 4);
    std::vector<float> results[2];
    for (int k = 0; k < 2; ++k) {
        CoreProbe core;
        core.fill(x);
        core.triggerEnabled = false;
        core.displaySampleCount = 1000;
        core.displayFilterType = k == 0 ? 3 : 7;
        ASSERT_EQ(core.prepareWaveformData(), 1000);
        results[k] = window(core.waveformLeftData(), 1000);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_NE(results[0], window(x.data() + 2000, 1000));
}

TEST(DisplayFilter, XYStreamCarriesItsStateAcrossFrames)
{
    const auto x = noiseLike(3000, 5);
    CoreProbe core;
    core.displayFilterType = 1;
    core.displayFilterFrequency = 2000.0f;
    std::vector<float> drawn;
    for (int64_t start : {0, 1000, 2000}) {
        if (start == 2000)
            core.displayFilterFrequency = 300.0f;  // takes effect with this block, no restart
        core.write({x.begin() + start, x.begin() + start + 1000}, {x.begin() + start, x.begin() + start + 1000});
        const int64_t n = core.drainAndTick();
        core.applyDisplayFilterXY(n);
        drawn.insert(drawn.end(), core.filteredLeftData(), core.filteredLeftData() + n);
    }
    BiquadFilter f;
    std::vector<float> expected = x;
    f.updateCoefficients(FilterType::lowpass, 2000.0f, 48000.0);
    f.process(expected.data(), 2000);
    f.updateCoefficients(FilterType::lowpass, 300.0f, 48000.0);
    f.process(expected.data() + 2000, 1000);
    EXPECT_EQ(drawn, expected);
    EXPECT_EQ(core.historyLeft[10], x[10]);  // the analysers see raw samples
}

TEST(DisplayFilter, ANonFiniteSampleDoesNotBlankTheXYPictureForGood)
{
    auto x = noiseLike(2000, 6);
    x[500] = std::numeric_limits<float>::quiet_NaN();
    CoreProbe core;
    core.displayFilterType = 3;
    for (int64_t start : {0, 1000}) {
        core.write({x.begin() + start, x.begin() + start + 1000}, {x.begin() + start, x.begin() + start + 1000});
        const int64_t n = core.drainAndTick();
        core.applyDisplayFilterXY(n);
    }
    for (int64_t i = 0; i < 1000; ++i)
        ASSERT_TRUE(std::isfinite(core.filteredLeftData()[i])) << i;
    // Nor can a frequency that makes the coefficients NaN.
    core.displayFilterFrequency = std::numeric_limits<float>::quiet_NaN();
    core.write(x, x);
    core.applyDisplayFilterXY(core.drainAndTick());
    core.displayFilterFrequency = 1000.0f;
    core.write({x.begin() + 1000, x.end()}, {x.begin() + 1000, x.end()});
    const int64_t n = core.drainAndTick();
    core.applyDisplayFilterXY(n);
    for (int64_t i = 0; i < n; ++i)
        ASSERT_TRUE(std::isfinite(core.filteredLeftData()[i])) << i;
}

TEST(DisplayFilter, BothChannelsInOneLoopMatchTheFilterBitForBit)
{
    const auto left = noiseLike(4096, 7);
    const auto right = negated(noiseLike(4096, 8));
    for (FilterType type : kAllFilterTypes) {
        StereoBiquadFilter reference, fused;
        for (StereoBiquadFilter* f : {&reference, &fused}) {
            f->left.updateCoefficients(type, 700.0f, 48000.0);
            f->right.updateCoefficients(type, 3000.0f, 48000.0);  // channels may differ
            f->left.z1 = 0.25f;
            f->right.z2 = -0.125f;
        }
        auto l1 = left, r1 = right, l2 = left, r2 = right;
        reference.process(l1.data(), r1.data(), 4096);
        filterStereo(fused, l2.data(), r2.data(), 4096);
        EXPECT_EQ(l1, l2) << rawValue(type);
        EXPECT_EQ(r1, r2) << rawValue(type);
        EXPECT_EQ(reference.left.z1, fused.left.z1);
        EXPECT_EQ(reference.left.z2, fused.left.z2);
        EXPECT_EQ(reference.right.z1, fused.right.z1);
        EXPECT_EQ(reference.right.z2, fused.right.z2);
    }
}
