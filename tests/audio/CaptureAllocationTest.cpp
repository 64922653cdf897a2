// The receivers that run on the sound server's thread: they convert and write
// every block without allocating, and drop what arrives once stopped.
// AllocationCounter.cpp counts every operator new in the process.
#include "audio/AudioTapProcessor.h"
#include "audio/SystemAudioCapture.h"

#include "AllocationCounter.h"
#include "AudioTestSupport.h"
#include "FakeAudioBackend.h"

TEST(CaptureReceivers, WriteWithoutAllocatingAndNothingOnceStopped)
{
    auto ring = std::make_shared<RingBuffer>(65536, 2);
    AudioTapProcessor tap(ring, nullptr);
    FakeAudioBackend backend;
    SystemAudioCapture capture(ring, backend, nullptr);
    const auto mono = test::ramp(256), stereo = test::ramp(512), wide = test::ramp(6 * 256);
    const auto huge = test::ramp(2 * 20'000);  // in pieces through the scratch area
    const std::vector<std::pair<AudioStreamCallbacks*, std::function<void()>>> receivers{
        {&tap, [&] { tap.stop(); }}, {&capture, [&] { capture.stop(); }}};

    const int64_t before = allocationCount();
    for (const AudioBlock& block : {blockOf(mono, 1), blockOf(stereo, 2), blockOf(stereo, 2, true),
                                    blockOf(wide, 6), blockOf(huge, 2, true), blockOf(huge, 1)})
        for (const auto& [receiver, stop] : receivers)
            receiver->audioArrived(block);
    EXPECT_EQ(allocationCount() - before, 0);

    for (const auto& [receiver, stop] : receivers) {
        drain(*ring);
        receiver->audioArrived(blockOf(mono, 1));
        EXPECT_EQ(drain(*ring).right, mono);
        stop();
        receiver->audioArrived(blockOf(mono, 1));  // on its way when stop() ran
        EXPECT_TRUE(drain(*ring).left.empty());
    }
}
