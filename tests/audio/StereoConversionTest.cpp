#include "audio/StereoConversion.h"

#include "AudioTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using V = std::vector<float>;

// In a ring of three channels the third is Z: a source's third channel, or
// full brightness from one without.
TEST(StereoConversion, EveryLayoutArrivesAsStereoFramesAndZ)
{
    const V left = test::ramp(10'000), right = test::ramp(10'000, 100'000.0f);  // longer than the scratch
    V runs = left;
    runs.insert(runs.end(), right.begin(), right.end());
    const struct { const char* what; V samples; int channels; bool nonInterleaved; V left, right, z = {}; } rows[] = {
        {"stereo, bit for bit", {0.5f, -0.5f, NAN, INFINITY, -INFINITY, 1e-40f, -0.0f, 1}, 2, false,
         {0.5f, NAN, -INFINITY, -0.0f}, {-0.5f, INFINITY, 1e-40f, 1}},
        {"three channels and part of a frame", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 3, false, {0, 3, 6}, {1, 4, 7}, {2, 5, 8}},
        {"5.1", test::ramp(12), 6, false, {0, 6}, {1, 7}, {2, 8}},
        {"mono", {0.25f, -0.75f, 1}, 1, false, {0.25f, -0.75f, 1}, {0.25f, -0.75f, 1}},
        {"mono, non-interleaved", {0.25f, -0.75f, 1}, 1, true, {0.25f, -0.75f, 1}, {0.25f, -0.75f, 1}},
        {"two runs", {0, 1, 2, 3, 10, 11, 12, 13}, 2, true, {0, 1, 2, 3}, {10, 11, 12, 13}},
        {"three runs", {0, 1, 10, 11, 20, 21}, 3, true, {0, 1}, {10, 11}, {20, 21}},
        {"no channels named", {4, 5, 6}, 0, false, {4, 5, 6}, {4, 5, 6}},
        {"no channels named, non-interleaved", {4, 5, 6}, 0, true, {4, 5, 6}, {4, 5, 6}},
        {"a negative channel count", {4, 5, 6}, -3, false, {4, 5, 6}, {4, 5, 6}},
        {"half a frame", {1}, 2, false, {}, {}},
        {"long stereo", test::interleave(left, right), 2, false, left, right},
        {"long mono", left, 1, false, left, left},
        {"long runs", runs, 2, true, left, right},
        {"long, three channels", test::ramp(30'000), 3, false, test::generate(10'000, 1.0, [](double i) { return 3 * i; }),
         test::generate(10'000, 1.0, [](double i) { return 3 * i + 1; }),
         test::generate(10'000, 1.0, [](double i) { return 3 * i + 2; })},
    };
    for (const auto& r : rows)
        for (int64_t channels : {2, 3}) {
            SCOPED_TRACE(std::string(r.what) + (channels == 3 ? ", with Z" : ""));
            RingBuffer ring(65536, channels);
            EXPECT_EQ(StereoBlockWriter().write(blockOf(r.samples, r.channels, r.nonInterleaved), ring),
                      static_cast<int64_t>(r.left.size()));
            const StereoFrames got = drain(ring);
            const V z = channels == 3 && !r.z.empty() ? r.z : V(r.left.size(), RingBuffer::kFullZ);
            EXPECT_TRUE(test::sameBits(got.left, r.left) && test::sameBits(got.right, r.right) &&
                        test::sameBits(got.z, z));
        }
}

TEST(StereoConversion, BlocksWithoutSamplesWriteNothing)
{
    RingBuffer ring(16, 2);
    const float one = 1.0f;
    for (const AudioBlock& block :
         {AudioBlock{nullptr, 8, 2, false}, AudioBlock{&one, 0, 2, false}, AudioBlock{&one, -5, 1, false}})
        EXPECT_EQ(StereoBlockWriter().write(block, ring), 0);
    EXPECT_TRUE(drain(ring).left.empty());
}
