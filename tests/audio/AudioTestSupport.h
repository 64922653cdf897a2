#pragma once

#include "audio/AudioBackend.h"
#include "audio/RingBuffer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

struct StereoFrames {
    std::vector<float> left, right, z;
};

// Every unread frame of `ring`, split into channels.
inline StereoFrames drain(RingBuffer& ring)
{
    const auto capacity = static_cast<size_t>(ring.capacity());
    StereoFrames got{std::vector<float>(capacity), std::vector<float>(capacity), std::vector<float>(capacity)};
    const auto n = static_cast<size_t>(ring.read(got.left.data(), got.right.data(), ring.capacity(), got.z.data()));
    got.left.resize(n);
    got.right.resize(n);
    got.z.resize(n);
    return got;
}

inline AudioBlock blockOf(const std::vector<float>& samples, int channels, bool nonInterleaved = false)
{
    return {samples.data(), static_cast<int64_t>(samples.size()), channels, nonInterleaved};
}

// What `act` printed on standard output.
inline std::string printedBy(const std::function<void()>& act)
{
    testing::internal::CaptureStdout();
    act();
    return testing::internal::GetCapturedStdout();
}
