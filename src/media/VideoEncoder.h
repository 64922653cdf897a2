#pragma once

#include <cstdint>
#include <memory>
#include <string>

// What a rendered video goes into, chosen by the output path:
//   .mp4   H.264 + AAC          .mkv  H.264 + FLAC
//   .webm  VP9 + Opus (the only container kind that keeps alpha)
//   a file name with one %d or %0Nd ending in .png: one PNG per frame,
//   numbered from 0 (frame k is the pattern printed with k); no sound.
enum class VideoKind { mp4, mkv, webm, pngSequence, unknown };

// Extensions are matched case-insensitively.
VideoKind videoKindOf(const std::string& path);

struct VideoFormatOptions {
    std::string path;                  // an existing file there is replaced
    int width = 1920, height = 1080;   // kMinSize..kMaxSize; even, except for PNG
    int fps = 60;                      // 1..240
    int crf = -1;                      // -1: the codec's default (x264 18, VP9 30); H.264 0..51, VP9 0..63; PNG ignores it
    bool transparent = false;          // .webm and PNG only
    int audioRate = 0;                 // Hz of what writeAudio() gets; 0: no sound track
    int audioChannels = 2;             // 1 or 2
};

// Encodes RGBA frames and float sound into a file with FFmpeg's libraries.
// Streamed: it holds the codecs' own look-ahead (a dozen frames at most) and
// a few packets, whatever the length. Give the sound in step with the
// pictures (each frame's share with it); the muxer otherwise holds up to
// ten seconds of packets to interleave them. After a call fails every later
// one fails too, and the output is removed. Not synchronised: use it from
// one thread at a time.
class VideoEncoder {
public:
    static constexpr int kMinSize = 16;
    static constexpr int kMaxSize = 7680;
    static constexpr int kMaxFps = 240;

    // Nothing on failure, with a short user-facing reason in *error (may be
    // null). Creates the output file (nothing yet for PNG) and nothing else.
    static std::unique_ptr<VideoEncoder> open(const VideoFormatOptions& options, std::string* error);
    // Unless finish() succeeded, removes what was written: the partial file,
    // or every PNG of the sequence so far.
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // The next frame: height rows top-down, width * 4 bytes of RGBA8 each,
    // straight (not premultiplied) alpha, `stride` bytes from row to row.
    bool writeFrame(const uint8_t* rgba, int stride);

    // Interleaved float frames at audioRate, any count per call. NaN and Inf
    // are taken as silence and samples beyond +-1 are clipped. Ignored (true)
    // where there is no sound track.
    bool writeAudio(const float* interleaved, int64_t frames);

    // Drains the encoders and completes the file. False, with error(), when
    // it could not be: the output is then removed.
    bool finish();

    // Why the failing call failed; empty while nothing has.
    const std::string& error() const;

    int64_t framesWritten() const;

    // Seconds so far spent in writeFrame(): converting RGBA to the codec's
    // pixels, and encoding and writing them (the caller's thread only).
    double conversionSeconds() const;
    double encodingSeconds() const;

private:
    struct Impl;
    explicit VideoEncoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
