#pragma once

#include <cstdint>
#include <memory>
#include <string>

// What open() learnt about a file's audio. Rate and channels are those read()
// delivers.
struct AudioFileInfo {
    int sampleRate = 0;
    int channels = 0;
    int64_t frames = -1;   // as the container states it (lossy: may count encoder padding); -1: it does not
    double seconds = -1.0; // also a guess from the bit rate where frames is -1; -1 when nothing says
    std::string codec;     // FFmpeg's short codec name: "flac", "mp3", "pcm_s16le", ...
    std::string title;     // empty when the file has none
};

// Streams the best audio stream of any file FFmpeg reads, as interleaved
// float32 at the file's own rate. Memory stays at a few packets whatever the
// file's length. Every call gives up after a couple of seconds, so a hostile
// file cannot hang the caller. Not synchronised: one decoder per thread.
class AudioFileDecoder {
public:
    static constexpr int kMinSampleRate = 8000;
    static constexpr int kMaxSampleRate = 768000;
    static constexpr int kMaxChannels = 64;

    // Nothing on failure, with a short user-facing reason in *error (may be null).
    static std::unique_ptr<AudioFileDecoder> open(const std::string& path, std::string* error);
    ~AudioFileDecoder();
    AudioFileDecoder(const AudioFileDecoder&) = delete;
    AudioFileDecoder& operator=(const AudioFileDecoder&) = delete;

    const AudioFileInfo& info() const;

    // Up to maxFrames frames into interleaved (info().channels per frame).
    // Frames written; 0 at the end (and on every later call); -1 once an
    // error has ended the stream (error() says why; frames read before it
    // were returned by the earlier calls). Isolated corrupt packets are skipped.
    int64_t read(float* interleaved, int64_t maxFrames);

    // The next read() starts at `frame`, clamped to [0, end]: sample-exact
    // where the file's timestamps are (PCM, FLAC, ...), within a codec frame's
    // timestamp precision for lossy codecs. False (and read() gives -1) on
    // failure; a successful seek also clears an earlier error.
    bool seek(int64_t frame);

    // Frame index of the next read(): frames delivered since the start.
    int64_t position() const;

    // Why the last failing call failed; empty while nothing has.
    const std::string& error() const;

private:
    struct Impl;
    explicit AudioFileDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
