// Against a PulseAudio daemon of the test's own, which it kills and restarts.

#include "audio/AudioEngine.h"
#include "audio/PulseBackend.h"

#include "PulseTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

uint32_t idNamed(const AudioEngine& engine, const QString& description)
{
    for (const auto& d : engine.devices())
        if (d.name == description)
            return d.id;
    return AudioDeviceInfo::kNoDeviceID;
}

QString descriptionOf(PulseBackend& backend, const std::string& sourceName)
{
    if (const auto sources = backend.listSources())
        for (const auto& s : *sources)
            if (s.name == sourceName)
                return QString::fromStdString(s.description);
    return {};
}

}  // namespace

TEST(PulseRestart, ALostServerEndsCaptureAndStartWorksOnceItIsBack)
{
    PrivateDaemon daemon;
    if (!daemon.isValid() || !daemon.start())
        GTEST_SKIP() << "Could not start a private PulseAudio daemon";

    auto backend = std::make_shared<PulseBackend>(daemon.server(), 2000);
    AudioEngine engine(backend);
    const QString inputName = descriptionOf(*backend, "private_input");
    const uint32_t input = idNamed(engine, inputName);
    ASSERT_NE(input, AudioDeviceInfo::kNoDeviceID);

    // Input path: the server dies mid-capture.
    engine.setSelectedDeviceID(input);
    engine.start();
    ASSERT_TRUE(engine.isRunning());
    daemon.kill();
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.isRunning(); }, 5000));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(3));
    EXPECT_EQ(engine.lastError(), PulseBackend::kServerLost);

    // While it is gone: an input start fails with one line, a system-audio
    // start says what it needs, and neither hangs.
    testing::internal::CaptureStdout();
    engine.start();
    const std::string line = testing::internal::GetCapturedStdout();
    EXPECT_EQ(line.rfind("AudioEngine failed to start: ", 0), 0u) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    engine.setSelectedDeviceID(AudioDeviceInfo::kSystemAudioID);
    engine.start();
    EXPECT_EQ(engine.lastError(), AudioEngine::kNoSoundServer);
    engine.refreshDevices();
    EXPECT_TRUE(engine.devices().isEmpty());

    // Back again: the same backend reconnects.
    ASSERT_TRUE(daemon.start());
    engine.refreshDevices();
    EXPECT_EQ(idNamed(engine, inputName), input);
    engine.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.isRunning(); }, 6000))
        << engine.lastError().toStdString();
    EXPECT_TRUE(engine.lastError().isEmpty());

    // System-audio path: the server dies again.
    daemon.kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.isRunning(); }, 5000));
    EXPECT_EQ(engine.lastError(), PulseBackend::kServerLost);
}

TEST(PulseRestart, SystemAudioWithoutAnOutputDeviceSaysSo)
{
    PrivateDaemon daemon;
    if (!daemon.isValid() || !daemon.start())
        GTEST_SKIP() << "Could not start a private PulseAudio daemon";
    ASSERT_TRUE(pactl(daemon.server(), {"unload-module", "module-null-sink"}).has_value());

    AudioEngine engine(std::make_shared<PulseBackend>(daemon.server(), 2000));
    ASSERT_EQ(engine.selectedDeviceID(), AudioDeviceInfo::kSystemAudioID);
    engine.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.lastError().isEmpty(); }, 3000));
    EXPECT_EQ(engine.lastError(), AudioBackend::kNoOutputDevice);
    EXPECT_FALSE(engine.isRunning());
    EXPECT_FALSE(engine.isStartPending());
}
