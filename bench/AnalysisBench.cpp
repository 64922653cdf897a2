// Targets: the display filter at >= 100 M samples/s per channel; the phase
// correlation at >= 20 M stereo frames/s (400 times real time at 48 kHz: it
// sees every captured frame) with no allocation; the three
// analyses on a 3 s window at 48 kHz in <= 0.5 ms together (median), with no
// allocation once the scratch arrays have grown. The beam's upsampler: one
// display frame of stereo (800 frames at 48 kHz, 60 fps) at 8x in < 0.2 ms.
#include "analysis/BandLimitedUpsampler.h"
#include "analysis/BiquadFilter.h"
#include "analysis/CorrelationMeter.h"
#include "analysis/RhythmAnalyzer.h"

#include "analysis/Signals.h"

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"

namespace {

constexpr double kRate = 48000.0;
constexpr int64_t kWindow = 144000;

void BM_BiquadStereo(benchmark::State& state)
{
    const int64_t n = state.range(0);
    StereoBiquadFilter filter;
    filter.left.updateCoefficients(FilterType::bandpass, 1000.0f, kRate);
    filter.right.updateCoefficients(FilterType::bandpass, 1000.0f, kRate);
    auto left = signals::noise(n, 0.5, 1), right = signals::noise(n, 0.5, 2);
    for (auto _ : state) {
        filter.process(left.data(), right.data(), n);
        filter.left.z1 = filter.left.z2 = filter.right.z1 = filter.right.z2 = 0.0f;
        benchmark::ClobberMemory();
    }
    // Samples per channel per second.
    state.counters["ch_samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BiquadStereo)->Arg(16384)->Arg(65536);

// One display frame's worth per iteration, the history running on as it does live.
void BM_UpsampleFrame(benchmark::State& state)
{
    constexpr int64_t frames = 800;
    const int factor = static_cast<int>(state.range(0));
    BandLimitedUpsampler upsampler(2);
    upsampler.setFactor(factor);
    const auto left = signals::noise(frames, 0.5, 1), right = signals::noise(frames, 0.5, 2);
    std::vector<float> outLeft(frames * factor), outRight(frames * factor);
    const float* in[] = {left.data(), right.data()};
    float* out[] = {outLeft.data(), outRight.data()};
    const int64_t before = allocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(upsampler.process(in, frames, out));
        benchmark::ClobberMemory();
    }
    state.counters["allocs/iter"] = static_cast<double>(allocationCount() - before) /
                                    static_cast<double>(state.iterations());
}
BENCHMARK(BM_UpsampleFrame)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMicrosecond);

// One frame's drain (16384 frames at most).
void BM_Correlation(benchmark::State& state)
{
    const int64_t n = state.range(0);
    CorrelationMeter meter(kRate);
    const auto left = signals::noise(n, 0.5, 1), right = signals::noise(n, 0.5, 2);
    const int64_t before = allocationCount();
    for (auto _ : state) {
        meter.process(left.data(), right.data(), n);
        benchmark::DoNotOptimize(meter.value());
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * n), benchmark::Counter::kIsRate);
    state.counters["allocs/iter"] =
        static_cast<double>(allocationCount() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Correlation)->Arg(800)->Arg(16384);

std::vector<float> musicLike()
{
    // Kicks every 500 ms over a pulsing tone and a little noise.
    auto kicks = signals::clickTrain(kWindow, kRate, 0.5);
    auto noise = signals::noise(kWindow, 0.05, 9);
    auto tone = signals::generate(kWindow, kRate, [](double t) {
        return 0.3 * std::fabs(std::sin(2 * std::numbers::pi * 4 * t)) * std::sin(2 * std::numbers::pi * 440 * t);
    });
    for (int64_t i = 0; i < kWindow; ++i)
        kicks[i] += noise[i] + tone[i];
    return kicks;
}

template <typename Fn>
void runAnalysis(benchmark::State& state, Fn fn)
{
    RhythmAnalyzer analyzer;
    auto window = musicLike();
    fn(analyzer, window);  // grow the scratch arrays
    const int64_t before = allocationCount();
    for (auto _ : state)
        benchmark::DoNotOptimize(fn(analyzer, window));
    state.counters["allocs/iter"] = static_cast<double>(allocationCount() - before) /
                                    static_cast<double>(state.iterations());
}

void BM_Rhythm(benchmark::State& state)
{
    runAnalysis(state, [](RhythmAnalyzer& a, const std::vector<float>& w) {
        return a.analyze(w.data(), kWindow, kRate);
    });
}
void BM_Expansion(benchmark::State& state)
{
    runAnalysis(state, [](RhythmAnalyzer& a, const std::vector<float>& w) {
        return a.analyzeExpansion(w.data(), kWindow, kRate);
    });
}
void BM_Curvature(benchmark::State& state)
{
    runAnalysis(state, [](RhythmAnalyzer& a, const std::vector<float>& w) {
        return a.analyzeEnvelopeCurvature(w.data(), kWindow, kRate);
    });
}
void BM_AllThree(benchmark::State& state)
{
    runAnalysis(state, [](RhythmAnalyzer& a, const std::vector<float>& w) {
        return a.analyze(w.data(), kWindow, kRate) + a.analyzeExpansion(w.data(), kWindow, kRate) +
               a.analyzeEnvelopeCurvature(w.data(), kWindow, kRate);
    });
}
BENCHMARK(BM_Rhythm)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Expansion)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Curvature)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AllThree)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace
