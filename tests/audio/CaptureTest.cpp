#include "audio/AudioTapProcessor.h"
#include "audio/StreamStatus.h"
#include "audio/SystemAudioCapture.h"

#include "AudioTestSupport.h"
#include "FakeAudioBackend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using V = std::vector<float>;

struct Counter {
    int calls = 0;
    std::function<void()> fn() { return [this] { ++calls; }; }
};

}  // namespace

TEST(AudioTapProcessor, WritesUntilStoppedThenIgnoresBlocks)
{
    auto ring = std::make_shared<RingBuffer>(64, 2);
    AudioTapProcessor tap(ring, nullptr);
    const V mono{0.1f, 0.2f};
    tap.audioArrived(blockOf(mono, 1));
    tap.stop();
    EXPECT_TRUE(tap.isStopped());
    tap.audioArrived(blockOf(V{9, 9, 9, 9}, 2));

    const auto got = drain(*ring);
    EXPECT_EQ(got.left, mono);
    EXPECT_EQ(got.right, mono);  // mono doubled
}

TEST(StreamStatus, ReportsEachChangeOnceAndTheFirstFailureWins)
{
    Counter changes;
    StreamStatus status(changes.fn());
    EXPECT_EQ(status.state(), StreamStatus::State::starting);

    status.markRunning(44100.0);
    status.markRunning(96000.0);  // a second start report changes nothing
    EXPECT_EQ(status.state(), StreamStatus::State::running);
    EXPECT_EQ(status.sampleRate(), 44100.0);
    EXPECT_EQ(changes.calls, 1);

    status.markFailed("first");
    status.markFailed("second");
    status.markRunning(48000.0);  // no way back from a failure
    EXPECT_EQ(status.state(), StreamStatus::State::failed);
    EXPECT_STREQ(status.failureReason(), "first");
    EXPECT_EQ(changes.calls, 2);
}

class SystemAudioCaptureTest : public ::testing::Test {
protected:
    std::shared_ptr<RingBuffer> ring = std::make_shared<RingBuffer>(1024, 2);
    FakeAudioBackend backend;
    Counter changes;
};

TEST_F(SystemAudioCaptureTest, RecordsAtTheDefaultSinkRateOnceStarted)
{
    backend.outputRate = 44100.0;
    SystemAudioCapture capture(ring, backend, changes.fn());
    capture.start();
    auto stream = backend.lastStream();
    ASSERT_TRUE(stream && stream->isSystemAudio);
    EXPECT_EQ(stream->requestedRate, 44100.0);
    EXPECT_EQ(stream->fragmentFrames, SystemAudioCapture::kFragmentFrames);
    EXPECT_EQ(capture.capturedSampleRate(), 48000.0);  // not yet started

    ASSERT_TRUE(stream->start(44100.0));
    EXPECT_EQ(capture.status().state(), StreamStatus::State::running);
    EXPECT_EQ(capture.capturedSampleRate(), 44100.0);
    EXPECT_EQ(changes.calls, 1);

    const V runs{1, 2, 3, -1, -2, -3};
    stream->deliver(blockOf(runs, 2, true));
    const auto got = drain(*ring);
    EXPECT_EQ(got.left, (V{1, 2, 3}));
    EXPECT_EQ(got.right, (V{-1, -2, -3}));
}

TEST_F(SystemAudioCaptureTest, FallsBackTo48kHzWhenTheSinkRateIsUnusable)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const std::optional<double> rate : {std::optional<double>{}, std::optional(0.0),
                                             std::optional(-44100.0), std::optional(nan),
                                             std::optional(0.5)}) {
        backend.outputRate = rate;
        SystemAudioCapture capture(ring, backend, nullptr);
        capture.start();
        EXPECT_EQ(backend.lastStream()->requestedRate, 48000.0);
    }
    backend.outputRate = 22050.9;  // the server only runs whole rates
    SystemAudioCapture capture(ring, backend, nullptr);
    capture.start();
    EXPECT_EQ(backend.lastStream()->requestedRate, 22050.0);
}

TEST_F(SystemAudioCaptureTest, AFailedStartCarriesTheServersText)
{
    backend.systemError = AudioBackend::kNoOutputDevice;
    SystemAudioCapture refused(ring, backend, changes.fn());
    refused.start();
    EXPECT_EQ(refused.status().state(), StreamStatus::State::failed);
    EXPECT_EQ(refused.failureText(), "No output device found");
    EXPECT_EQ(changes.calls, 1);
    EXPECT_TRUE(backend.streams.empty());

    backend.systemError.clear();
    SystemAudioCapture later(ring, backend, changes.fn());
    later.start();
    backend.lastStream()->fail("Access denied");
    EXPECT_EQ(later.failureText(), "Access denied");
    EXPECT_EQ(later.capturedSampleRate(), 48000.0);
}

TEST_F(SystemAudioCaptureTest, StopSilencesAndClosesTheStreamAtOnce)
{
    SystemAudioCapture capture(ring, backend, nullptr);
    capture.start();
    auto stream = backend.lastStream();
    stream->start(48000.0);
    capture.stop();
    EXPECT_TRUE(stream->isClosed());
    EXPECT_FALSE(stream->deliver(blockOf(V{1, 1}, 2)));
    // Even a block already on its way when stop ran is not written.
    capture.audioArrived(blockOf(V{1, 1}, 2));
    EXPECT_TRUE(drain(*ring).left.empty());
}
