#include "audio/StereoConversion.h"

#include <algorithm>

namespace {

// Anything below one channel is read as one non-interleaved channel.
bool isSingleChannel(const AudioBlock& b) { return b.channels <= 1; }

}  // namespace

int64_t stereoFrameCount(const AudioBlock& block) noexcept
{
    if (block.data == nullptr || block.floatCount <= 0)
        return 0;
    if (isSingleChannel(block))
        return block.floatCount;
    return block.floatCount / block.channels;
}

void interleaveFrames(const AudioBlock& block, int64_t first, int64_t count, int ringChannels, float* dst) noexcept
{
    const int64_t out = ringChannels >= 3 ? 3 : 2;
    const float* d = block.data;
    const int64_t c = isSingleChannel(block) ? 1 : block.channels;
    // Where each channel's sample of frame i is: base + i * step.
    const float* left = d + first * c;
    const float* right = c > 1 ? left + 1 : left;
    const float* z = c > 2 ? left + 2 : nullptr;
    int64_t step = c;
    if (block.nonInterleaved && c > 1) {
        const int64_t run = block.floatCount / c;  // samples per channel run
        left = d + first;
        right = left + run;
        z = c > 2 ? right + run : nullptr;
        step = 1;
    }
    for (int64_t i = 0; i < count; ++i) {
        dst[out * i] = left[step * i];
        dst[out * i + 1] = right[step * i];
    }
    if (out == 3)
        for (int64_t i = 0; i < count; ++i)
            dst[3 * i + 2] = z != nullptr ? z[step * i] : RingBuffer::kFullZ;
}

StereoBlockWriter::StereoBlockWriter() : m_scratch(new float[3 * kMaxFrames]()) {}

int64_t StereoBlockWriter::write(const AudioBlock& block, RingBuffer& ring) noexcept
{
    const int64_t n = stereoFrameCount(block);
    if (n == 0)
        return 0;
    const int channels = ring.channelCount() >= 3 ? 3 : 2;
    if (block.channels == channels && !block.nonInterleaved) {
        ring.write(block.data, n);  // already the ring's layout
        return n;
    }
    for (int64_t first = 0; first < n; first += kMaxFrames) {
        const int64_t count = std::min(kMaxFrames, n - first);
        interleaveFrames(block, first, count, channels, m_scratch.get());
        ring.write(m_scratch.get(), count);
    }
    return n;
}
