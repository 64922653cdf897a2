#include "audio/RingBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

// A producer and a consumer on two threads over millions of numbered frames.
// A consumer that saw an index before the samples behind it would read a stale
// slot (an old number, or the zero fill) and fail the sequence check; TSan
// reports the same fault as a race. The producer throttles itself through a
// test-side counter so that no frame is overwritten before it is read: an
// overrun is the design's documented loss, not what this test looks for.
TEST(RingBufferConcurrency, EveryFrameArrivesOnceInOrderAfterItsSamples)
{
    constexpr int64_t kCapacity = 4096;
    constexpr int64_t kFrames = 3'000'000;
    constexpr int64_t kMaxBlock = 300;
    RingBuffer ring(kCapacity, 2);
    std::atomic<int64_t> consumed{0};

    std::thread producer([&] {
        std::vector<float> block(2 * kMaxBlock);
        int64_t next = 1;  // 0 is the zero fill: a stale slot must not pass
        int64_t blockSize = 1;
        while (next <= kFrames) {
            const int64_t count = std::min(blockSize, kFrames - next + 1);
            while ((next - 1) - consumed.load(std::memory_order_acquire) + count >= kCapacity)
                std::this_thread::yield();
            for (int64_t i = 0; i < count; ++i) {
                block[2 * i] = static_cast<float>((next + i) % 8'000'000);
                block[2 * i + 1] = -static_cast<float>((next + i) % 8'000'000);
            }
            ring.write(block.data(), count);
            next += count;
            blockSize = (blockSize + 37) % kMaxBlock + 1;  // 1..kMaxBlock: blocks wrap anywhere
        }
    });

    std::vector<float> left(1024), right(1024);
    int64_t expected = 1;
    int64_t mismatches = 0;
    while (expected <= kFrames) {
        const int64_t n = ring.read(left.data(), right.data(), 1024);
        for (int64_t i = 0; i < n; ++i, ++expected) {
            const float want = static_cast<float>(expected % 8'000'000);
            if (left[i] != want || right[i] != -want)
                ++mismatches;
        }
        consumed.store(expected - 1, std::memory_order_release);
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(expected - 1, kFrames);
}
