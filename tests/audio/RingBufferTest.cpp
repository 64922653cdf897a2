#include "audio/RingBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Frames first..first+count-1, interleaved with `channels` samples: channel 0
// carries n, channel 1 carries -n, further channels 1000 + n.
std::vector<float> countingFrames(int first, int count, int channels = 2)
{
    std::vector<float> out;
    for (int n = first; n < first + count; ++n) {
        out.push_back(static_cast<float>(n));
        out.push_back(static_cast<float>(-n));
        for (int c = 2; c < channels; ++c)
            out.push_back(1000.0f + static_cast<float>(n));
    }
    return out;
}

struct Channels {
    std::vector<float> left, right;
};

Channels readUpTo(RingBuffer& ring, int64_t maxFrames)
{
    Channels got;
    got.left.assign(static_cast<size_t>(maxFrames), NAN);
    got.right.assign(static_cast<size_t>(maxFrames), NAN);
    const int64_t n = ring.read(got.left.data(), got.right.data(), maxFrames);
    got.left.resize(static_cast<size_t>(n));
    got.right.resize(static_cast<size_t>(n));
    return got;
}

Channels readAll(RingBuffer& ring) { return readUpTo(ring, ring.capacity()); }

std::vector<float> range(int first, int count, float sign = 1.0f)
{
    std::vector<float> out;
    for (int n = first; n < first + count; ++n)
        out.push_back(sign * static_cast<float>(n));
    return out;
}

}  // namespace

TEST(RingBuffer, EmptyAndZeroCountCallsChangeNothing)
{
    RingBuffer ring(16, 2);
    float left[4] = {7, 7, 7, 7}, right[4] = {7, 7, 7, 7};
    EXPECT_EQ(ring.read(left, right, 4), 0);
    EXPECT_EQ(left[0], 7.0f);
    EXPECT_EQ(right[3], 7.0f);

    auto frames = countingFrames(0, 5);
    ring.write(frames.data(), 5);
    EXPECT_EQ(ring.read(left, right, 0), 0);  // maxFrames 0 leaves the read index
    ring.write(frames.data(), 0);             // a 0-frame write adds nothing
    EXPECT_EQ(readAll(ring).left, range(0, 5));
}

TEST(RingBuffer, PartialReadsKeepTheRestOldestFirst)
{
    RingBuffer ring(128, 2);
    auto frames = countingFrames(0, 100);
    ring.write(frames.data(), 100);
    auto first = readUpTo(ring, 40);
    EXPECT_EQ(first.left, range(0, 40));
    EXPECT_EQ(first.right, range(0, 40, -1.0f));
    auto second = readUpTo(ring, 100);
    EXPECT_EQ(second.left, range(40, 60));
    EXPECT_EQ(second.right, range(40, 60, -1.0f));
}

TEST(RingBuffer, BlocksWrapAcrossTheEndOfStorageInOrder)
{
    RingBuffer ring(10, 2);
    int next = 0;
    // Many blocks of awkward sizes so writes and reads straddle the end at
    // every offset.
    for (int round = 0; round < 50; ++round) {
        const int count = 1 + round % 9;
        auto frames = countingFrames(next, count);
        ring.write(frames.data(), count);
        auto got = readAll(ring);
        EXPECT_EQ(got.left, range(next, count)) << "round " << round;
        EXPECT_EQ(got.right, range(next, count, -1.0f)) << "round " << round;
        next += count;
    }
}

TEST(RingBuffer, OverrunKeepsTheNewestFramesInOrder)
{
    {
        RingBuffer ring(8, 2);
        auto frames = countingFrames(0, 11);
        ring.write(frames.data(), 11);  // (0 + 11) mod 8 = 3 unread
        EXPECT_EQ(readAll(ring).left, range(8, 3));
    }
    {
        // 5 unread, then 6 more overwrite part of them: (5 + 6) mod 8 = 3 newest.
        RingBuffer ring(8, 2);
        auto a = countingFrames(0, 5);
        ring.write(a.data(), 5);
        auto b = countingFrames(5, 6);
        ring.write(b.data(), 6);
        auto got = readAll(ring);
        EXPECT_EQ(got.left, range(8, 3));
        EXPECT_EQ(got.right, range(8, 3, -1.0f));
    }
    {
        // After a partial read the read index sits mid-buffer.
        RingBuffer ring(8, 2);
        auto a = countingFrames(0, 6);
        ring.write(a.data(), 6);
        readUpTo(ring, 4);                  // 2 unread: frames 4, 5
        auto b = countingFrames(6, 13);     // 2 + 13 = 15 -> 7 newest
        ring.write(b.data(), 13);
        EXPECT_EQ(readAll(ring).left, range(12, 7));
    }
}

TEST(RingBuffer, WritingExactlyCapacityLooksEmptyAndOneMoreLeavesTheLast)
{
    constexpr int kCap = 65536;
    RingBuffer ring(kCap, 2);
    auto frames = countingFrames(0, kCap + 1);
    ring.write(frames.data(), kCap);
    EXPECT_TRUE(readAll(ring).left.empty());

    RingBuffer other(kCap, 2);
    other.write(frames.data(), kCap + 1);
    auto got = readAll(other);
    ASSERT_EQ(got.left.size(), 1u);
    EXPECT_EQ(got.left[0], static_cast<float>(kCap));
    EXPECT_EQ(got.right[0], -static_cast<float>(kCap));
}

TEST(RingBuffer, ExtraChannelsAreStoredButNeverRead)
{
    RingBuffer ring(6, 4);
    int next = 0;
    for (int round = 0; round < 5; ++round) {
        auto frames = countingFrames(next, 4, 4);
        ring.write(frames.data(), 4);
        auto got = readAll(ring);
        EXPECT_EQ(got.left, range(next, 4));
        EXPECT_EQ(got.right, range(next, 4, -1.0f));
        next += 4;
    }
}

TEST(RingBuffer, SamplesPassBitForBit)
{
    RingBuffer ring(4, 2);
    const float odd[] = {NAN, -0.0f, INFINITY, 1e-45f, -INFINITY, 3.5f};
    ring.write(odd, 3);
    auto got = readAll(ring);
    ASSERT_EQ(got.left.size(), 3u);
    EXPECT_TRUE(std::isnan(got.left[0]));
    EXPECT_TRUE(std::signbit(got.right[0]) && got.right[0] == 0.0f);
    EXPECT_EQ(got.left[1], INFINITY);
    EXPECT_EQ(got.right[1], 1e-45f);
    EXPECT_EQ(got.left[2], -INFINITY);
}
