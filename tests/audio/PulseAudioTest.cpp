// Against the shared PulseAudio daemon of the test script: a null sink
// "orvalen_test_sink" (48 kHz stereo, the default sink) and a real-time
// input "orvalen_test_input" on its monitor.

#include "audio/AudioDeviceManager.h"
#include "audio/AudioEngine.h"
#include "audio/PulseBackend.h"

#include "PulseTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <unistd.h>

namespace {

constexpr int kFirstAudioMs = 6000;  // a null sink may take seconds to deliver

class PulseAudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (sharedServer().empty() || !PulseBackend(sharedServer(), 2000).serverReachable())
            GTEST_SKIP() << "No PulseAudio server reachable through PULSE_SERVER "
                            "(scripts/test.sh starts one)";
    }

    // The listed id of the source with the server name `sourceName` (found
    // through its description, which must be unique).
    static uint32_t idOfSource(AudioEngine& engine, const std::string& sourceName)
    {
        PulseBackend backend(sharedServer());
        const auto sources = backend.listSources();
        if (!sources)
            return AudioDeviceInfo::kNoDeviceID;
        for (const auto& s : *sources) {
            if (s.name != sourceName)
                continue;
            for (const auto& d : engine.devices())
                if (d.name == QString::fromStdString(s.description))
                    return d.id;
        }
        return AudioDeviceInfo::kNoDeviceID;
    }

    // Plays 440 Hz at 0.5 left and 1250 Hz at 0.25 right; checks both come
    // back on their own channel at their frequency and level.
    static void expectToneThrough(AudioEngine& engine)
    {
        TonePlayer tone(sharedServer(), 440.0, 0.5f, 1250.0, 0.25f);
        ASSERT_TRUE(tone.ok());
        const auto got = collectSignal(*engine.ringBuffer(), 24000, kFirstAudioMs);
        ASSERT_TRUE(got.has_value()) << "no tone arrived";
        const ToneStats left = measureTone(got->left, engine.sampleRate());
        const ToneStats right = measureTone(got->right, engine.sampleRate());
        EXPECT_NEAR(left.frequency, 440.0, 0.5);
        EXPECT_NEAR(right.frequency, 1250.0, 1.0);
        EXPECT_NEAR(left.rms, 0.5 / std::sqrt(2.0), 0.01);
        EXPECT_NEAR(right.rms, 0.25 / std::sqrt(2.0), 0.01);
    }
};

}  // namespace

TEST_F(PulseAudioTest, ListingShowsInputsNotMonitorsAndKeepsIds)
{
    PulseBackend backend(sharedServer());
    const auto sources = backend.listSources();
    ASSERT_TRUE(sources.has_value());
    const auto find = [&](const std::string& name) {
        return std::find_if(sources->begin(), sources->end(),
                            [&](const SourceInfo& s) { return s.name == name; });
    };
    const auto input = find("orvalen_test_input");
    const auto monitor = find("orvalen_test_sink.monitor");
    ASSERT_NE(input, sources->end());
    ASSERT_NE(monitor, sources->end());
    EXPECT_FALSE(input->isMonitor);
    EXPECT_TRUE(monitor->isMonitor);
    EXPECT_EQ(input->channels, 2);
    EXPECT_EQ(input->sampleRate, 48000.0);
    EXPECT_EQ(backend.defaultOutputSampleRate(), 48000.0);

    const auto devices = AudioDeviceManager::listInputDevices(backend);
    ASSERT_FALSE(devices.isEmpty());
    EXPECT_EQ(devices.first().name, "System Audio");
    const auto named = [&](const std::string& description) {
        return std::find_if(devices.begin(), devices.end(), [&](const AudioDeviceInfo& d) {
            return d.name == QString::fromStdString(description);
        });
    };
    ASSERT_NE(named(input->description), devices.end());
    EXPECT_EQ(named(monitor->description), devices.end());
    const uint32_t id = named(input->description)->id;

    // Another source comes and goes: the first keeps its id throughout.
    const std::string extra = "orvalen_extra_" + std::to_string(getpid());
    const auto module = pactl(sharedServer(), {"load-module", "module-remap-source",
                                                "master=orvalen_test_sink.monitor",
                                                QString::fromStdString("source_name=" + extra),
                                                QString::fromStdString("source_properties=device.description=" + extra)});
    ASSERT_TRUE(module.has_value());
    const auto withExtra = AudioDeviceManager::listInputDevices(backend);
    EXPECT_EQ(withExtra.size(), devices.size() + 1);
    EXPECT_NE(std::find_if(withExtra.begin(), withExtra.end(),
                           [&](const AudioDeviceInfo& d) { return d.id == id; }),
              withExtra.end());
    pactl(sharedServer(), {"unload-module", QString::fromStdString(*module)});
    EXPECT_EQ(AudioDeviceManager::listInputDevices(backend), devices);
}

TEST_F(PulseAudioTest, SystemAudioCapturesWhatThePlaybackSinkPlays)
{
    AudioEngine engine;
    ASSERT_EQ(engine.selectedDeviceID(), AudioDeviceInfo::kSystemAudioID);
    engine.start();
    EXPECT_FALSE(engine.isRunning());  // asynchronous
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.isRunning(); }, kFirstAudioMs))
        << engine.lastError().toStdString();
    EXPECT_EQ(engine.sampleRate(), 48000.0);
    EXPECT_TRUE(engine.lastError().isEmpty());
    expectToneThrough(engine);
    engine.stop();
    EXPECT_FALSE(engine.isRunning());
}

TEST_F(PulseAudioTest, InputDeviceCapturesFromTheVirtualSource)
{
    AudioEngine engine;
    const uint32_t id = idOfSource(engine, "orvalen_test_input");
    ASSERT_NE(id, AudioDeviceInfo::kNoDeviceID);
    engine.setSelectedDeviceID(id);
    engine.setBufferSize(256);
    engine.start();
    ASSERT_TRUE(engine.isRunning());  // synchronous
    EXPECT_EQ(engine.sampleRate(), 48000.0);
    expectToneThrough(engine);
    engine.stop();
}

namespace {

// Records the size of every block, nothing else; count() may be read while
// blocks arrive, the sizes once the stream is closed.
class BlockLog final : public AudioStreamCallbacks {
public:
    BlockLog() : m_frames(1 << 16) {}
    void audioArrived(const AudioBlock& block) noexcept override
    {
        const int n = m_count.load(std::memory_order_relaxed);
        if (n < static_cast<int>(m_frames.size())) {
            m_frames[static_cast<size_t>(n)] = block.floatCount / 2;
            m_count.store(n + 1, std::memory_order_release);
        }
    }
    void streamStarted(double) noexcept override {}
    void streamFailed(const char*) noexcept override {}

    int count() const { return m_count.load(std::memory_order_acquire); }
    std::vector<int64_t> sizes() const
    {
        return {m_frames.begin(), m_frames.begin() + count()};
    }

private:
    std::vector<int64_t> m_frames;
    std::atomic<int> m_count{0};
};

}  // namespace

TEST_F(PulseAudioTest, InputBlocksComeAtTheAskedFragmentSize)
{
    PulseBackend backend(sharedServer());
    for (const int fragment : {256, 1024}) {
        // Nothing plays: a playing stream makes the null sink render in its
        // own chunk sizes, which then reach the monitor in pieces.
        BlockLog log;
        OpenResult opened = backend.openInput({"orvalen_test_input", 48000, 2, fragment}, log);
        ASSERT_TRUE(opened.stream) << opened.error;
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.count() > 0; }, kFirstAudioMs));
        const int first = log.count();
        QTest::qWait(1000);
        opened.stream.reset();  // no callback after this
        std::vector<int64_t> sizes = log.sizes();
        sizes.erase(sizes.begin(), sizes.begin() + first);
        ASSERT_GE(sizes.size(), 10u) << "fragment " << fragment;
        std::nth_element(sizes.begin(), sizes.begin() + sizes.size() / 2, sizes.end());
        const int64_t median = sizes[sizes.size() / 2];
        EXPECT_GE(median, fragment / 2) << "fragment " << fragment;
        EXPECT_LE(median, fragment + fragment / 2) << "fragment " << fragment;
    }
}

TEST_F(PulseAudioTest, RemovingTheCapturedSourceEndsCaptureAndReplugRestores)
{
    const std::string name = "orvalen_unplug_" + std::to_string(getpid());
    const QStringList load{"load-module", "module-remap-source", "master=orvalen_test_sink.monitor",
                           QString::fromStdString("source_name=" + name),
                           QString::fromStdString("source_properties=device.description=" + name)};
    auto module = pactl(sharedServer(), load);
    ASSERT_TRUE(module.has_value());

    AudioEngine engine;
    const uint32_t id = idOfSource(engine, name);
    ASSERT_NE(id, AudioDeviceInfo::kNoDeviceID);
    engine.setSelectedDeviceID(id);
    engine.start();
    ASSERT_TRUE(engine.isRunning());

    pactl(sharedServer(), {"unload-module", QString::fromStdString(*module)});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !engine.isRunning(); }, 5000));
    EXPECT_EQ(engine.lastError(), PulseBackend::kSourceLost);

    testing::internal::CaptureStdout();
    engine.start();  // not back yet
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "AudioEngine failed to start: The selected input device is not available\n");

    module = pactl(sharedServer(), load);
    ASSERT_TRUE(module.has_value());
    engine.refreshDevices();
    EXPECT_EQ(engine.selectedDeviceID(), id);  // the same id again
    engine.start();
    EXPECT_TRUE(engine.isRunning());
    EXPECT_TRUE(engine.lastError().isEmpty());
    engine.stop();
    pactl(sharedServer(), {"unload-module", QString::fromStdString(*module)});
}
