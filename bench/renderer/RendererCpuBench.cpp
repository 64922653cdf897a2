// The renderer's CPU work per frame, without GL. Targets:
//   draining and filing 800 frames plus the XY display filter   <= 0.05 ms
//   a 65536-sample triggered, filtered waveform window          <= 0.5 ms
//   one analysis run on a full 3 s window at 48 kHz              <= 0.6 ms
// and no allocation in any of them once warm (counter "allocs/iter").

#include "AllocationCounter.h"
#include "analysis/Signals.h"
#include "renderer/CoreFeed.h"
#include "renderer/MeterMath.h"
#include "renderer/MeterSchedule.h"

#include <benchmark/benchmark.h>

namespace {

constexpr double kRate = 48000.0;

std::vector<float> music(int64_t count, unsigned seed)
{
    auto kicks = signals::clickTrain(count, kRate, 0.5);
    auto tone = signals::sine(count, kRate, 220.0, 0.3);
    auto noise = signals::noise(count, 0.05, seed);
    for (size_t i = 0; i < kicks.size(); ++i)
        kicks[i] += tone[i] + noise[i];
    return kicks;
}

void reportAllocations(benchmark::State& state, int64_t before)
{
    state.counters["allocs/iter"] =
        benchmark::Counter(double(allocationCount() - before), benchmark::Counter::kAvgIterations);
}

// 800 stereo frames of music, the right channel the left inverted: one
// frame's worth at 48 kHz and 60 frames/s.
std::vector<float> frameBlock()
{
    const auto source = music(800, 2);
    std::vector<float> block(1600);
    for (size_t i = 0; i < 800; ++i) {
        block[2 * i] = source[i];
        block[2 * i + 1] = -source[i];
    }
    return block;
}

// One XY frame's CPU half: 800 new frames (48 kHz at 60 frames/s) written by
// the capture side, drained into the history and display-filtered.
void BM_DrainAndFilterXY(benchmark::State& state)
{
    ScopeFrameCore core;
    core.displayFilterType = 1;
    fill(core, music(200000, 1));
    const std::vector<float> block = frameBlock();
    const int64_t before = allocationCount();
    for (auto _ : state) {
        core.ringBuffer->write(block.data(), 800);
        const int64_t n = core.paceXY(core.drain());  // the analysis is measured on its own
        core.applyDisplayFilterXY(n);
        benchmark::DoNotOptimize(core.filteredLeftData()[n - 1]);
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_DrainAndFilterXY);

// The same frame reconstructed at 8 points per sample and split into the
// runs the beam draws (the tolerance and reach of a 1020 x 580 view).
void BM_ReconstructXY(benchmark::State& state)
{
    ScopeFrameCore core;
    core.upsampling = 8;
    fill(core, music(200000, 1));
    const std::vector<float> block = frameBlock();
    constexpr float kPixelsPerUnit = 0.45f * 580.0f;
    int64_t before = -1;
    for (auto _ : state) {
        core.ringBuffer->write(block.data(), 800);
        const int64_t n = core.paceXY(core.drain());
        core.applyDisplayFilterXY(n);
        const int64_t points = core.reconstructXY(n);
        benchmark::DoNotOptimize(core.xyRuns(points, 0.05f / kPixelsPerUnit, 6.46f / kPixelsPerUnit).size());
        if (before < 0)
            before = allocationCount();  // the buffers are made on first use
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_ReconstructXY);

// The triggered, band-pass-filtered waveform window of 65536 samples. With a
// level the signal never reaches, the trigger scans all 65536 candidates.
void BM_WaveformWindow(benchmark::State& state)
{
    ScopeFrameCore core;
    fill(core, music(393216, 3));
    core.displaySampleCount = 65536;
    core.displayFilterType = 3;
    core.triggerLevel = state.range(0) == 0 ? 0.0f : 100.0f;
    const int64_t before = allocationCount();
    for (auto _ : state)
        benchmark::DoNotOptimize(core.prepareWaveformData());
    reportAllocations(state, before);
    state.SetLabel(state.range(0) == 0 ? "trigger found" : "no trigger (full scan)");
}
BENCHMARK(BM_WaveformWindow)->Arg(0)->Arg(1);

// One analysis run: copy of the newest 3 s, rhythm, expansion, curvature
// (MIX, so all three run) and density.
void BM_AnalysisRun(benchmark::State& state)
{
    const auto samples = music(393216, 4);
    SampleHistory history;
    history.append(samples.data(), samples.data(), 393216);
    MeterSchedule meters;
    meters.run(history, 0, kRate, 2);  // the window buffer and scratch grow here
    const int64_t before = allocationCount();
    for (auto _ : state) {
        meters.run(history, 0, kRate, 2);
        benchmark::DoNotOptimize(meters.smoothedRate());
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_AnalysisRun);

}  // namespace

namespace {

// The density step alone, on the same 3 s window.
void BM_Density(benchmark::State& state)
{
    const auto window = music(144000, 5);
    std::vector<float> blocks(144000 / 64);
    for (auto _ : state)
        benchmark::DoNotOptimize(meter::signalDensity(window.data(), 144000, kRate, blocks.data()));
}
BENCHMARK(BM_Density);

}  // namespace
