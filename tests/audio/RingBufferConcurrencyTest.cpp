#include "audio/RingBuffer.h"
#include "audio/SampleFifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

// Millions of numbered frames across two threads: a consumer that saw an index before the samples
// behind it reads a stale slot (an old number or the zero fill), and TSan reports it as a race. The
// producer throttles itself through a test-side counter, so no frame is lost to an overrun.
TEST(RingBufferConcurrency, EveryFrameArrivesOnceInOrderAfterItsSamples)
{
    constexpr int64_t kCapacity = 4096, kFrames = 3'000'000, kMaxBlock = 300;
    RingBuffer ring(kCapacity, 2);
    std::atomic<int64_t> consumed{0};
    auto sample = [](int64_t n) { return static_cast<float>(n % 8'000'000); };  // exact; frames count from 1

    std::thread producer([&] {
        std::vector<float> block(2 * kMaxBlock);
        for (int64_t next = 1, size = 1; next <= kFrames; size = (size + 37) % kMaxBlock + 1) {
            const int64_t count = std::min(size, kFrames - next + 1);
            while ((next - 1) - consumed.load(std::memory_order_acquire) + count >= kCapacity)
                std::this_thread::yield();
            for (int64_t i = 0; i < count; ++i)
                block[2 * i] = sample(next + i), block[2 * i + 1] = -sample(next + i);
            ring.write(block.data(), count);
            next += count;
        }
    });

    std::vector<float> left(1024), right(1024);
    int64_t expected = 1, mismatches = 0;
    while (expected <= kFrames) {
        const int64_t n = ring.read(left.data(), right.data(), 1024);
        for (int64_t i = 0; i < n; ++i, ++expected)
            mismatches += left[i] != sample(expected) || right[i] != -sample(expected);
        consumed.store(expected - 1, std::memory_order_release);
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(mismatches, 0);
}

// The bounded queue between decoder, player and release thread: numbered
// frames in blocks of varying size, the producer taking only the room it is
// given, arrive once, in order, each after its samples.
TEST(SampleFifoConcurrency, EveryFrameArrivesOnceInOrder)
{
    constexpr int64_t kFrames = 2'000'000, kMaxBlock = 300;
    SampleFifo fifo(1000);
    std::thread producer([&] {
        std::vector<float> block(2 * kMaxBlock);
        for (int64_t next = 0, size = 1; next < kFrames; size = (size + 37) % kMaxBlock + 1) {
            const int64_t count = std::min(size, kFrames - next);
            for (int64_t i = 0; i < count; ++i)
                block[2 * i] = float(next + i), block[2 * i + 1] = -float(next + i);
            next += fifo.write(block.data(), count);  // what did not fit goes again
        }
    });
    std::vector<float> got(2 * kMaxBlock);
    int64_t expected = 0, wrong = 0;
    while (expected < kFrames) {
        const int64_t n = fifo.read(got.data(), (expected % 7) * 40 + 1);
        for (int64_t i = 0; i < n; ++i, ++expected)
            wrong += got[2 * i] != float(expected) || got[2 * i + 1] != -float(expected);
    }
    producer.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(fifo.available(), 0);
}
