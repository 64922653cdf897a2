#include "audio/AudioEngine.h"

#include "AudioTestSupport.h"
#include "FakeAudioBackend.h"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Delivers blocks of `value` from its own thread, as a server's thread
// would, until told to end; counts the blocks the stream accepted after
// markClosed(). Paced at about a real stream's rate (64 frames a
// millisecond): a producer lapping the ring would overwrite frames the reader
// is copying, the ring's documented overrun, not what these tests look for.
class Producer {
public:
    Producer(std::shared_ptr<FakeAudioBackend::Stream> stream, float value)
        : m_thread([this, stream = std::move(stream), value] {
              std::vector<float> block(2 * 64, value);
              while (!m_end.load(std::memory_order_acquire)) {
                  const bool wasClosed = m_closed.load(std::memory_order_acquire);
                  if (stream->deliver(blockOf(block, 2)) && wasClosed)
                      m_lateBlocks.fetch_add(1, std::memory_order_relaxed);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~Producer()
    {
        m_end.store(true, std::memory_order_release);
        m_thread.join();
    }
    void markClosed() { m_closed.store(true, std::memory_order_release); }
    int lateBlocks() const { return m_lateBlocks.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> m_end{false};
    std::atomic<bool> m_closed{false};
    std::atomic<int> m_lateBlocks{0};
    std::thread m_thread;
};

}  // namespace

// A restart from system audio to an input device while the system stream is
// still delivering: once stop() has returned, only the new source may write
// the ring buffer. Two writers at once would be a data race (TSan) and would
// leave system-audio frames (1.0) after the switch.
TEST(AudioEngineConcurrency, AfterStopOnlyTheNewSourceWritesTheRing)
{
    auto backend = std::make_shared<FakeAudioBackend>();
    backend->sources = {{"mic", "Mic", 2, 48000, false}};
    AudioEngine engine(backend);
    auto& ring = *engine.ringBuffer();

    for (int round = 0; round < 20; ++round) {
        engine.setSelectedDeviceID(AudioDeviceInfo::kSystemAudioID);
        engine.start();
        auto system = backend->lastStream();
        // The start completes on the producer's thread, racing the main thread.
        std::thread starter([system] { system->start(48000.0); });
        Producer systemProducer(system, 1.0f);
        starter.join();
        ASSERT_TRUE(QTest::qWaitFor([&] { return engine.isRunning(); }, 2000));
        drain(ring);

        engine.stop();
        systemProducer.markClosed();
        drain(ring);  // what the system stream wrote before stop returned
        engine.setSelectedDeviceID(engine.devices().back().id);
        engine.start();
        ASSERT_TRUE(engine.isRunning());
        Producer inputProducer(backend->lastStream(), 2.0f);

        int64_t frames = 0;
        while (frames < 2000) {
            const auto got = drain(ring);
            for (const float v : got.left)
                ASSERT_EQ(v, 2.0f);
            frames += static_cast<int64_t>(got.left.size());
            std::this_thread::yield();
        }
        EXPECT_EQ(systemProducer.lateBlocks(), 0);
        engine.stop();
    }
}

// A stream lost on the server's thread while the main thread polls the
// engine: the failure arrives exactly once and leaves the engine idle.
TEST(AudioEngineConcurrency, AStreamLostOnAnotherThreadEndsCaptureOnce)
{
    auto backend = std::make_shared<FakeAudioBackend>();
    backend->sources = {{"mic", "Mic", 1, 48000, false}};
    AudioEngine engine(backend);
    engine.setSelectedDeviceID(engine.devices().back().id);
    int notifications = 0;
    QObject::connect(&engine, &AudioEngine::willChange, [&] { ++notifications; });

    for (int round = 0; round < 50; ++round) {
        engine.start();
        ASSERT_TRUE(engine.isRunning());
        auto stream = backend->lastStream();
        Producer producer(stream, 0.5f);
        std::thread killer([stream] { stream->fail("The audio source is no longer available"); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.isRunning(); }, 2000));
        killer.join();
        EXPECT_EQ(engine.lastError(), "The audio source is no longer available");
        EXPECT_TRUE(stream->isClosed());
    }
}
