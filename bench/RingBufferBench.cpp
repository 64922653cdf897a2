// Target: writing and reading 256-frame stereo blocks costs at most twice a
// memcpy of the same bytes. Compare BM_RingBufferWriteRead with BM_Memcpy.
#include "audio/RingBuffer.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr int64_t kBlock = 256;

// Arg: ring capacity in frames. The engine's 65 536-frame ring (512 KiB) walks
// through more memory than L1 holds; the small ring shows the copy cost alone.
void BM_RingBufferWriteRead(benchmark::State& state)
{
    RingBuffer ring(state.range(0), 2);
    std::vector<float> block(2 * kBlock, 0.25f), left(16384), right(16384);
    for (auto _ : state) {
        ring.write(block.data(), kBlock);
        benchmark::DoNotOptimize(ring.read(left.data(), right.data(), 16384));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBlock * 2 * static_cast<int64_t>(sizeof(float)));
}
BENCHMARK(BM_RingBufferWriteRead)->Arg(65536)->Arg(1024);

// The same bytes moved once (2 KiB).
void BM_Memcpy(benchmark::State& state)
{
    std::vector<float> src(2 * kBlock, 0.25f), dst(2 * kBlock);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * sizeof(float));
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kBlock * 2 * static_cast<int64_t>(sizeof(float)));
}
BENCHMARK(BM_Memcpy);

// A renderer-sized drain: one display frame's worth at 48 kHz and 60 fps.
void BM_RingBufferDrain800(benchmark::State& state)
{
    RingBuffer ring(65536, 2);
    std::vector<float> block(2 * 800, 0.25f), left(16384), right(16384);
    for (auto _ : state) {
        ring.write(block.data(), 800);
        benchmark::DoNotOptimize(ring.read(left.data(), right.data(), 16384));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RingBufferDrain800);

}  // namespace
