#include "audio/StereoConversion.h"

#include "AudioTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

StereoFrames convert(const std::vector<float>& samples, int channels, bool nonInterleaved = false)
{
    RingBuffer ring(65536, 2);
    StereoBlockWriter writer;
    const int64_t written = writer.write(blockOf(samples, channels, nonInterleaved), ring);
    StereoFrames got = drain(ring);
    EXPECT_EQ(written, static_cast<int64_t>(got.left.size()));
    return got;
}

using V = std::vector<float>;

}  // namespace

TEST(StereoConversion, InterleavedStereoGoesInUnchangedIncludingNaNAndInfinity)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const auto got = convert({0.5f, -0.5f, nan, inf, -inf, 1e-40f}, 2);
    ASSERT_EQ(got.left.size(), 3u);
    EXPECT_EQ(got.left[0], 0.5f);
    EXPECT_EQ(got.right[0], -0.5f);
    EXPECT_TRUE(std::isnan(got.left[1]));
    EXPECT_EQ(got.right[1], inf);
    EXPECT_EQ(got.left[2], -inf);
    EXPECT_EQ(got.right[2], 1e-40f);  // denormals are not flushed
}

TEST(StereoConversion, InterleavedWideLayoutsKeepTheirFirstTwoChannels)
{
    // Three channels: frames (0,1,2) (3,4,5) (6,7,8); a trailing partial frame is ignored.
    auto got = convert({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 3);
    EXPECT_EQ(got.left, (V{0, 3, 6}));
    EXPECT_EQ(got.right, (V{1, 4, 7}));

    got = convert(ramp(12), 6);  // 5.1: front left and front right only
    EXPECT_EQ(got.left, (V{0, 6}));
    EXPECT_EQ(got.right, (V{1, 7}));
}

TEST(StereoConversion, MonoIsDoubledInEitherLayout)
{
    for (const bool nonInterleaved : {false, true}) {
        const auto got = convert({0.25f, -0.75f, 1.0f}, 1, nonInterleaved);
        EXPECT_EQ(got.left, (V{0.25f, -0.75f, 1.0f}));
        EXPECT_EQ(got.right, got.left);
    }
}

TEST(StereoConversion, NonInterleavedChannelRunsAreWoven)
{
    // Two runs of four: left 0..3, right 10..13.
    auto got = convert({0, 1, 2, 3, 10, 11, 12, 13}, 2, true);
    EXPECT_EQ(got.left, (V{0, 1, 2, 3}));
    EXPECT_EQ(got.right, (V{10, 11, 12, 13}));

    // Three runs of two: the third run never appears.
    got = convert({0, 1, 10, 11, 20, 21}, 3, true);
    EXPECT_EQ(got.left, (V{0, 1}));
    EXPECT_EQ(got.right, (V{10, 11}));
}

TEST(StereoConversion, ABlockNamingNoChannelsIsReadAsOneChannel)
{
    for (const int channels : {0, -3}) {
        for (const bool nonInterleaved : {false, true}) {
            const auto got = convert({4, 5, 6}, channels, nonInterleaved);
            EXPECT_EQ(got.left, (V{4, 5, 6}));
            EXPECT_EQ(got.right, (V{4, 5, 6}));
        }
    }
}

TEST(StereoConversion, BlocksWithoutSamplesWriteNothing)
{
    RingBuffer ring(16, 2);
    StereoBlockWriter writer;
    const float one = 1.0f;
    EXPECT_EQ(writer.write(AudioBlock{nullptr, 8, 2, false}, ring), 0);
    EXPECT_EQ(writer.write(AudioBlock{&one, 0, 2, false}, ring), 0);
    EXPECT_EQ(writer.write(AudioBlock{&one, -5, 1, false}, ring), 0);
    EXPECT_EQ(writer.write(AudioBlock{&one, 1, 2, false}, ring), 0);  // half a frame
    EXPECT_TRUE(drain(ring).left.empty());
}

TEST(StereoConversion, BlocksLongerThanTheScratchArriveWholeAndInOrder)
{
    constexpr int64_t kFrames = 10'000;  // more than StereoBlockWriter::kMaxFrames
    static_assert(kFrames > StereoBlockWriter::kMaxFrames);

    const auto mono = convert(ramp(kFrames), 1);
    ASSERT_EQ(mono.left.size(), static_cast<size_t>(kFrames));
    EXPECT_EQ(mono.left, ramp(kFrames));
    EXPECT_EQ(mono.right, ramp(kFrames));

    // Non-interleaved: left run 0.., right run 100000..
    std::vector<float> runs = ramp(kFrames);
    const auto right = ramp(kFrames, 100000.0f);
    runs.insert(runs.end(), right.begin(), right.end());
    const auto woven = convert(runs, 2, true);
    EXPECT_EQ(woven.left, ramp(kFrames));
    EXPECT_EQ(woven.right, right);

    const auto stereo = convert(ramp(2 * kFrames), 2);
    ASSERT_EQ(stereo.left.size(), static_cast<size_t>(kFrames));
    EXPECT_EQ(stereo.left.back(), static_cast<float>(2 * kFrames - 2));
    EXPECT_EQ(stereo.right.back(), static_cast<float>(2 * kFrames - 1));
}

TEST(StereoConversion, PartialRangesStartAtTheirFirstFrame)
{
    // The piece-wise path relies on interleaveStereo honouring `first`.
    const std::vector<float> runs{0, 1, 2, 3, 10, 11, 12, 13};
    float out[4] = {};
    interleaveStereo(blockOf(runs, 2, true), 2, 2, out);
    EXPECT_EQ((V{out[0], out[1], out[2], out[3]}), (V{2, 12, 3, 13}));

    const std::vector<float> wide = ramp(9);  // three frames of three
    interleaveStereo(blockOf(wide, 3), 1, 2, out);
    EXPECT_EQ((V{out[0], out[1], out[2], out[3]}), (V{3, 4, 6, 7}));
}
