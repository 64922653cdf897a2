#include "media/AudioFileDecoder.h"
#include "media/MediaTestSupport.h"
#include "media/VideoEncoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <sstream>

using namespace mediatest;
using ::testing::HasSubstr;

namespace {

constexpr int kW = 64, kH = 48, kFps = 30, kPad = 12;

std::string capture(const std::string& command)
{
    std::string out;
    if (FILE* pipe = popen((command + " </dev/null 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::string probe(const std::string& entries, const std::string& path)
{
    return capture("ffprobe -v error " + entries + " -of csv=p=0 " + shellQuote(path));
}

// Frame k: the top half's colour counts k, the bottom half is half-transparent
// orange; rows end in junk up to the stride.
std::vector<uint8_t> picture(int k)
{
    std::vector<uint8_t> px(static_cast<size_t>((kW * 4 + kPad) * kH), 0xEE);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uint8_t* p = &px[static_cast<size_t>(y * (kW * 4 + kPad) + x * 4)];
            const bool top = y < kH / 2;
            p[0] = top ? static_cast<uint8_t>(10 + 8 * k) : 200;
            p[1] = top ? static_cast<uint8_t>(240 - 8 * k) : 60;
            p[2] = top ? 128 : 30;
            p[3] = top ? 255 : 96;
        }
    return px;
}

// The decoded RGBA of frame n (with VP9's own decoder, the one that reads alpha).
std::vector<uint8_t> decodedFrame(const TempDir& dir, const std::string& path, int n, bool vp9)
{
    const std::string raw = dir.file("frame.rgba");
    std::remove(raw.c_str());
    ffmpeg(std::string(vp9 ? "-c:v libvpx-vp9 " : "") + "-i " + shellQuote(path) + " -vf 'select=eq(n\\," + std::to_string(n)
           + ")' -frames:v 1 -f rawvideo -pix_fmt rgba " + shellQuote(raw));
    std::ifstream in(raw, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<float> tone(int rate, int frames)
{
    std::vector<float> out;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < 2; ++c)
            out.push_back(0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * toneHz(c) * i / rate)));
    return out;
}

struct RoundTripRow {
    const char* file;
    bool transparent;
    int audioRate;
    const char* codecs;  // ffprobe's, stream by stream
    const char* middle;  // the picture file of frame 15 (PNG), else null
    const char* past;    // the file that would hold frame 30 (PNG)
    int decodedRate;     // the sound's as decoded
    int tolerance;       // per colour channel
};

const RoundTripRow kRoundTrips[] = {
    {"out.mp4", false, 48000, "h264\naac\n", nullptr, nullptr, 48000, 4},
    {"out.mkv", false, 44100, "h264\nflac\n", nullptr, nullptr, 44100, 4},
    {"out.webm", false, 44100, "vp9\nopus\n", nullptr, nullptr, 48000, 6},
    {"alpha.webm", true, 48000, "vp9\nopus\n", nullptr, nullptr, 48000, 6},
    {"f%04d.png", true, 48000, "png\n", "f0015.png", "f0030.png", 0, 0},
    {"f%d.png", false, 0, "png\n", "f15.png", "f30.png", 0, 0},
};

// Zero crossings a second, and RMS, of one channel over [from, to).
std::pair<double, double> measure(const std::vector<float>& x, int channel, size_t from, size_t to, int rate)
{
    int crossings = 0;
    double energy = 0;
    for (size_t i = from; i < to; ++i) {
        const float a = x[2 * i + static_cast<size_t>(channel)], b = x[2 * (i + 1) + static_cast<size_t>(channel)];
        crossings += (a < 0) != (b < 0);
        energy += a * a;
    }
    const double n = static_cast<double>(to - from);
    return {crossings * rate / (2 * n), std::sqrt(energy / n)};
}

TEST(VideoEncoder, EveryKindKeepsPicturesTimingAndSound)
{
    if (capture("ffprobe -version").empty())
        GTEST_SKIP() << "the ffmpeg command is not installed";
    for (const RoundTripRow& row : kRoundTrips) {
        SCOPED_TRACE(row.file);
        TempDir dir;
        const std::string path = dir.file(row.file);
        std::string error;
        auto enc = VideoEncoder::open({path, kW, kH, kFps, -1, row.transparent, row.audioRate, 2}, &error);
        ASSERT_TRUE(enc) << error;
        const int share = row.audioRate / kFps;
        const std::vector<float> sound = tone(row.audioRate, row.audioRate);
        for (int k = 0; k < kFps; ++k) {
            ASSERT_TRUE(enc->writeFrame(picture(k).data(), kW * 4 + kPad)) << enc->error();
            ASSERT_TRUE(enc->writeAudio(sound.data() + 2 * k * share, share)) << enc->error();
        }
        ASSERT_TRUE(enc->finish()) << enc->error();
        enc.reset();

        const std::string middle = row.middle ? dir.file(row.middle) : path;
        EXPECT_EQ(probe("-show_entries stream=codec_name", middle), row.codecs);
        if (row.past) { // frames 0..29, one file each
            const auto files = std::filesystem::directory_iterator(std::filesystem::path(path).parent_path());
            EXPECT_EQ(std::distance(begin(files), end(files)), kFps);
            EXPECT_TRUE(std::filesystem::exists(dir.file(row.middle)));
            EXPECT_FALSE(std::filesystem::exists(dir.file(row.past)));
        } else { // frame k shown k / fps after the first (Matroska counts whole milliseconds)
            std::string text = probe("-select_streams v:0 -show_entries frame=pts_time", path);
            std::replace(text.begin(), text.end(), ',', ' '); // side data makes a blank column
            std::istringstream times(text);
            std::vector<double> t{std::istream_iterator<double>(times), {}};
            ASSERT_EQ(t.size(), size_t(kFps));
            EXPECT_NEAR(t.back() - t.front(), (kFps - 1.0) / kFps, 0.001);
            EXPECT_NEAR(t[15] - t.front(), 0.5, 0.001);
        }

        const std::vector<uint8_t> px = decodedFrame(dir, middle, row.middle ? 0 : 15, videoKindOf(path) == VideoKind::webm);
        ASSERT_EQ(px.size(), size_t(kW * kH * 4));
        const uint8_t alpha = row.transparent ? 96 : 255;
        const int expected[2][4] = {{130, 120, 128, 255}, {200, 60, 30, alpha}};
        for (int half = 0; half < 2; ++half)
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(px[static_cast<size_t>(((kH / 4 + half * kH / 2) * kW + kW / 2) * 4 + c)],
                            expected[half][c], row.tolerance)
                    << "half " << half << " channel " << c;

        if (row.decodedRate == 0)
            continue;
        auto d = AudioFileDecoder::open(path, &error);
        ASSERT_TRUE(d) << error;
        ASSERT_EQ(d->info().sampleRate, row.decodedRate);
        std::vector<float> got, block(2048);
        for (int64_t n; (n = d->read(block.data(), 1024)) > 0;)
            got.insert(got.end(), block.begin(), block.begin() + 2 * n);
        const size_t frames = got.size() / 2, rate = static_cast<size_t>(row.decodedRate);
        EXPECT_GE(frames, rate);
        EXPECT_LE(frames, rate + 2048); // one codec frame's padding
        for (int c = 0; c < 2; ++c) {
            const auto [hz, rms] = measure(got, c, rate / 4, rate * 3 / 4, row.decodedRate);
            EXPECT_NEAR(hz, toneHz(c), toneHz(c) * 0.01) << "channel " << c;
            EXPECT_NEAR(rms, 0.5 / std::sqrt(2.0), 0.02) << "channel " << c;
        }
    }
}

TEST(VideoEncoder, KindFollowsTheExtensionAndANumberedPngName)
{
    const std::pair<const char*, VideoKind> rows[] = {
        {"a/Clip.MP4", VideoKind::mp4},          {"clip.mkv", VideoKind::mkv},
        {"take%d/clip.WebM", VideoKind::webm},   {"f%06d.png", VideoKind::pngSequence},
        {"50%%/f%d.PNG", VideoKind::pngSequence}, {"100%%_%03d.png", VideoKind::pngSequence},
        {"still.png", VideoKind::unknown},       {"f%d_%d.png", VideoKind::unknown},
        {"f%5d.png", VideoKind::unknown},        {"f%s.png", VideoKind::unknown},
        {"f%d.jpg", VideoKind::unknown},         {"clip.mp4.part", VideoKind::unknown},
        {"clip.mp4/", VideoKind::unknown},       {"mp4", VideoKind::unknown},
    };
    for (const auto& [path, kind] : rows)
        EXPECT_EQ(videoKindOf(path), kind) << path;
}

std::vector<std::string> listing(const TempDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(dir.file("x")).parent_path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(VideoEncoder, BadOptionsAreRefusedWithTheirReasonAndCreateNothing)
{
    const VideoFormatOptions ok{"", kW, kH, kFps, -1, false, 48000, 2};
    const auto with = [&](const char* path, auto change) {
        VideoFormatOptions o = ok;
        o.path = path;
        change(o);
        return o;
    };
    const auto same = [](VideoFormatOptions&) {};
    const std::pair<VideoFormatOptions, const char*> rows[] = {
        {with("a.mp4", [](auto& o) { o.width = 65; }), "must be even"},
        {with("a.webm", [](auto& o) { o.height = 8; }), "out of range"},
        {with("f%d.png", [](auto& o) { o.width = 7682; }), "out of range"},
        {with("a.mp4", [](auto& o) { o.fps = 0; }), "Frame rate 0"},
        {with("a.mkv", [](auto& o) { o.fps = 241; }), "Frame rate 241"},
        {with("a.mp4", [](auto& o) { o.crf = 52; }), "0 to 51"},
        {with("a.webm", [](auto& o) { o.crf = 64; }), "0 to 63"},
        {with("a.mp4", [](auto& o) { o.transparent = true; }), "transparency"},
        {with("a.mkv", [](auto& o) { o.audioChannels = 3; }), "mono or stereo"},
        {with("a.mkv", [](auto& o) { o.audioRate = 1000; }), "1000 Hz"},
        {with("a.avi", same), "Unknown video type"},
        {with("still.png", same), "one frame number"},
        {with("f%x.png", same), "%0Nd"},
        {with("missing/a.mp4", same), "Folder not found"},
        {with("missing/f%d.png", same), "Folder not found"},
        {with("folder.mkv", same), "Is a folder"},
    };
    TempDir dir;
    std::filesystem::create_directory(dir.file("folder.mkv"));
    for (const auto& [options, reason] : rows) {
        SCOPED_TRACE(options.path);
        VideoFormatOptions o = options;
        o.path = dir.file(o.path);
        std::string error;
        EXPECT_FALSE(VideoEncoder::open(o, &error));
        EXPECT_THAT(error, HasSubstr(reason));
        EXPECT_EQ(listing(dir), std::vector<std::string>{"folder.mkv"});
    }
}

// Where writing stops part way (a full disk: a link to /dev/full takes the
// place of the file or of frame 3's picture), or the encoder is dropped
// unfinished, nothing of the video is left.
TEST(VideoEncoder, NothingIsLeftOfAVideoThatFailedOrWasNotFinished)
{
    const struct {
        const char* file;
        const char* full; // the name linked to /dev/full, if any
        bool finish;
    } rows[] = {
        {"a.mp4", nullptr, false}, {"f%02d.png", nullptr, false}, {"a.mp4", "a.mp4", true},
        {"a.webm", "a.webm", true}, {"f%d.png", "f3.png", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.file) + (row.full ? " on a full disk" : ""));
        TempDir dir;
        if (row.full)
            std::filesystem::create_symlink("/dev/full", dir.file(row.full));
        std::string error;
        auto enc = VideoEncoder::open({dir.file(row.file), kW, kH, kFps, -1, false, 48000, 2}, &error);
        bool ok = enc != nullptr;
        const std::vector<float> sound = tone(48000, 1600);
        for (int k = 0; k < 10 && ok; ++k)
            ok = enc->writeFrame(picture(k).data(), kW * 4 + kPad) && enc->writeAudio(sound.data(), 1600);
        if (row.finish) {
            ok = ok && enc->finish();
            EXPECT_FALSE(ok);
            EXPECT_THAT(enc ? enc->error() : error, HasSubstr("could not be written"));
        } else {
            EXPECT_TRUE(ok);
        }
        enc.reset();
        EXPECT_EQ(listing(dir), std::vector<std::string>{});
    }
}

} // namespace
