#include "audio/RingBuffer.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// put: write n frames, numbered on from the last write. get: read up to n
// frames, which must yield `got` frames numbered from `first`.
struct Step { bool isWrite; int64_t n, got = 0, first = 0; };
Step put(int64_t n) { return {true, n}; }
Step get(int64_t n, int64_t got, int64_t first = 0) { return {false, n, got, first}; }

// Frame n: n on the left, -n on the right, 1000 + n on further channels.
std::vector<float> frames(int64_t first, int64_t count, int64_t channels)
{
    std::vector<float> v;
    for (auto n = static_cast<float>(first); n < static_cast<float>(first + count); ++n)
        for (int64_t c = 0; c < channels; ++c)
            v.push_back(c == 0 ? n : c == 1 ? -n : 1000 + n);
    return v;
}

}  // namespace

TEST(RingBuffer, ScenariosReadTheExpectedFrames)
{
    const struct { const char* what; int64_t capacity, channels; std::vector<Step> steps; } rows[] = {
        {"a new ring reads nothing", 16, 2, {get(4, 0)}},
        {"reads of 0 and writes of 0 change nothing", 16, 2, {put(5), get(0, 0), put(0), get(16, 5)}},
        {"a partial read leaves the rest, oldest first", 128, 2, {put(100), get(40, 40), get(100, 60, 40)}},
        {"6 + 4 frames into 10 slots read as empty", 10, 2, {put(6), put(4), get(10, 0)}},
        {"the capacity in pieces from mid-storage, then across the end", 10, 2,
         {put(3), get(10, 3), put(7), put(3), get(10, 0), put(9), get(10, 9, 13)}},
        {"the capacity at once reads as empty, more keeps the newest", 8, 2, {put(8), get(8, 0), put(11), get(8, 3, 16)}},
        {"an overrun of unread frames", 8, 2, {put(5), put(6), get(8, 3, 8)}},
        {"an overrun after a partial read", 8, 2, {put(6), get(4, 4), put(13), get(8, 7, 12)}},
        {"further channels are stored, never read", 6, 4, {put(4), get(6, 4), put(4), get(6, 4, 4)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        RingBuffer ring(row.capacity, row.channels);
        int64_t next = 0;
        for (const Step& s : row.steps) {
            if (s.isWrite) {
                ring.write(frames(next, s.n, row.channels).data(), s.n);
                next += s.n;
                continue;
            }
            std::vector<float> left(static_cast<size_t>(s.n + 1), 0.5f), right = left;  // no frame carries 0.5
            EXPECT_EQ(ring.read(left.data(), right.data(), s.n), s.got);
            auto want = frames(s.first, s.got, 2);
            want.resize(2 * left.size(), 0.5f);
            EXPECT_EQ(test::interleave(left, right), want);
        }
    }
}

TEST(RingBuffer, BothStereoSplitsMatchAPlainSplitBitForBit)
{
    const auto src = test::noise(80, 1.0);
    auto check = [&](void (*split)(const float*, float*, float*, int64_t)) {
        for (size_t count = 0; count <= 40; ++count) {  // ends in the vector body and in every tail
            std::vector<float> left(count), right(count);
            split(src.data(), left.data(), right.data(), static_cast<int64_t>(count));
            EXPECT_TRUE(test::sameBits(test::interleave(left, right), {src.begin(), src.begin() + 2 * count})) << count;
        }
    };
    check(detail::deinterleaveStereoSse2);
    if (!detail::cpuHasAvx2())
        GTEST_SKIP() << "this CPU has no AVX2";
    check(detail::deinterleaveStereoAvx2);
}
