#pragma once

#include "audio/AudioBackend.h"
#include "audio/RingBuffer.h"

#include <cstdint>
#include <memory>

// Any delivered float block to interleaved stereo frames, the ring buffer's
// layout: mono (and a block that names no channels) is doubled, a block of
// three or more channels gives its first two, a non-interleaved block is woven.

// Frames `block` yields; 0 for a block without data.
int64_t stereoFrameCount(const AudioBlock& block) noexcept;

// Frames [first, first + count) of `block` as 2 * count interleaved floats at
// dst. The range must lie within stereoFrameCount(block).
void interleaveStereo(const AudioBlock& block, int64_t first, int64_t count, float* dst) noexcept;

// Converts blocks into a scratch area allocated once and writes them into a
// ring buffer. One writer per producer thread.
class StereoBlockWriter {
public:
    static constexpr int64_t kMaxFrames = 8192;  // scratch size, in stereo frames

    StereoBlockWriter();

    StereoBlockWriter(const StereoBlockWriter&) = delete;
    StereoBlockWriter& operator=(const StereoBlockWriter&) = delete;

    // Audio thread. Writes every frame of `block` into `ring` and returns how
    // many. A block longer than kMaxFrames goes in in pieces; interleaved
    // stereo goes in directly. No lock, no allocation.
    int64_t write(const AudioBlock& block, RingBuffer& ring) noexcept;

private:
    std::unique_ptr<float[]> m_scratch;
};
