// Truncated and byte-flipped variants of real files through open, read and
// seek (scripts/fuzz-decoder.sh runs it under ASan + UBSan). Each variant must
// end, with audio or a reason, within a second. The variant being decoded is
// kept in <dir>/current.<extension>, so that a crash leaves its input behind.
//
//   decode_fuzz <variants> <dir>
#include "media/AudioFileDecoder.h"
#include "media/MediaTestSupport.h"

#include <chrono>
#include <cstdio>
#include <random>

using namespace mediatest;

namespace {

// A cut, a few flipped bytes (half the time in the header), or both.
std::vector<uint8_t> mutate(std::vector<uint8_t> bytes, std::mt19937& rng)
{
    const unsigned kind = rng() % 3;
    if (kind != 1)
        bytes.resize(rng() % bytes.size());
    const size_t span = rng() % 2 ? std::min<size_t>(bytes.size(), 4096) : bytes.size();
    for (unsigned flips = kind == 0 || span == 0 ? 0 : 1 + rng() % 16; flips > 0; --flips)
        bytes[rng() % span] ^= static_cast<uint8_t>(1 + rng() % 255);
    return bytes;
}

// True when the variant decoded some audio.
bool exercise(const std::string& path, std::mt19937& rng)
{
    auto d = AudioFileDecoder::open(path, nullptr);
    if (!d)
        return false;
    std::vector<float> block(4096 * static_cast<size_t>(d->info().channels));
    int64_t total = 0;
    for (int64_t n; total < 10LL * d->info().sampleRate && (n = d->read(block.data(), 4096)) > 0;)
        total += n;
    for (int i = 0; i < 3; ++i) {
        d->seek(static_cast<int64_t>(rng() % static_cast<unsigned>(total + 20)) - 10);
        d->read(block.data(), 4096);
    }
    return total > 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return std::fprintf(stderr, "usage: %s <variants> <dir>\n", argv[0]), 2;
    const int variants = std::atoi(argv[1]);
    const std::string dir = argv[2];
    writeTestWav(dir + "/seed.wav", 24000, 2, 48000);
    // Each keeps its file's extension: FFmpeg's probe weighs it.
    std::vector<std::pair<std::vector<uint8_t>, std::string>> seeds;
    for (auto [codec, extension] : {std::pair{"", ".wav"}, {"flac", ".flac"}, {"libmp3lame", ".mp3"},
                                    {"libvorbis", ".ogg"}, {"libopus", ".opus"}, {"aac", ".m4a"}}) {
        const std::string file = dir + "/seed" + extension;
        if (*codec && !ffmpeg("-i " + shellQuote(dir + "/seed.wav") + " -c:a " + codec + " " + shellQuote(file)))
            return std::fprintf(stderr, "ffmpeg could not make %s\n", file.c_str()), 2;
        std::ifstream in(file, std::ios::binary);
        seeds.emplace_back(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), extension);
    }

    int withAudio = 0, refused = 0, slow = 0;
    double slowest = 0;
    for (int i = 0; i < variants; ++i) {
        std::mt19937 rng(static_cast<unsigned>(i));
        const auto& [bytes, extension] = seeds[static_cast<size_t>(i) % seeds.size()];
        const std::string current = dir + "/current" + extension;
        writeFile(current, mutate(bytes, rng));
        const auto start = std::chrono::steady_clock::now();
        (exercise(current, rng) ? withAudio : refused)++;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        slowest = std::max(slowest, seconds);
        if (seconds > 1.0 && ++slow)
            std::fprintf(stderr, "variant %d took %.2f s\n", i, seconds);
        std::remove(current.c_str());
    }
    std::printf("%d variants: %d decoded audio, %d refused cleanly, %d over 1 s (slowest %.0f ms)\n", variants,
                withAudio, refused, slow, slowest * 1000);
    return slow ? 1 : 0;
}
