#include "audio/AudioEngine.h"

#include "AudioTestSupport.h"
#include "FakeAudioBackend.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

using V = std::vector<float>;

const SourceInfo kUsb{"alsa_input.usb", "USB Interface", 6, 96000, false};
const SourceInfo kMic{"alsa_input.mic", "Mic", 1, 44100, false};

uint32_t idOf(const AudioEngine& engine, const QString& name)
{
    for (const auto& d : engine.devices())
        if (d.name == name)
            return d.id;
    return AudioDeviceInfo::kNoDeviceID;
}

// Lets the main thread handle what the audio side reported.
void settle() { QTest::qWait(20); }

class AudioEngineTest : public ::testing::Test {
protected:
    AudioEngineTest() { backend->sources = {kUsb, kMic}; }

    std::unique_ptr<AudioEngine> makeEngine()
    {
        auto engine = std::make_unique<AudioEngine>(backend);
        QObject::connect(engine.get(), &AudioEngine::willChange, [this] { ++notifications; });
        return engine;
    }

    std::shared_ptr<FakeAudioBackend> backend = std::make_shared<FakeAudioBackend>();
    int notifications = 0;
};

}  // namespace

TEST_F(AudioEngineTest, StartsIdleWithSystemAudioSelectedAndAStereoRing)
{
    auto engine = makeEngine();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(engine->sampleRate(), 48000.0);
    EXPECT_TRUE(engine->lastError().isEmpty());
    EXPECT_EQ(engine->bufferSize(), 256);
    EXPECT_EQ(engine->devices().size(), 3);
    EXPECT_EQ(engine->selectedDeviceID(), AudioDeviceInfo::kSystemAudioID);
    ASSERT_TRUE(engine->ringBuffer());
    EXPECT_EQ(engine->ringBuffer()->capacity(), 65536);
    EXPECT_EQ(engine->ringBuffer()->channelCount(), 2);

    backend->reachable = false;
    auto offline = makeEngine();
    EXPECT_TRUE(offline->devices().isEmpty());
    EXPECT_EQ(offline->selectedDeviceID(), AudioDeviceInfo::kNoDeviceID);
}

TEST_F(AudioEngineTest, RefreshKeepsAListedSelectionAndRepairsAVanishedOne)
{
    auto engine = makeEngine();
    const uint32_t mic = idOf(*engine, "Mic");
    engine->setSelectedDeviceID(mic);

    backend->sources = {kMic, kUsb};  // reordered
    engine->refreshDevices();
    EXPECT_EQ(engine->selectedDeviceID(), mic);

    backend->sources = {kUsb};  // the mic is gone: back to system audio
    engine->refreshDevices();
    EXPECT_EQ(engine->selectedDeviceID(), AudioDeviceInfo::kSystemAudioID);

    engine->setSelectedDeviceID(idOf(*engine, "USB Interface"));
    backend->reachable = false;  // an empty list leaves the selection alone
    engine->refreshDevices();
    EXPECT_TRUE(engine->devices().isEmpty());
    EXPECT_NE(engine->selectedDeviceID(), AudioDeviceInfo::kNoDeviceID);
    EXPECT_NE(engine->selectedDeviceID(), AudioDeviceInfo::kSystemAudioID);
}

TEST_F(AudioEngineTest, EveryPublishedAssignmentNotifiesBeforeStoring)
{
    auto engine = makeEngine();
    std::vector<bool> runningWhenNotified;
    QObject::connect(engine.get(), &AudioEngine::willChange,
                     [&] { runningWhenNotified.push_back(engine->isRunning()); });
    notifications = 0;
    engine->setSelectedDeviceID(idOf(*engine, "Mic"));
    engine->setSelectedDeviceID(engine->selectedDeviceID());  // same value: still an assignment
    EXPECT_EQ(notifications, 2);

    notifications = 0;
    engine->stop();  // idle: still tells listeners
    EXPECT_EQ(notifications, 1);
    EXPECT_FALSE(engine->isRunning());

    engine->start();
    ASSERT_TRUE(engine->isRunning());
    EXPECT_FALSE(runningWhenNotified.back());  // the notification came before the store
}

TEST_F(AudioEngineTest, StartOpensTheSelectedInputAtItsRateAndFragmentSize)
{
    auto engine = makeEngine();
    engine->setSelectedDeviceID(idOf(*engine, "USB Interface"));
    engine->setBufferSize(1024);
    engine->start();

    ASSERT_EQ(backend->streams.size(), 1u);
    const auto& request = backend->lastStream()->input;
    EXPECT_EQ(request.sourceName, "alsa_input.usb");
    EXPECT_EQ(request.sampleRate, 96000.0);
    EXPECT_EQ(request.channels, 2);  // six offered, two taken
    EXPECT_EQ(request.fragmentFrames, 1024);
    EXPECT_TRUE(engine->isRunning());
    EXPECT_EQ(engine->sampleRate(), 96000.0);

    engine->start();  // already running
    EXPECT_EQ(backend->streams.size(), 1u);
}

TEST_F(AudioEngineTest, AbsurdBufferSizesAreHeldToWhatAServerCanDo)
{
    auto engine = makeEngine();
    engine->setSelectedDeviceID(idOf(*engine, "Mic"));
    for (const auto& [asked, used] : std::vector<std::pair<int, int>>{
             {0, AudioEngine::kMinFragmentFrames}, {-256, AudioEngine::kMinFragmentFrames},
             {1 << 30, AudioEngine::kMaxFragmentFrames}, {64, 64}}) {
        engine->setBufferSize(asked);
        engine->start();
        EXPECT_EQ(backend->lastStream()->input.fragmentFrames, used) << asked;
        EXPECT_EQ(engine->bufferSize(), asked);  // kept as given
        engine->stop();
    }
}

TEST_F(AudioEngineTest, AMonoInputReachesTheRingDoubled)
{
    auto engine = makeEngine();
    engine->setSelectedDeviceID(idOf(*engine, "Mic"));
    engine->start();
    EXPECT_EQ(backend->lastStream()->input.channels, 1);
    backend->lastStream()->deliver(blockOf(V{0.5f, -0.25f}, 1));
    const auto got = drain(*engine->ringBuffer());
    EXPECT_EQ(got.left, (V{0.5f, -0.25f}));
    EXPECT_EQ(got.right, (V{0.5f, -0.25f}));
}

TEST_F(AudioEngineTest, StartWithNothingSelectedDoesNothingAndSaysNothing)
{
    backend->reachable = false;
    auto engine = makeEngine();
    notifications = 0;
    testing::internal::CaptureStdout();
    engine->start();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(notifications, 0);
    EXPECT_TRUE(engine->lastError().isEmpty());
    EXPECT_TRUE(backend->streams.empty());
}

TEST_F(AudioEngineTest, AFailedInputStartPrintsOneLineAndLeavesLastErrorAlone)
{
    auto engine = makeEngine();
    backend->systemError = AudioBackend::kNoOutputDevice;  // leaves a message behind
    engine->start();
    settle();
    ASSERT_EQ(engine->lastError(), "No output device found");

    engine->setSelectedDeviceID(idOf(*engine, "Mic"));
    backend->inputError = "Device or resource busy";
    testing::internal::CaptureStdout();
    engine->start();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "AudioEngine failed to start: Device or resource busy\n");
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(engine->lastError(), "No output device found");
    EXPECT_EQ(engine->sampleRate(), 44100.0);  // published before the open failed

    // A selection that is no longer there fails the same way instead of
    // recording from some other source.
    backend->inputError.clear();
    backend->sources = {kUsb};
    testing::internal::CaptureStdout();
    engine->start();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "AudioEngine failed to start: The selected input device is not available\n");
    EXPECT_FALSE(engine->isRunning());
    EXPECT_TRUE(backend->streams.empty());
}

TEST_F(AudioEngineTest, SystemAudioStartsAsynchronouslyAtTheSinkRate)
{
    backend->outputRate = 44100.0;
    auto engine = makeEngine();
    engine->start();
    EXPECT_FALSE(engine->isRunning());  // pending
    EXPECT_TRUE(engine->isStartPending());
    auto stream = backend->lastStream();
    ASSERT_TRUE(stream && stream->isSystemAudio);
    EXPECT_EQ(stream->requestedRate, 44100.0);

    engine->start();  // a second start while pending does nothing
    EXPECT_EQ(backend->streams.size(), 1u);

    stream->start(44100.0);
    settle();
    EXPECT_TRUE(engine->isRunning());
    EXPECT_FALSE(engine->isStartPending());
    EXPECT_EQ(engine->sampleRate(), 44100.0);

    stream->deliver(blockOf(V{0.1f, 0.2f}, 2));
    EXPECT_EQ(drain(*engine->ringBuffer()).right, (V{0.2f}));
}

TEST_F(AudioEngineTest, SystemAudioFailuresBecomeLastErrorAndAllowAnotherStart)
{
    auto engine = makeEngine();
    backend->reachable = false;
    engine->start();
    EXPECT_EQ(engine->lastError(), AudioEngine::kNoSoundServer);
    EXPECT_FALSE(engine->isStartPending());

    backend->reachable = true;
    engine->start();
    EXPECT_TRUE(engine->lastError().isEmpty());  // cleared as the start begins
    backend->lastStream()->fail("Access denied");
    settle();
    EXPECT_EQ(engine->lastError(), "Access denied");
    EXPECT_FALSE(engine->isRunning());
    EXPECT_TRUE(backend->lastStream()->isClosed());

    engine->start();
    EXPECT_EQ(backend->streams.size(), 2u);
}

TEST_F(AudioEngineTest, StopCancelsAPendingSystemAudioStart)
{
    auto engine = makeEngine();
    engine->start();
    auto stream = backend->lastStream();
    // The server answers, but the main thread has not seen it before stop.
    stream->start(48000.0);
    engine->stop();
    settle();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(engine->isStartPending());
    EXPECT_TRUE(stream->isClosed());

    // Stopped before the server answered: the late answer has nowhere to go.
    engine->start();
    stream = backend->lastStream();
    engine->stop();
    EXPECT_FALSE(stream->start(48000.0));
    settle();
    EXPECT_FALSE(engine->isRunning());
}

TEST_F(AudioEngineTest, StopSilencesSystemAudioBeforeTheNextSourceStarts)
{
    auto engine = makeEngine();
    engine->start();
    auto system = backend->lastStream();
    system->start(48000.0);
    settle();
    ASSERT_TRUE(engine->isRunning());

    engine->stop();
    engine->setSelectedDeviceID(idOf(*engine, "Mic"));
    engine->start();
    EXPECT_FALSE(system->deliver(blockOf(V{9, 9}, 2)));
    backend->lastStream()->deliver(blockOf(V{1}, 1));
    EXPECT_EQ(drain(*engine->ringBuffer()).left, (V{1}));
}

TEST_F(AudioEngineTest, ChangingTheSelectionWhileRunningKeepsTheOldSource)
{
    auto engine = makeEngine();
    engine->setSelectedDeviceID(idOf(*engine, "Mic"));
    engine->start();
    engine->setSelectedDeviceID(idOf(*engine, "USB Interface"));
    EXPECT_TRUE(engine->isRunning());
    EXPECT_EQ(backend->streams.size(), 1u);
    EXPECT_FALSE(backend->lastStream()->isClosed());
    EXPECT_EQ(backend->lastStream()->input.sourceName, "alsa_input.mic");
}

TEST_F(AudioEngineTest, ALostStreamStopsCaptureUntilStartedAgain)
{
    auto engine = makeEngine();
    engine->setSelectedDeviceID(idOf(*engine, "Mic"));
    engine->start();
    auto input = backend->lastStream();
    input->fail("The audio source is no longer available");
    settle();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(engine->lastError(), "The audio source is no longer available");
    EXPECT_TRUE(input->isClosed());

    engine->start();  // the source is back
    EXPECT_TRUE(engine->isRunning());
    EXPECT_TRUE(engine->lastError().isEmpty());

    engine->stop();
    engine->setSelectedDeviceID(AudioDeviceInfo::kSystemAudioID);
    engine->start();
    auto system = backend->lastStream();
    system->start(48000.0);
    settle();
    system->fail("Lost the connection to the sound server");
    settle();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_EQ(engine->lastError(), "Lost the connection to the sound server");
    EXPECT_TRUE(system->isClosed());
}

TEST_F(AudioEngineTest, DestroyingTheEngineClosesItsStreams)
{
    auto engine = makeEngine();
    engine->setSelectedDeviceID(idOf(*engine, "Mic"));
    engine->start();
    auto input = backend->lastStream();
    engine.reset();
    EXPECT_FALSE(input->deliver(blockOf(V{1}, 1)));
}
