// The receiver every capture runs on the sound server's thread: it converts
// and writes every block without allocating, and drops what arrives once
// stopped. AllocationCounter.cpp counts every operator new in the process.
#include "audio/Capture.h"

#include "AllocationCounter.h"
#include "AudioTestSupport.h"

TEST(CaptureReceiver, WritesWithoutAllocatingAndNothingOnceStopped)
{
    auto ring = std::make_shared<RingBuffer>(65536, 2);
    CaptureReceiver receiver(ring, nullptr);
    const auto mono = test::ramp(256), stereo = test::ramp(512), wide = test::ramp(6 * 256);
    const auto huge = test::ramp(2 * 20'000);  // in pieces through the scratch area

    const int64_t before = allocationCount();
    for (const AudioBlock& block : {blockOf(mono, 1), blockOf(stereo, 2), blockOf(stereo, 2, true),
                                    blockOf(wide, 6), blockOf(huge, 2, true), blockOf(huge, 1)})
        receiver.audioArrived(block);
    EXPECT_EQ(allocationCount() - before, 0);

    drain(*ring);
    receiver.audioArrived(blockOf(mono, 1));
    EXPECT_EQ(drain(*ring).right, mono);
    receiver.stop();
    receiver.audioArrived(blockOf(mono, 1));  // on its way when stop() ran
    EXPECT_TRUE(drain(*ring).left.empty());
}
