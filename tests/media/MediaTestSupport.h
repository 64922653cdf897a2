#pragma once

// Audio files made at run time: a WAV of a known signal written here, the
// other formats transcoded from it with the ffmpeg command-line tool.

#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <cstring>
#include <vector>

namespace mediatest {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvalen-media-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    bool valid() const { return !path_.empty(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
    std::error_code ignored_;
};

inline std::string shellQuote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// ffmpeg, quiet and never asking; false when it fails or is not installed.
inline bool ffmpeg(const std::string& args)
{
    return std::system(("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " </dev/null").c_str()) == 0;
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Little-endian fields of the given widths, in order.
inline void put(std::vector<uint8_t>& out, std::initializer_list<std::pair<uint32_t, int>> fields)
{
    for (auto [value, bytes] : fields)
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// RIFF/WAVE with whatever header values a test wants: format 1 is integer PCM, 3 is float.
inline std::vector<uint8_t> wav(uint32_t rate, uint32_t channels, uint16_t format, uint16_t bits,
                                const std::vector<uint8_t>& data)
{
    const auto size = static_cast<uint32_t>(data.size());
    const uint32_t block = channels * bits / 8;
    std::vector<uint8_t> out;
    put(out, {{0x46464952, 4}, {36 + size, 4}, {0x45564157, 4}, {0x20746d66, 4}, {16, 4}, {format, 2},
              {channels, 2}, {rate, 4}, {rate * block, 4}, {block, 2}, {bits, 2}, {0x61746164, 4}, {size, 4}});
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A 32-bit float stereo WAV of `interleaved` at `rate`.
inline void writeFloatWav(const std::string& path, uint32_t rate, const std::vector<float>& interleaved,
                          int channels = 2)
{
    std::vector<uint8_t> data(interleaved.size() * sizeof(float));
    std::memcpy(data.data(), interleaved.data(), data.size());
    writeFile(path, wav(rate, channels, 3, 32, data));
}

inline double toneHz(int channel) { return 440.0 + 560.0 * channel; }

// Channel c: a half-scale sine of toneHz(c) plus a few LSB of dither, so that
// no stretch of it repeats and a misplaced seek shows; interleaved 16-bit.
inline std::vector<int16_t> testSignal(int64_t frames, int channels, int rate)
{
    std::vector<int16_t> out;
    uint32_t lcg = 12345;
    for (int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            lcg = lcg * 1664525u + 1013904223u;
            const double tone = 0.5 * std::sin(2 * std::numbers::pi * toneHz(c) * static_cast<double>(i) / rate);
            out.push_back(static_cast<int16_t>(std::lround(tone * 32767) + static_cast<int>(lcg >> 29) - 4));
        }
    return out;
}

// The source every other format is made from.
inline void writeTestWav(const std::string& path, int64_t frames, int channels, int rate)
{
    std::vector<uint8_t> data;
    for (int16_t s : testSignal(frames, channels, rate))
        put(data, {{static_cast<uint16_t>(s), 2}});
    writeFile(path, wav(static_cast<uint32_t>(rate), static_cast<uint32_t>(channels), 1, 16, data));
}

} // namespace mediatest
