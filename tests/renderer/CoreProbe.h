#pragma once

// The frame core with its own state open to tests, fed through a ring buffer.

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

class CoreProbe : public ScopeFrameCore {
public:
    using ScopeFrameCore::analysisFrameCounter, ScopeFrameCore::displayFilter, ScopeFrameCore::historyCount,
        ScopeFrameCore::historyWritePos, ScopeFrameCore::runRhythmAnalysis, ScopeFrameCore::smoothedCurvature,
        ScopeFrameCore::smoothedDensity, ScopeFrameCore::smoothedPressure, ScopeFrameCore::smoothedRate;

    CoreProbe() { ringBuffer = std::make_shared<RingBuffer>(65536, 2); }
    void write(const std::vector<float>& left, const std::vector<float>& right)
    {
        ringBuffer->write(test::interleave(left, right).data(), int64_t(left.size()));
    }
    // Into the history a scratch at a time, as frames would, with the analysis schedule left as it was.
    void fill(const std::vector<float>& left, const std::vector<float>& right)
    {
        const int64_t counter = analysisFrameCounter;
        for (int64_t done = 0; done < int64_t(left.size()); done += scratchSize) {
            write(slice(left, done, scratchSize), slice(right, done, scratchSize));
            analysisFrameCounter = 0;
            drainAndTick();
        }
        analysisFrameCounter = counter;
    }
    void fill(const std::vector<float>& both) { fill(both, both); }
    // The newest n samples of one channel's history, oldest first.
    std::vector<float> newest(int64_t n, bool right = false) const
    {
        const float* history = right ? historyRight.get() : historyLeft.get();
        std::vector<float> out;
        for (int64_t k = n; k > 0; --k)
            out.push_back(history[(historyWritePos - k + historyCapacity) % historyCapacity]);
        return out;
    }
};
