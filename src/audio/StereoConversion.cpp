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

void interleaveStereo(const AudioBlock& block, int64_t first, int64_t count, float* dst) noexcept
{
    const float* d = block.data;
    if (isSingleChannel(block)) {
        for (int64_t i = 0; i < count; ++i) {
            const float s = d[first + i];
            dst[2 * i] = s;
            dst[2 * i + 1] = s;
        }
        return;
    }
    const int64_t c = block.channels;
    if (block.nonInterleaved) {
        const int64_t p = block.floatCount / c;  // samples per channel run
        const float* left = d + first;
        const float* right = d + p + first;
        for (int64_t i = 0; i < count; ++i) {
            dst[2 * i] = left[i];
            dst[2 * i + 1] = right[i];
        }
        return;
    }
    const float* src = d + first * c;
    for (int64_t i = 0; i < count; ++i) {
        dst[2 * i] = src[c * i];
        dst[2 * i + 1] = src[c * i + 1];
    }
}

StereoBlockWriter::StereoBlockWriter() : m_scratch(new float[2 * kMaxFrames]()) {}

int64_t StereoBlockWriter::write(const AudioBlock& block, RingBuffer& ring) noexcept
{
    const int64_t n = stereoFrameCount(block);
    if (n == 0)
        return 0;
    if (block.channels == 2 && !block.nonInterleaved) {
        ring.write(block.data, n);  // already the ring's layout
        return n;
    }
    for (int64_t first = 0; first < n; first += kMaxFrames) {
        const int64_t count = std::min(kMaxFrames, n - first);
        interleaveStereo(block, first, count, m_scratch.get());
        ring.write(m_scratch.get(), count);
    }
    return n;
}
