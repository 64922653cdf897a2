#include "media/AudioFileDecoder.h"
#include "media/MediaTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <functional>

using namespace mediatest;

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int64_t kFrames = 2 * kRate;

std::vector<float> readAll(AudioFileDecoder& d, int64_t* last = nullptr)
{
    std::vector<float> out, block(1000 * static_cast<size_t>(d.info().channels));
    int64_t n;
    while ((n = d.read(block.data(), 1000)) > 0)
        out.insert(out.end(), block.begin(), block.begin() + n * d.info().channels);
    if (last)
        *last = n;
    return out;
}

// Energy of b's difference from `frames` frames of a (from a's frame `at`), relative to a's.
double residual(const std::vector<float>& a, int64_t at, const std::vector<float>& b, int64_t frames)
{
    double err = 0, level = 0;
    for (size_t i = 0; i < static_cast<size_t>(frames * kChannels) && i < b.size(); ++i) {
        const double x = a[static_cast<size_t>(at * kChannels) + i];
        err += (x - b[i]) * (x - b[i]);
        level += x * x;
    }
    return err / level;
}

double tonePower(const std::vector<float>& x, int channel, double hz)
{
    double re = 0, im = 0;
    for (size_t i = static_cast<size_t>(channel), n = 0; i < x.size(); i += kChannels, ++n) {
        re += x[i] * std::cos(2 * std::numbers::pi * hz * static_cast<double>(n) / kRate);
        im += x[i] * std::sin(2 * std::numbers::pi * hz * static_cast<double>(n) / kRate);
    }
    return re * re + im * im;
}

class AudioFileDecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.valid());
        writeTestWav(source, kFrames, kChannels, kRate);
        for (int16_t s : testSignal(kFrames, kChannels, kRate))
            reference.push_back(static_cast<float>(s) / 32768.0f);
        if (!ffmpeg("-version >/dev/null"))
            GTEST_SKIP() << "the ffmpeg command is not installed";
    }

    TempDir dir;
    std::string source = dir.file("source.wav");
    std::vector<float> reference;
};

struct FormatRow {
    const char* file;
    const char* options; // ffmpeg's, around the source: "<inputs before> | <encoding>"
    const char* codec;
    bool lossless;
    int frameSlack; // how far stated and decoded lengths may stray from the source's (encoder padding)
};

// Every container and codec a user is likely to drop in.
const FormatRow kFormats[] = {
    {"a.wav", "| -c:a pcm_s16le", "pcm_s16le", true, 0},
    {"a.aiff", "| -c:a pcm_s16be", "pcm_s16be", true, 0},
    {"a.flac", "| -c:a flac", "flac", true, 0},
    {"a.mp3", "| -c:a libmp3lame -b:a 192k", "mp3", false, 2048},
    {"a.ogg", "| -c:a libvorbis -q:a 6", "vorbis", false, 0},
    {"a.opus", "| -c:a libopus -b:a 160k", "opus", false, 0},
    {"a.m4a", "| -c:a aac -b:a 192k", "aac", false, 1024},
    {"a.mkv", "-f lavfi -i testsrc=size=64x48:rate=10:duration=2 | -c:v mpeg4 -c:a flac", "flac", true, 0},
};

TEST_F(AudioFileDecoderTest, EveryFormatDecodesTheSignalAndSeeksToTheFrame)
{
    for (const FormatRow& row : kFormats) {
        SCOPED_TRACE(row.file);
        const std::string options = row.options, path = dir.file(row.file);
        const size_t bar = options.find('|');
        ASSERT_TRUE(ffmpeg(options.substr(0, bar) + " -i " + shellQuote(source) + options.substr(bar + 1) + " "
                           + shellQuote(path)));
        std::string error = "stale";
        auto d = AudioFileDecoder::open(path, &error);
        ASSERT_TRUE(d) << error;
        EXPECT_EQ(error, "");
        EXPECT_EQ(d->info().sampleRate, kRate);
        EXPECT_EQ(d->info().channels, kChannels);
        EXPECT_EQ(d->info().codec, row.codec);
        EXPECT_NEAR(d->info().frames, kFrames, row.frameSlack);
        EXPECT_NEAR(d->info().seconds, 2.0, row.frameSlack / double(kRate) + 1e-9);

        int64_t last = 1;
        const std::vector<float> all = readAll(*d, &last);
        EXPECT_EQ(last, 0);
        EXPECT_NEAR(int64_t(all.size()) / kChannels, kFrames, row.frameSlack);
        EXPECT_EQ(d->position(), int64_t(all.size()) / kChannels);
        if (row.lossless) {
            EXPECT_TRUE(all == reference);
        } else {
            // The codec's delay is gone: the signal starts where the source did.
            EXPECT_LT(residual(reference, 0, all, kFrames / 2), 0.01);
            for (int c = 0; c < kChannels; ++c)
                EXPECT_GT(tonePower(all, c, toneHz(c)), 1000 * tonePower(all, c, toneHz(1 - c))) << c;
        }

        for (int64_t k : {int64_t{0}, int64_t{1}, int64_t{4095}, int64_t{4096}, int64_t{30011}, kFrames - 3000}) {
            SCOPED_TRACE(k);
            ASSERT_TRUE(d->seek(k)) << d->error();
            EXPECT_EQ(d->position(), k);
            std::vector<float> got(2048 * kChannels);
            ASSERT_EQ(d->read(got.data(), 2048), 2048);
            EXPECT_EQ(d->position(), k + 2048);
            // Lossy decoders settle within their pre-roll to what decoding from the start gives.
            EXPECT_LT(residual(all, k, got, 2048), row.lossless ? 1e-12 : 1e-3);
        }
        // Past the end: clamped there, and the stream is over but for a lossy codec's padding.
        ASSERT_TRUE(d->seek(kFrames + 100000));
        EXPECT_GE(d->position(), kFrames - row.frameSlack);
        EXPECT_LE(readAll(*d, &last).size(), size_t(row.frameSlack) * kChannels);
        EXPECT_EQ(last, 0);
    }
}

struct BadInputRow {
    const char* name;
    std::function<std::string(const TempDir&)> make; // the path to open
    const char* error;                               // empty: opens, and every frame decodes to `expect`
    int channels = 0;
    std::function<float(int channel)> expect = nullptr;
};

std::string written(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes)
{
    writeFile(dir.file(name), bytes);
    return dir.file(name);
}

// A WAV of 100 equal frames, channel c holding value(c).
std::string wav100(const TempDir& dir, const char* name, uint32_t rate, int channels, uint16_t format,
                   const std::function<uint32_t(int)>& value = [](int) { return 0; })
{
    std::vector<uint8_t> data;
    for (int i = 0; i < 100 * channels; ++i)
        put(data, {{value(i % channels), format == 3 ? 4 : 2}});
    return written(dir, name, wav(rate, uint32_t(channels), format, format == 3 ? 32 : 16, data));
}

std::string made(const TempDir& d, const char* name, const std::string& args)
{
    ffmpeg(args + " " + shellQuote(d.file(name)));
    return d.file(name);
}

const BadInputRow kBadInputs[] = {
    {"missing", [](const TempDir& d) { return d.file("nothing-here.wav"); }, "File not found"},
    {"folder", [](const TempDir& d) { return d.file(""); }, "Is a folder"},
    {"empty", [](const TempDir& d) { return written(d, "empty.flac", {}); }, "Empty file"},
    {"fifo", [](const TempDir& d) { return mkfifo(d.file("p.wav").c_str(), 0600), d.file("p.wav"); },
     "Not a regular file"},
    {"unreadable", [](const TempDir& d) { return chmod(wav100(d, "l.wav", 48000, 2, 1).c_str(), 0), d.file("l.wav"); },
     "Permission denied"},
    {"text", [](const TempDir& d) { return written(d, "notes.txt", std::vector<uint8_t>(4000, 'a')); },
     "Not an audio file"},
    {"zeros", [](const TempDir& d) { return written(d, "zeros.mp3", std::vector<uint8_t>(8192)); },
     "Not an audio file"},
    {"picture named .wav",
     [](const TempDir& d) {
         std::filesystem::rename(made(d, "pic.png", "-f lavfi -i testsrc=size=32x32 -frames:v 1"), d.file("pic.wav"));
         return d.file("pic.wav");
     },
     "Not an audio file"},
    {"silent video", [](const TempDir& d) { return made(d, "v.mkv", "-f lavfi -i testsrc=d=1 -c:v mpeg4"); },
     "No audio stream"},
    {"1 Hz", [](const TempDir& d) { return wav100(d, "slow.wav", 1, 2, 1); }, "Unsupported sample rate 1 Hz"},
    {"10 MHz", [](const TempDir& d) { return wav100(d, "fast.wav", 10000000, 2, 1); },
     "Unsupported sample rate 10000000 Hz"},
    {"65 channels", [](const TempDir& d) { return wav100(d, "wide.wav", 48000, 65, 1); }, "Too many channels (65)"},
    // Each of 64 channels arrives in its place.
    {"64 channels",
     [](const TempDir& d) { return wav100(d, "64.wav", 48000, 64, 1, [](int c) { return (c + 1) * 256; }); }, "", 64,
     [](int c) { return static_cast<float>(c + 1) / 128.0f; }},
    // Not-a-number and infinity would poison every filter downstream.
    {"float NaN and infinity",
     [](const TempDir& d) {
         const float odd[] = {NAN, INFINITY, -INFINITY, 0.25f};
         return wav100(d, "nan.wav", 48000, 4, 3, [&](int c) { return std::bit_cast<uint32_t>(odd[c]); });
     },
     "", 4, [](int c) { return c == 3 ? 0.25f : 0.0f; }},
};

TEST_F(AudioFileDecoderTest, BadInputsFailWithTheirReason)
{
    for (const BadInputRow& row : kBadInputs) {
        SCOPED_TRACE(row.name);
        if (std::string(row.name) == "unreadable" && geteuid() == 0)
            continue; // root reads everything
        std::string error = "stale";
        auto d = AudioFileDecoder::open(row.make(dir), &error);
        EXPECT_EQ(error, row.error);
        ASSERT_EQ(d != nullptr, !*row.error);
        if (!d)
            continue;
        ASSERT_EQ(d->info().channels, row.channels);
        const std::vector<float> all = readAll(*d);
        ASSERT_EQ(all.size(), size_t(100 * row.channels));
        for (size_t i = 0; i < all.size(); ++i)
            ASSERT_EQ(all[i], row.expect(int(i % size_t(row.channels)))) << i;
    }
}

// A file cut short under the reader (a download restarted, a copy
// overwritten) ends the stream with a reason, and a seek back resumes.
TEST_F(AudioFileDecoderTest, TruncatedWhileReadingEndsWithAReason)
{
    for (const char* name : {"cut.wav", "cut.flac"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        ASSERT_TRUE(ffmpeg("-i " + shellQuote(source) + " " + shellQuote(path)));
        auto d = AudioFileDecoder::open(path, nullptr);
        ASSERT_TRUE(d);
        std::vector<float> block(4800 * kChannels);
        ASSERT_EQ(d->read(block.data(), 4800), 4800);
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
        int64_t last = 1;
        const auto more = static_cast<int64_t>(readAll(*d, &last).size()) / kChannels;
        EXPECT_EQ(last, -1);
        EXPECT_EQ(d->error(), "The file was truncated while playing");
        EXPECT_LT(4800 + more, kFrames);
        ASSERT_TRUE(d->seek(0));
        EXPECT_EQ(d->read(block.data(), 4800), 4800);
        EXPECT_TRUE(std::equal(block.begin(), block.end(), reference.begin()));
    }
}

} // namespace
