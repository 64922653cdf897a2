#pragma once

#include "audio/AudioBackend.h"
#include "audio/RingBuffer.h"

#include <cstdint>
#include <memory>

// Any delivered float block to the ring buffer's layout, interleaved frames of
// left, right and (in a ring of three channels) Z: mono (and a block that
// names no channels) is doubled, a block of three or more channels gives its
// first two and its third as Z, a non-interleaved block is woven. A block
// without a third channel gives RingBuffer::kFullZ as Z.

// Frames `block` yields; 0 for a block without data.
int64_t stereoFrameCount(const AudioBlock& block) noexcept;

// Frames [first, first + count) of `block` as ringChannels * count
// interleaved floats at dst; ringChannels is 2 or 3. The range must lie
// within stereoFrameCount(block).
void interleaveFrames(const AudioBlock& block, int64_t first, int64_t count, int ringChannels, float* dst) noexcept;

// Converts blocks into a scratch area allocated once and writes them into a
// ring buffer. One writer per producer thread.
class StereoBlockWriter {
public:
    static constexpr int64_t kMaxFrames = 8192;  // scratch size, in frames of up to three channels

    StereoBlockWriter();

    StereoBlockWriter(const StereoBlockWriter&) = delete;
    StereoBlockWriter& operator=(const StereoBlockWriter&) = delete;

    // Audio thread. Writes every frame of `block` into `ring` and returns how
    // many. A block longer than kMaxFrames goes in in pieces; one already
    // in the ring's layout goes in directly. No lock, no allocation.
    int64_t write(const AudioBlock& block, RingBuffer& ring) noexcept;

private:
    std::unique_ptr<float[]> m_scratch;
};
