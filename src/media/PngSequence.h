#pragma once

// VideoEncoder's picture sequence: one PNG file per frame. Not part of the
// library's interface.

#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// "shots/frame%06d.png" taken apart. Valid with exactly one %d or %0Nd in
// the file name (%% stands for a percent sign) and a .png extension.
struct FramePattern {
    std::string error; // empty when valid
    std::string folder;     // up to the last '/', or empty
    std::string head, tail; // around the number: head starts with folder
    int digits = 0;

    static FramePattern parse(const std::string& path);
    std::string name(int64_t frame) const;
};

class PngSequence {
public:
    PngSequence() = default;
    ~PngSequence();
    PngSequence(const PngSequence&) = delete;
    PngSequence& operator=(const PngSequence&) = delete;

    // Every call returns empty on success, else a user-facing reason.
    std::string open(const FramePattern& pattern, int width, int height, bool alpha);
    std::string write(const uint8_t* rgba, int stride, double* convertSeconds, double* encodeSeconds);
    // Deletes every file written so far.
    void remove();

private:
    FramePattern pattern_;
    AVCodecContext* enc_ = nullptr;
    SwsContext* sws_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* pkt_ = nullptr;
    int64_t written_ = 0;
};
