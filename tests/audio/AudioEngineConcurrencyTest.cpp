#include "audio/AudioEngine.h"

#include "AudioTestSupport.h"
#include "FakeAudioBackend.h"

#include <algorithm>
#include <thread>

namespace {

// Feeds blocks of `value` from a thread of its own, as a server's thread would,
// until the stream is closed (or for 3 s at most). At a real stream's pace of 64
// frames a millisecond: lapping the ring would overwrite frames the reader is
// copying, the ring's documented overrun.
std::thread feed(std::shared_ptr<FakeAudioBackend::Stream> stream, float value)
{
    return std::thread([stream, block = std::vector<float>(128, value)] {
        for (int i = 0; i < 3000 && stream->deliver(blockOf(block, 2)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
}

}  // namespace

// The server's threads start, feed and lose streams while the main thread
// switches from system audio to an input. Once stop() has returned only the
// new source may write the ring: two writers at once would be a data race and
// would leave system-audio frames (1.0) behind.
TEST(AudioEngineConcurrency, AfterStopOnlyTheNewSourceWritesTheRing)
{
    auto backend = std::make_shared<FakeAudioBackend>();
    backend->sources = {{"mic", "Mic", 2, 48000, false}};
    AudioEngine engine(backend);
    for (int round = 0; round < 20; ++round) {
        engine.setSelectedDeviceID(AudioDeviceInfo::kSystemAudioID);
        engine.start();
        auto system = backend->lastStream();
        std::thread starter([system] { system->start(48000.0); });
        std::thread systemAudio = feed(system, 1.0f);
        EXPECT_TRUE(test::waitFor([&] { return engine.isRunning(); }, 2000));
        engine.stop();
        drain(*engine.ringBuffer());  // what it wrote before stop returned

        engine.setSelectedDeviceID(engine.devices().back().id);
        engine.start();
        auto input = backend->lastStream();
        std::thread mic = feed(input, 2.0f);
        std::vector<float> after;
        EXPECT_TRUE(test::waitFor([&] {
            const auto got = drain(*engine.ringBuffer());
            after.insert(after.end(), got.left.begin(), got.left.end());
            return after.size() >= 2000;
        }, 2000));
        EXPECT_EQ(std::count(after.begin(), after.end(), 2.0f), std::ssize(after));

        std::thread killer([input] { input->fail("Source gone"); });
        EXPECT_TRUE(test::waitFor([&] { return !engine.isRunning(); }, 2000));
        EXPECT_EQ(engine.lastError(), "Source gone");
        EXPECT_TRUE(system->isClosed() && input->isClosed());
        for (std::thread* t : {&starter, &systemAudio, &mic, &killer})
            t->join();
    }
}
