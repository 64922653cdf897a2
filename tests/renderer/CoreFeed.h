#pragma once

// Feeds a frame core through its ring buffer, as the capture side and the
// frames would, and reads its arrays back.

#include "support/TestSupport.h"

#include "audio/RingBuffer.h"
#include "renderer/ScopeFrameCore.h"

#include <algorithm>
#include <memory>

// count values from data (a plain range trips GCC 12's -Wfree-nonheap-object).
inline std::vector<float> values(const float* data, int64_t count)
{
    std::vector<float> v(size_t(std::max<int64_t>(count, 0)));
    std::copy_n(data, v.size(), v.begin());
    return v;
}
// v[from], v[from + 1], ... up to count of them.
inline std::vector<float> slice(const std::vector<float>& v, int64_t from, int64_t count)
{
    return values(v.data() + from, std::min(count, int64_t(v.size()) - from));
}

// Into the core's ring buffer, made on first use.
inline void write(ScopeFrameCore& core, const std::vector<float>& left, const std::vector<float>& right)
{
    if (!core.ringBuffer)
        core.ringBuffer = std::make_shared<RingBuffer>(65536, 2);
    core.ringBuffer->write(test::interleave(left, right).data(), int64_t(left.size()));
}
// Into the history a scratch at a time, as frames would, without ticking the meter schedule.
inline void fill(ScopeFrameCore& core, const std::vector<float>& left, const std::vector<float>& right)
{
    for (int64_t done = 0; done < int64_t(left.size()); done += ScopeFrameCore::scratchSize) {
        write(core, slice(left, done, ScopeFrameCore::scratchSize), slice(right, done, ScopeFrameCore::scratchSize));
        core.drain();
    }
}
inline void fill(ScopeFrameCore& core, const std::vector<float>& both) { fill(core, both, both); }
