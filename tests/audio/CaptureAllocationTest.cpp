// The capture callbacks run on the sound server's thread: converting and
// writing a block must not allocate. Counts every operator new in the process.
#include "audio/AudioTapProcessor.h"
#include "audio/SystemAudioCapture.h"

#include "AllocationCounter.h"
#include "AudioTestSupport.h"
#include "FakeAudioBackend.h"

#include <gtest/gtest.h>

namespace {
using V = std::vector<float>;
}

TEST(AudioTapProcessor, ConversionAndWriteAllocateNothing)
{
    auto ring = std::make_shared<RingBuffer>(65536, 2);
    AudioTapProcessor tap(ring, nullptr);
    FakeAudioBackend backend;
    auto capture = std::make_unique<SystemAudioCapture>(ring, backend, nullptr);
    const V mono = ramp(256);
    const V stereo = ramp(512);
    const V wide = ramp(6 * 256);
    const V huge = ramp(2 * 20'000);  // pieces through the scratch area

    const int64_t before = allocationCount();
    for (int i = 0; i < 100; ++i) {
        tap.process(blockOf(mono, 1));
        tap.process(blockOf(stereo, 2));
        tap.process(blockOf(stereo, 2, true));
        tap.process(blockOf(wide, 6));
        tap.process(blockOf(huge, 2, true));
        capture->audioArrived(blockOf(mono, 1));
        capture->audioArrived(blockOf(huge, 1));
    }
    EXPECT_EQ(allocationCount() - before, 0);
}
