// A sound file rendered to pictures and video, checked by reading them back.
#include "video/RenderCommand.h"

#include "media/AudioFileDecoder.h"
#include "media/MediaTestSupport.h"

#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace {

constexpr int kRate = 48000;
constexpr int kFps = 30;
constexpr int kPerFrame = kRate / kFps;

// Frame k's samples hold the beam still at one of two points, by k's parity:
// a frame that drew a neighbour's samples shows its brightest light at the
// other point. With a Z channel, the odd frames' beam is dark.
std::string writeAlternatingWav(const mediatest::TempDir& dir, int frames, bool z = false)
{
    std::vector<float> samples;
    for (int k = 0; k < frames; ++k)
        for (int i = 0; i < kPerFrame; ++i) {
            samples.insert(samples.end(), {k % 2 ? 0.5f : -0.5f, 0.0f});
            if (z)
                samples.push_back(k % 2 ? 0.0f : 1.0f);
        }
    const std::string path = dir.file(z ? "z.wav" : "in.wav");
    mediatest::writeFloatWav(path, kRate, samples, z ? 3 : 2);
    return path;
}

QPoint brightest(const QImage& picture)
{
    QPoint at;
    int best = -1;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (const int g = qGreen(picture.pixel(x, y)); g > best)
                best = g, at = {x, y};
    return at;
}

std::string probe(const std::string& path, const std::string& entries)
{
    const std::string command = "ffprobe -v error -count_frames -show_entries " + entries +
                                " -of default=noprint_wrappers=1 " + mediatest::shellQuote(path);
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        pclose(pipe);
    }
    return out;
}

VideoRenderJob job(const std::string& in, const std::string& out)
{
    VideoRenderJob j;
    j.input = in;
    j.output = out;
    j.width = 160;
    j.height = 120;
    j.fps = kFps;
    return j;
}

}  // namespace

// Frame k shows frame k's samples, no sooner and no later; the same job gives
// the same pictures; a transparent background lets only the light through.
TEST(VideoRender, EachFrameShowsItsOwnSamplesTheSameEveryTime)
{
    mediatest::TempDir dir;
    const std::string in = writeAlternatingWav(dir, 6);
    std::filesystem::create_directory(dir.file("a"));
    std::filesystem::create_directory(dir.file("b"));
    const std::atomic<bool> go{false};
    for (const char* folder : {"a", "b"}) {
        const RenderOutcome outcome = VideoRender::run(job(in, dir.file(folder) + "/%03d.png"), {}, go);
        ASSERT_TRUE(outcome.ok) << outcome.error;
        EXPECT_EQ(outcome.frames, 6);
    }
    std::vector<QPoint> spots;
    for (int k = 0; k < 6; ++k) {
        const QString name = QString::asprintf("/%03d.png", k);
        const QImage a(QString::fromStdString(dir.file("a")) + name), b(QString::fromStdString(dir.file("b")) + name);
        ASSERT_FALSE(a.isNull()) << k;
        EXPECT_TRUE(a == b) << "frame " << k << " differs between two renders";
        spots.push_back(brightest(a));
    }
    EXPECT_NE(spots[0], spots[1]);
    for (int k = 2; k < 6; ++k)
        EXPECT_EQ(spots[k], spots[k % 2]) << "frame " << k;

    VideoRenderJob clear = job(in, dir.file("clear-%d.png"));
    clear.transparent = true;
    ASSERT_TRUE(VideoRender::run(clear, {}, go).ok);
    const QImage picture(QString::fromStdString(dir.file("clear-5.png")));
    int opaque = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            opaque = std::max(opaque, qAlpha(picture.pixel(x, y)));
    EXPECT_TRUE(qAlpha(picture.pixel(0, 0)) == 0 && opaque > 200) << opaque;

    // Z blanks the odd frames' beam: they hold only the light left from before.
    const std::string z = writeAlternatingWav(dir, 6, true);
    std::vector<int64_t> light[2];
    for (ZInput mode : {ZInput::off, ZInput::unipolar}) {
        VideoRenderJob j = job(z, dir.file("z-%d.png"));
        j.settings.zInput = mode;
        ASSERT_TRUE(VideoRender::run(j, {}, go).ok);
        for (int k = 0; k < 6; ++k) {
            const QImage shown(QString::fromStdString(dir.file("z-" + std::to_string(k) + ".png")));
            int64_t& sum = light[mode == ZInput::unipolar].emplace_back(0);
            for (int y = 0; y < shown.height(); ++y)
                for (int x = 0; x < shown.width(); ++x)
                    sum += qGreen(shown.pixel(x, y)) - qGreen(shown.pixel(0, 0));  // above the background
        }
    }
    for (int k = 0; k < 6; ++k)
        EXPECT_TRUE(k % 2 ? light[1][k] < light[0][k] * 3 / 5 : light[1][k] <= light[0][k])
            << "frame " << k << ": " << light[1][k] << " against " << light[0][k];
}

// The video holds the picture and the sound of the span asked for, each in
// its codec, frame for frame; a stopped render and a failed one leave
// nothing, an existing file is kept unless overwriting is asked for.
TEST(VideoRender, AVideoHoldsTheSpanAndAStoppedOneLeavesNothing)
{
    mediatest::TempDir dir;
    const std::string in = writeAlternatingWav(dir, 45);  // 1.5 s
    const std::atomic<bool> go{false};
    for (const auto& [name, codecs] : {std::pair{"out.mp4", "codec_name=h264\ncodec_name=aac\n"},
                                       {"out.mkv", "codec_name=h264\ncodec_name=flac\n"},
                                       {"out.webm", "codec_name=vp9\ncodec_name=opus\n"}}) {
        VideoRenderJob span = job(in, dir.file(name));
        span.from = 0.25;
        span.to = 1.25;
        const RenderOutcome outcome = VideoRender::run(span, {}, go);
        ASSERT_TRUE(outcome.ok) << name << ": " << outcome.error;
        EXPECT_EQ(outcome.frames, kFps);
        EXPECT_EQ(probe(dir.file(name), "stream=codec_name"), codecs) << name;
        EXPECT_NE(probe(dir.file(name), "stream=nb_read_frames").find("nb_read_frames=30"), std::string::npos) << name;
    }

    // The sound of the span, sample for sample (FLAC keeps it exact).
    const auto sound = AudioFileDecoder::open(dir.file("out.mkv"), nullptr);
    ASSERT_TRUE(sound);
    std::vector<float> heard(2 * 2 * kRate);
    int64_t frames = 0;
    for (int64_t n; (n = sound->read(heard.data() + 2 * frames, 2 * kRate - frames)) > 0;)
        frames += n;
    EXPECT_EQ(frames, kRate);
    EXPECT_TRUE(heard[0] == 0.5f && heard[2 * kPerFrame / 2] == -0.5f) << "from 0.25 s: the middle of frame 7";

    std::atomic<bool> stop{false};
    const auto progress = [&](int64_t done, int64_t) { stop = done >= 3; };
    const RenderOutcome stopped = VideoRender::run(job(in, dir.file("stopped.mp4")), progress, stop);
    EXPECT_TRUE(stopped.cancelled && !stopped.ok);
    EXPECT_FALSE(std::filesystem::exists(dir.file("stopped.mp4")));

    mediatest::writeFile(dir.file("kept.mp4"), {1, 2, 3});
    EXPECT_FALSE(VideoRender::run(job(in, dir.file("kept.mp4")), {}, go).ok);
    VideoRenderJob replace = job(in, dir.file("kept.mp4"));
    replace.overwrite = true;
    stop = false;
    EXPECT_TRUE(VideoRender::run(replace, progress, stop).cancelled);
    EXPECT_EQ(std::filesystem::file_size(dir.file("kept.mp4")), 3u) << "kept unless a new one is complete";
    // in.wav, the three videos and kept.mp4: nothing half-written beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("")), {}), 5);
    for (const std::string& bad : {dir.file("missing.wav"), dir.file("kept.mp4")})
        EXPECT_FALSE(VideoRender::run(job(bad, dir.file("never.mp4")), {}, go).ok) << bad;
    const RenderOutcome nowhere = VideoRender::run(job(in, dir.file("no/such/folder.mp4")), {}, go);
    EXPECT_TRUE(!nowhere.ok && !nowhere.error.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.mp4")));
}

// The command line: every option lands in the job, settings by their preset
// keys as a preset would hold them; a bad option, key or value is refused.
TEST(RenderCommand, OptionsAndSettingsAreCheckedBeforeAnythingRuns)
{
    const auto presets = [](const std::string& name) -> std::optional<DisplaySettings> {
        DisplaySettings mine;
        mine.decay = 0.9f;
        return name == "Mine" ? std::optional(mine) : std::nullopt;
    };
    const auto parsed = rendercommand::parse({"--render", "in.flac", "-o", "out.webm", "--size", "1280x720", "--fps",
                                              "120", "--preset", "Mine", "--set", "displayMode=Scope", "--set",
                                              "intensity=2.5", "--from", "1", "--to", "2.5", "--crf", "30",
                                              "--transparent", "-y"},
                                             presets);
    ASSERT_TRUE(parsed.job) << parsed.error;
    const VideoRenderJob& j = *parsed.job;
    EXPECT_TRUE(j.input == "in.flac" && j.output == "out.webm" && j.width == 1280 && j.height == 720 &&
                j.fps == 120 && j.from == 1 && j.to == 2.5 && j.crf == 30 && j.transparent && j.overwrite);
    EXPECT_TRUE(j.settings.decay == 0.9f && j.settings.intensity == 2.5f &&
                j.settings.displayMode == DisplayMode::waveform);

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--render", "in.flac"},
             {"--render", "in.flac", "-o"},
             {"--render", "in.flac", "-o", "out.avi"},
             {"--render", "in.flac", "-o", "out.mp4", "--size", "1921x1080"},
             {"--render", "in.flac", "-o", "out.mp4", "--size", "7680x4320"},
             {"--render", "in.flac", "-o", "out.mp4", "--fps", "50"},
             {"--render", "in.flac", "-o", "out.mp4", "--transparent"},
             {"--render", "in.flac", "-o", "out.mp4", "--from", "3", "--to", "2"},
             {"--render", "in.flac", "-o", "out.mp4", "--preset", "Theirs"},
             {"--render", "in.flac", "-o", "out.mp4", "--set", "brightness=1"},
             {"--render", "in.flac", "-o", "out.mp4", "--set", "decay=2"},
             {"--render", "in.flac", "-o", "out.mp4", "--set", "decay=nan"},
             {"--render", "in.flac", "-o", "out.mp4", "--set", "displayMode=sideways"},
             {"--render", "in.flac", "-o", "out.mp4", "--set", "timePerDivision=3"},
             {"--render", "in.flac", "-o", "out.mp4", "--bogus"}}) {
        const auto refused = rendercommand::parse(bad, presets);
        EXPECT_TRUE(!refused.job && !refused.error.empty()) << bad.back();
    }
}

// The program renders with no display and no sound server, and says how
// it went by its exit status.
TEST(RenderCommand, TheProgramRendersWithoutADisplay)
{
    mediatest::TempDir dir;
    const std::string in = writeAlternatingWav(dir, 10);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "PULSE_SERVER"})
        environment.remove(name);
    const auto run = [&](const QStringList& arguments) {
        QProcess orvalen;
        orvalen.setProcessEnvironment(environment);
        orvalen.start(ORVALEN_BINARY, arguments);
        orvalen.waitForFinished(60000);
        return orvalen.exitCode();
    };
    const QString out = QString::fromStdString(dir.file("out.mp4"));
    EXPECT_EQ(run({"--render", QString::fromStdString(in), "-o", out, "--size", "320x240"}), 0);
    EXPECT_TRUE(std::filesystem::file_size(dir.file("out.mp4")) > 0);
    EXPECT_EQ(run({"--render", QString::fromStdString(in), "-o", out}), 1) << "exists, no -y";
    EXPECT_EQ(run({"--render", QString::fromStdString(in), "-o", out, "--fps", "25"}), 2);

    // Ctrl+C: stopped at once, nothing left.
    mediatest::writeFloatWav(dir.file("long.wav"), 48000, std::vector<float>(2 * 48000 * 120, 0.25f));
    QProcess orvalen;
    orvalen.setProcessEnvironment(environment);
    orvalen.start(ORVALEN_BINARY, {"--render", QString::fromStdString(dir.file("long.wav")), "-o",
                                   QString::fromStdString(dir.file("long.mp4")), "--size", "320x240"});
    orvalen.setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(orvalen.waitForReadyRead(30000));  // the first progress line
    ::kill(static_cast<pid_t>(orvalen.processId()), SIGINT);
    ASSERT_TRUE(orvalen.waitForFinished(10000));
    EXPECT_EQ(orvalen.exitCode(), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("")), {}), 3) << "in.wav, out.mp4, long.wav";
}
