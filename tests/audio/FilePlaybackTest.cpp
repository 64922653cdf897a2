// A sound file as the source: played to a scripted server, drawn as heard.
#include "audio/AudioEngine.h"

#include "AudioTestSupport.h"
#include "FakeAudioBackend.h"
#include "media/MediaTestSupport.h"

#include <QFile>

namespace {

constexpr int kFrames = 4800;

// A 32-bit float stereo WAV: left i / kFrames, right -i / kFrames.
QString writeRampWav(const mediatest::TempDir& dir)
{
    std::vector<float> ramp;
    for (int i = 0; i < kFrames; ++i)
        ramp.insert(ramp.end(), {float(i) / kFrames, -float(i) / kFrames});
    mediatest::writeFloatWav(dir.file("ramp.wav"), 48000, ramp);
    return QString::fromStdString(dir.file("ramp.wav"));
}

class FilePlaybackTest : public ::testing::Test {
protected:
    // Plays `frames` frames heard `heardInNs` from now; returns what the server got.
    std::vector<float> play(int64_t frames, int64_t heardInNs = 0)
    {
        std::vector<float> out(static_cast<size_t>(frames * 2), 7.0f);
        if (PlaybackCallbacks* player = backend->playbacks.back()->player)  // null once closed
            player->render(out.data(), frames, heardInNs);
        return out;
    }
    // Plays on until the scope has `count` more frames (or a second passed).
    // The latency reported jitters by 20 ms, as a real server's does.
    StereoFrames heard(size_t count)
    {
        StereoFrames all;
        int calls = 0;
        test::waitFor([&] {
            play(256, ++calls % 2 * 20'000'000);
            StereoFrames more = drain(*engine->ringBuffer());
            all.left.insert(all.left.end(), more.left.begin(), more.left.end());
            all.right.insert(all.right.end(), more.right.begin(), more.right.end());
            return all.left.size() >= count;
        }, 1000);
        return all;
    }

    mediatest::TempDir dir;
    std::shared_ptr<FakeAudioBackend> backend = std::make_shared<FakeAudioBackend>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>(backend);
};

}  // namespace

// Every frame reaches the scope once, in order, no sooner than it is heard;
// a loop runs on without a gap; muted, the scope still gets every frame; the
// end stops playback as Stop does.
TEST_F(FilePlaybackTest, TheScopeGetsEachFrameAsItIsHeard)
{
    const QString path = writeRampWav(dir);
    engine->setFileLooping(true);
    ASSERT_TRUE(engine->openFile(path));
    ASSERT_TRUE(test::waitFor([&] { return engine->isRunning() && !backend->playbacks.empty(); }, 2000));
    EXPECT_EQ(engine->sampleRate(), 48000.0);
    EXPECT_EQ(engine->fileLength(), kFrames);

    test::waitFor([] { return false; }, 50);  // the decoder runs ahead
    play(100, 10'000'000'000);                 // heard in ten seconds: not yet drawn
    test::waitFor([] { return false; }, 100);
    EXPECT_TRUE(drain(*engine->ringBuffer()).left.empty());
    engine->seekFile(0);
    ASSERT_TRUE(test::waitFor([&] { return engine->isRunning() && backend->playbacks.back()->player; }, 2000));

    engine->setFileMuted(true);
    test::waitFor([] { return false; }, 50);
    const std::vector<float> sound = play(64);
    EXPECT_EQ(std::count(sound.begin(), sound.end(), 0.0f), 128) << "muted: silence to the server";
    engine->setFileMuted(false);
    const StereoFrames got = heard(2 * kFrames + 500);
    ASSERT_GE(got.left.size(), size_t(2 * kFrames + 500));
    for (size_t i = 0; i < got.left.size(); ++i) {
        const float expected = float(i % kFrames) / kFrames;
        ASSERT_TRUE(got.left[i] == expected && got.right[i] == -expected) << "frame " << i;
    }
    engine->setFileLooping(false);
    ASSERT_TRUE(test::waitFor([&] {
        play(512);
        return !engine->isRunning();
    }, 3000)) << "the end stops playback";
    EXPECT_EQ(engine->filePosition(), 0) << "and the next Play starts over";
}

// A file that is no sound leaves the source and its selection as they were.
TEST_F(FilePlaybackTest, AFileThatIsNoSoundChangesNothingButTheErrorLine)
{
    mediatest::writeFile(dir.file("empty.wav"), {});
    mediatest::writeFile(dir.file("text.wav"), std::vector<uint8_t>(4096, 'x'));
    engine->refreshDevices();
    const uint32_t before = engine->selectedDeviceID();
    for (const char* name : {"missing.flac", "empty.wav", "text.wav", "."}) {
        EXPECT_FALSE(engine->openFile(QString::fromStdString(dir.file(name)))) << name;
        EXPECT_FALSE(engine->lastError().isEmpty()) << name;
        EXPECT_TRUE(engine->selectedDeviceID() == before && !engine->isRunning()) << name;
    }
}
