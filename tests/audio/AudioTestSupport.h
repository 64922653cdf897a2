#pragma once

#include "audio/AudioBackend.h"
#include "audio/RingBuffer.h"

#include <cstdint>
#include <vector>

// What a ring buffer holds, split into channels.
struct StereoFrames {
    std::vector<float> left, right;
};

inline StereoFrames drain(RingBuffer& ring)
{
    StereoFrames got;
    got.left.resize(static_cast<size_t>(ring.capacity()));
    got.right.resize(static_cast<size_t>(ring.capacity()));
    const int64_t n = ring.read(got.left.data(), got.right.data(), ring.capacity());
    got.left.resize(static_cast<size_t>(n));
    got.right.resize(static_cast<size_t>(n));
    return got;
}

inline AudioBlock blockOf(const std::vector<float>& samples, int channels, bool nonInterleaved = false)
{
    AudioBlock b;
    b.data = samples.data();
    b.floatCount = static_cast<int64_t>(samples.size());
    b.channels = channels;
    b.nonInterleaved = nonInterleaved;
    return b;
}

// 0, 1, 2, ... as floats.
inline std::vector<float> ramp(int64_t count, float start = 0.0f)
{
    std::vector<float> v(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        v[static_cast<size_t>(i)] = start + static_cast<float>(i);
    return v;
}
