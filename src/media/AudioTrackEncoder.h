#pragma once

// VideoEncoder's sound track: float frames in, the codec's sample format,
// rate and frame size out. Not part of the library's interface.

#include <cstdint>
#include <string>
#include <vector>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;

class AudioTrackEncoder {
public:
    AudioTrackEncoder() = default;
    ~AudioTrackEncoder();
    AudioTrackEncoder(const AudioTrackEncoder&) = delete;
    AudioTrackEncoder& operator=(const AudioTrackEncoder&) = delete;

    // Adds the stream to `fmt` (before its header is written). Every call
    // returns empty on success, else a user-facing reason.
    std::string open(AVFormatContext* fmt, const char* encoderName, int rate, int channels);
    std::string write(const float* interleaved, int64_t frames);
    // The resampler's tail and the last, short or padded, codec frame.
    std::string finish();

private:
    std::string drain(bool all);

    AVFormatContext* fmt_ = nullptr;
    AVStream* stream_ = nullptr;
    AVCodecContext* enc_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* pkt_ = nullptr;
    int channels_ = 0;
    int frameSize_ = 0;
    bool shortLastFrame_ = false;
    int64_t pts_ = 0;                 // samples handed to the encoder, at its rate
    std::vector<float> clean_;        // input with NaN/Inf silenced and clipped
    std::vector<uint8_t> converted_;  // swresample's output, one block
};
