#pragma once

// Test access to the frame core's own state, and feeding helpers.

#include "audio/RingBuffer.h"
#include "renderer/ScopeFrameCore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CoreProbe : public ScopeFrameCore {
public:
    using ScopeFrameCore::analysisBufferSize;
    using ScopeFrameCore::analysisFrameCounter;
    using ScopeFrameCore::displayFilter;
    using ScopeFrameCore::historyCount;
    using ScopeFrameCore::historyLeft;
    using ScopeFrameCore::historyRight;
    using ScopeFrameCore::historyWritePos;
    using ScopeFrameCore::runRhythmAnalysis;
    using ScopeFrameCore::smoothedCurvature;
    using ScopeFrameCore::smoothedDensity;
    using ScopeFrameCore::smoothedPressure;
    using ScopeFrameCore::smoothedRate;

    CoreProbe() { ringBuffer = std::make_shared<RingBuffer>(65536, 2); }

    // Writes frames (left[i], right[i]) into the ring buffer.
    void write(const std::vector<float>& left, const std::vector<float>& right)
    {
        std::vector<float> interleaved(2 * left.size());
        for (size_t i = 0; i < left.size(); ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
        }
        ringBuffer->write(interleaved.data(), static_cast<int64_t>(left.size()));
    }

    // Puts the samples into the history as a run of frames would (16384 at a
    // time), then restores the analysis counter so the schedule is untouched.
    void fill(const std::vector<float>& left, const std::vector<float>& right)
    {
        const int64_t counter = analysisFrameCounter;
        for (size_t done = 0; done < left.size();) {
            const size_t n = std::min<size_t>(static_cast<size_t>(scratchSize), left.size() - done);
            write({left.begin() + long(done), left.begin() + long(done + n)},
                  {right.begin() + long(done), right.begin() + long(done + n)});
            analysisFrameCounter = 0;  // no analysis while filling
            drainAndTick();
            done += n;
        }
        analysisFrameCounter = counter;
    }

    void fill(const std::vector<float>& both) { fill(both, both); }
};

// count samples, f(i) each.
inline std::vector<float> samples(int64_t count, const std::function<float(int64_t)>& f)
{
    std::vector<float> out(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        out[static_cast<size_t>(i)] = f(i);
    return out;
}
