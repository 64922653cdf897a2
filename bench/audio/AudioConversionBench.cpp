// Target: converting one 256-frame block and writing it into the ring buffer
// costs at most 1 us, in every layout, with no allocation.
#include "audio/Capture.h"
#include "audio/RingBuffer.h"
#include "audio/SystemAudioCapture.h"

#include <benchmark/benchmark.h>

#include "AllocationCounter.h"

#include <cmath>
#include <memory>
#include <vector>

namespace {

std::vector<float> tone(int64_t floats)
{
    std::vector<float> v(static_cast<size_t>(floats));
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = 0.5f * static_cast<float>(std::sin(0.01 * static_cast<double>(i)));
    return v;
}

// One delivered block through the input path's processor, as the capture
// thread runs it: stop check, conversion, ring write.
void BM_TapProcess(benchmark::State& state, int channels, bool nonInterleaved)
{
    const int64_t frames = state.range(0);
    auto ring = std::make_shared<RingBuffer>(65536, 2);
    CaptureReceiver tap(ring, nullptr);
    const auto samples = tone(frames * std::max(channels, 1));
    const AudioBlock block{samples.data(), static_cast<int64_t>(samples.size()), channels,
                           nonInterleaved};
    std::vector<float> left(65536), right(65536);

    const int64_t allocationsBefore = allocationCount();
    int64_t blocks = 0;
    for (auto _ : state) {
        tap.audioArrived(block);
        // Drain now and then, outside the timing, as the renderer would.
        if (++blocks % 128 == 0) {
            state.PauseTiming();
            ring->read(left.data(), right.data(), 65536);
            state.ResumeTiming();
        }
    }
    state.counters["allocations"] = static_cast<double>(allocationCount() - allocationsBefore);
    state.counters["frames/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * frames), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(BM_TapProcess, stereo_interleaved, 2, false)->Arg(256)->Arg(1024);
BENCHMARK_CAPTURE(BM_TapProcess, mono, 1, false)->Arg(256)->Arg(1024);
BENCHMARK_CAPTURE(BM_TapProcess, stereo_noninterleaved, 2, true)->Arg(256)->Arg(1024);
BENCHMARK_CAPTURE(BM_TapProcess, six_channels_interleaved, 6, false)->Arg(256)->Arg(1024);

}  // namespace
