// The engine and its source list, against a scripted server.
#include "audio/AudioDeviceManager.h"
#include "audio/AudioEngine.h"
#include "audio/PulseBackend.h"

#include "AudioTestSupport.h"
#include "FakeAudioBackend.h"

#include <limits>
#include <map>
#include <set>

namespace {

constexpr uint32_t kSystemAudio = AudioDeviceInfo::kSystemAudioID;
const SourceInfo kUsb{"alsa_input.usb", "USB Interface", 6, 96000, false};
const SourceInfo kMic{"alsa_input.mic", "Mic", 1, 44100, false};

class AudioEngineTest : public ::testing::Test {
protected:
    uint32_t idOf(const QString& name) const
    {
        for (const auto& d : engine->devices())
            if (d.name == name)
                return d.id;
        return AudioDeviceInfo::kNoDeviceID;
    }
    void select(const QString& name) { engine->setSelectedDeviceID(idOf(name)); }
    // The server answers the last stream's start; the main thread hears of it.
    void answer(double rate = 48000.0)
    {
        backend->lastStream()->start(rate);
        test::settle();
    }

    std::shared_ptr<FakeAudioBackend> backend = [] {
        auto b = std::make_shared<FakeAudioBackend>();
        b->sources = {kUsb, kMic};
        return b;
    }();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>(backend);
};

}  // namespace

// System Audio first, then the inputs in the server's order. Ids come from the
// names alone: reordering and re-plugging leave each where it was, and no two
// sources share one.
TEST_F(AudioEngineTest, ListsSystemAudioThenTheInputsUnderIdsOfTheirOwn)
{
    backend->sources = {{"out.monitor", "Monitor of Speakers", 2, 48000, true}, kUsb,
                        {"nameless", "", 2, 48000, false}, {"dead", "No Channels", 0, 48000, false}, kMic};
    engine->refreshDevices();
    const auto& d = engine->devices();
    ASSERT_EQ(d.size(), 4);
    EXPECT_EQ(d, (QList<AudioDeviceInfo>{{kSystemAudio, "System Audio", 2, true}, {d[1].id, "USB Interface", 6, false},
                                         {d[2].id, "Unknown Device", 2, false}, {d[3].id, "Mic", 1, false}}));

    const SourceInfo pci{"alsa_input.pci", "PCI", 2, 48000, false}, fresh{"new", "New", 2, 48000, false};
    std::map<QString, uint32_t> first;
    for (const auto& sources : std::vector<std::vector<SourceInfo>>{{kUsb, pci, kMic}, {fresh, kUsb}, {kMic, fresh, kUsb, pci}}) {
        backend->sources = sources;
        engine->refreshDevices();
        std::set<uint32_t> ids;
        for (const auto& device : engine->devices()) {
            EXPECT_TRUE(ids.insert(device.id).second) << device.id;
            EXPECT_EQ(first.emplace(device.name, device.id).first->second, device.id) << device.name.toStdString();
        }
    }
}

TEST(AudioDeviceManager, IdsSkipTheReservedValuesAndResolveCollisionsByName)
{
    const AudioDeviceManager::NameHash zero = [](std::string_view) { return 0u; },
                                       allOnes = [](std::string_view) { return 0xFFFFFFFFu; },
                                       seven = [](std::string_view) { return 7u; };
    EXPECT_EQ(AudioDeviceManager::assignDeviceIDs({"a"}, zero), std::vector<uint32_t>{1});
    EXPECT_EQ(AudioDeviceManager::assignDeviceIDs({"a"}, allOnes), std::vector<uint32_t>{1});  // past 0 too
    // The same outcome whatever the server's order.
    EXPECT_EQ(AudioDeviceManager::assignDeviceIDs({"b", "a", "c"}, seven), (std::vector<uint32_t>{8, 7, 9}));
    EXPECT_EQ(AudioDeviceManager::assignDeviceIDs({"c", "a", "b"}, seven), (std::vector<uint32_t>{9, 7, 8}));
}

TEST_F(AudioEngineTest, RefreshRepairsOnlyASelectionThatIsNoLongerListed)
{
    EXPECT_EQ(engine->selectedDeviceID(), kSystemAudio);  // the constructor's own refresh
    const uint32_t mic = idOf("Mic"), usb = idOf("USB Interface"), none = AudioDeviceInfo::kNoDeviceID;
    struct Row {
        uint32_t selected;
        std::vector<SourceInfo> sources;  // none: no server
        uint32_t after;
    };
    for (const Row& row : std::vector<Row>{{mic, {kMic, kUsb}, mic}, {mic, {kUsb}, kSystemAudio},
                                           {none, {kUsb}, kSystemAudio}, {usb, {}, usb}}) {
        engine->setSelectedDeviceID(row.selected);
        backend->sources = row.sources;
        backend->reachable = !row.sources.empty();
        engine->refreshDevices();
        EXPECT_EQ(engine->selectedDeviceID(), row.after) << row.selected;
    }
    backend->reachable = false;
    EXPECT_EQ(AudioEngine(backend).selectedDeviceID(), none);
}

// News that keeps coming every 10 ms is still read about once per burst
// window: not once per event, and not only once it stops. A source replaced
// by another within a burst (the same count) is seen; the selection stays.
TEST_F(AudioEngineTest, SteadyServerNewsIsReadOncePerBurst)
{
    select("USB Interface");
    const uint32_t usb = engine->selectedDeviceID();
    const size_t before = backend->queries.size();
    backend->sources = {kUsb, {"new", "New", 2, 48000, false}};
    for (int i = 0; i < 40; ++i)
        backend->changed(), QTest::qWait(10);
    const size_t read = backend->queries.size() - before;
    EXPECT_TRUE(read >= 2 && read <= 30) << read;
    EXPECT_TRUE(idOf("New") != 0 && idOf("Mic") == 0);
    EXPECT_EQ(engine->selectedDeviceID(), usb);
}

// A lost server is asked after waits that double up to the cap; capture is
// given up after the set number of attempts, with the server still gone (the
// list is then watched, from the shortest wait again) or back without the
// source. A start that the user stops before the server answers opens nothing.
TEST_F(AudioEngineTest, ReconnectBacksOffAndGivesUpAfterItsAttempts)
{
    using namespace std::chrono;
    engine->setRetryPolicy({10, 160, 5});
    const auto gap = [&](size_t i) { return duration_cast<milliseconds>(backend->queries[i] - backend->queries[i - 1]).count(); };
    for (const bool serverBack : {true, false}) {
        SCOPED_TRACE(serverBack);
        backend->reachable = true, backend->sources = {kUsb, kMic};
        engine->refreshDevices(), select("Mic"), engine->start();
        ASSERT_TRUE(engine->isRunning());
        const size_t lost = backend->queries.size();
        size_t givenUp = 0;  // queries asked when capture was given up
        const auto watch = QObject::connect(engine.get(), &AudioEngine::willChange, [&] {
            if (engine->isRunning())
                givenUp = backend->queries.size();
        });
        backend->reachable = serverBack, backend->sources = {kUsb};
        backend->lastStream()->fail(AudioBackend::kServerLost);
        EXPECT_TRUE(test::waitFor([&] { return !engine->isRunning(); }, 3000));
        QObject::disconnect(watch);
        EXPECT_EQ(engine->lastError(), serverBack ? AudioBackend::kSourceLost : AudioBackend::kServerLost);
        ASSERT_EQ(givenUp - lost, 6u);  // five attempts, then whether the server is there
        for (const auto& [i, waitMs] : std::vector<std::pair<size_t, int>>{{1, 20}, {2, 40}, {3, 80}, {4, 160}})
            EXPECT_GE(gap(lost + i), waitMs * 19 / 20 - 2) << i;  // a coarse timer may fire 5 % early
        QTest::qWait(100);
        EXPECT_TRUE(serverBack ? backend->queries.size() == givenUp : backend->queries.size() > givenUp && gap(givenUp) < 100);
    }
    backend->holdAnswers = true, backend->reachable = true, backend->sources = {kUsb, kMic};
    engine->start(), engine->stop(), backend->answerHeld();
    EXPECT_TRUE(!engine->isRunning() && !engine->isStartPending());
    EXPECT_EQ(backend->streams.size(), 2u);
}

TEST(PulseBackend, PipeWireIsAskedForItsLargestQuantumAtTheStreamsRate)
{
    for (const auto& [frames, rate, pipewire, asked] : std::vector<std::tuple<int, double, bool, int>>{
             {256, 48000, false, 256}, {256, 48000, true, 2048}, {4096, 48000, true, 4096},
             {256, 96000, true, 4096}, {256, 44100, true, 1882}, {256, 0, true, 256}})
        EXPECT_EQ(PulseBackend::fragmentFor(frames, rate, pipewire), asked) << frames << " " << rate << " " << pipewire;
}

TEST_F(AudioEngineTest, EveryPublishedAssignmentNotifiesBeforeStoring)
{
    std::vector<bool> runningWhenNotified;
    QObject::connect(engine.get(), &AudioEngine::willChange,
                     [&] { runningWhenNotified.push_back(engine->isRunning()); });
    select("Mic");
    engine->setSelectedDeviceID(engine->selectedDeviceID());  // the same value is still an assignment
    engine->stop();                                           // idle: listeners still hear of it
    EXPECT_EQ(runningWhenNotified.size(), 3u);
    engine->start();
    ASSERT_TRUE(engine->isRunning());
    EXPECT_FALSE(runningWhenNotified.back());
}

TEST_F(AudioEngineTest, AnInputOpensAtItsRateWithItsOwnChannelsAndAFragmentAServerTakes)
{
    select("USB Interface");
    for (const auto& [asked, used] : std::vector<std::pair<int, int>>{
             {1024, 1024}, {0, AudioEngine::kMinFragmentFrames}, {1 << 30, AudioEngine::kMaxFragmentFrames}}) {
        engine->setBufferSize(asked);
        engine->start();
        engine->start();  // running: nothing more
        ASSERT_EQ(backend->streams.size(), 1u);
        const InputStreamRequest& request = backend->lastStream()->input;
        EXPECT_EQ(request.sourceName, "alsa_input.usb");
        EXPECT_EQ(request.sampleRate, 96000.0);
        EXPECT_EQ(request.channels, 6);  // never mixed down by the server
        EXPECT_EQ(request.fragmentFrames, used) << asked;
        EXPECT_EQ(engine->sampleRate(), 96000.0);
        engine->stop();
        backend->streams.clear();
    }
    engine->start();
    engine.reset();
    EXPECT_TRUE(backend->lastStream()->isClosed());
}

// At the default sink's rate in whole Hz, or 48 kHz without a usable one;
// running once the server answers; opened once however often start() is pressed.
TEST_F(AudioEngineTest, SystemAudioRunsAtTheSinkRateOnceTheServerAnswers)
{
    for (const auto& [sink, rate] : std::vector<std::pair<double, double>>{
             {44100.0, 44100.0}, {22050.9, 22050.0}, {0.5, 48000.0}, {0, 48000.0}, {-44100.0, 48000.0},
             {std::numeric_limits<double>::quiet_NaN(), 48000.0}, {std::numeric_limits<double>::infinity(), 48000.0}}) {
        backend->outputRate = sink;
        engine->start();
        engine->start();
        EXPECT_TRUE(engine->isStartPending() && !engine->isRunning());
        EXPECT_EQ(backend->lastStream()->input.sampleRate, rate);
        EXPECT_EQ(backend->lastStream()->input.sourceName, "speakers.monitor");
        answer(rate);
        EXPECT_TRUE(engine->isRunning() && !engine->isStartPending());
        EXPECT_EQ(engine->sampleRate(), rate);
        backend->lastStream()->deliver(blockOf({0.1f, 0.2f}, 2));
        std::vector<float> right;
        test::waitFor([&] {
            const auto more = drain(*engine->ringBuffer()).right;
            right.insert(right.end(), more.begin(), more.end());
            return !right.empty();
        }, 1000);
        EXPECT_EQ(right, std::vector<float>{0.2f});
        engine->stop();
    }
    EXPECT_EQ(backend->streams.size(), 7u);
}

// A frame the output has yet to play is held until it does, the delay held
// to two seconds and shown; a later report of no delay lets everything out,
// in order.
TEST_F(AudioEngineTest, SystemAudioDrawsEachFrameWhenTheOutputPlaysIt)
{
    engine->start();
    answer();
    auto timed = [](std::vector<float> frames, int64_t heardInNs) {
        AudioBlock block = blockOf(frames, 2);
        block.timed = true;
        block.heardInNs = heardInNs;
        return block;
    };
    backend->lastStream()->deliver(timed({0.1f, 0.2f}, 10'000'000'000));
    test::waitFor([] { return false; }, 100);
    EXPECT_TRUE(drain(*engine->ringBuffer()).left.empty());
    EXPECT_EQ(engine->systemAudioDelayMs(), 2000);
    backend->lastStream()->deliver(timed({0.3f, 0.4f}, -50'000'000));
    std::vector<float> left;
    test::waitFor([&] {
        const auto more = drain(*engine->ringBuffer()).left;
        left.insert(left.end(), more.begin(), more.end());
        return left.size() >= 2;
    }, 1000);
    EXPECT_EQ(left, (std::vector<float>{0.1f, 0.3f}));
    EXPECT_EQ(engine->systemAudioDelayMs(), 0);
    engine->stop();
    EXPECT_EQ(engine->systemAudioDelayMs(), -1);
}

// One engine through failing, lost, resumed, moved and cancelled starts.
// lastError holds what system audio or a lost stream reported first; a
// system-audio start clears it as it begins, any start once it succeeds after
// a loss or a failed input start (which also prints one line). A lost server
// is waited for while running. A stream is open exactly while running or
// starting, unless waiting for the server.
TEST_F(AudioEngineTest, StartsFailuresLossesAndRecoveries)
{
    const auto lose = [this](const char* reason, bool serverGone = false) {
        return [this, reason, serverGone] {
            backend->reachable = !serverGone;
            backend->lastStream()->fail(reason);
            backend->lastStream()->fail("a later report");
        };
    };
    const auto opened = [this](size_t before) {
        return [this, before] { EXPECT_TRUE(test::waitFor([&] { return backend->streams.size() > before; }, 3000)); };
    };
    const std::string failed = "AudioEngine failed to start: ";
    const QString reconnecting = QString::fromUtf8(AudioEngine::kReconnecting), serverLost = AudioBackend::kServerLost;
    struct Step {
        const char* what;
        std::function<void()> act;
        QString lastError;
        bool running = false;
        std::string printed = "";
    };
    for (const Step& step : std::vector<Step>{
             {"no server", [&] { backend->reachable = false, engine->start(); }, AudioEngine::kNoSoundServer},
             {"asking", [&] { backend->reachable = true, engine->start(); }, ""},
             {"refused", lose("Access denied"), "Access denied"},
             {"refused at once", [&] { backend->systemError = "No sink", engine->start(); }, "No sink"},
             {"input runs", [&] { select("Mic"), engine->start(); }, "No sink", true},
             {"input lost", lose("Source gone"), "Source gone"},
             {"input refused", [&] { backend->inputError = "Busy\nretry", engine->start(); }, "Busy\nretry", false,
              failed + "Busy retry\n"},
             {"input back", [&] { backend->inputError.clear(), engine->start(); }, "", true},
             {"input gone", [&] { engine->stop(), backend->sources = {kUsb}, engine->start(); },
              AudioEngine::kInputUnavailable, false, failed + AudioEngine::kInputUnavailable + "\n"},
             {"nothing selected", [&] { engine->setSelectedDeviceID(0), engine->start(); },
              AudioEngine::kInputUnavailable},
             {"system audio runs",
              [&] { select("System Audio"), backend->systemError.clear(), engine->start(), answer(); }, "", true},
             {"system audio lost", lose("Sink gone"), "Sink gone"},
             {"server lost", [&] { engine->start(), answer(), lose(AudioBackend::kServerLost, true)(); }, reconnecting, true},
             {"server back", [&] { backend->reachable = true, opened(backend->streams.size())(), answer(); }, "", true},
             {"stopped while waiting",
              [&] { lose(AudioBackend::kServerLost, true)(), test::settle(), engine->stop(), backend->reachable = true, QTest::qWait(600); },
              serverLost},
             {"default output moves",
              [&] {
                  engine->start(), answer(), backend->defaultSink = "hdmi", backend->outputRate = 44100;
                  backend->changed(), opened(backend->streams.size())(), answer(44100);
                  EXPECT_EQ(backend->lastStream()->input.sourceName, "hdmi.monitor");
                  EXPECT_EQ(engine->sampleRate(), 44100);
              },
              "", true},
             {"no output left", [&] { backend->defaultSink.clear(), backend->changed(), QTest::qWait(200); },
              AudioBackend::kNoOutputDevice},
             {"stopped before the answer",
              [&] { backend->defaultSink = "hdmi", engine->start(), engine->stop(), answer(); }, ""},
             {"stopped after an unheard answer",
              [&] { engine->start(), backend->lastStream()->start(48000.0), engine->stop(); }, ""}}) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(printedBy(step.act), step.printed);
        test::settle();
        EXPECT_EQ(engine->lastError(), step.lastError);
        EXPECT_EQ(engine->isRunning(), step.running);
        EXPECT_EQ(backend->lastStream() && !backend->lastStream()->isClosed(),
                  (engine->isRunning() || engine->isStartPending()) && engine->lastError() != reconnecting);
    }
}
