#include "renderer/ScopeFrameCore.h"

#include "audio/RingBuffer.h"
#include "renderer/MeterMath.h"
#include "renderer/StereoFilterRun.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int64_t C = ScopeFrameCore::historyCapacity;

std::unique_ptr<float[]> zeroed(int64_t count)
{
    return std::unique_ptr<float[]>(new float[static_cast<size_t>(count)]());
}

int64_t wrap(int64_t index)
{
    index %= C;
    return index < 0 ? index + C : index;
}

void call(const std::function<void(float)>& callback, float value)
{
    if (callback)
        callback(value);
}

// A NaN or infinite sample (or a filter made unstable by an absurd
// frequency) would otherwise stay in the state of a filter that runs on from
// frame to frame and blank the XY picture for good.
void restartIfPoisoned(BiquadFilter& filter)
{
    if (!std::isfinite(filter.z1) || !std::isfinite(filter.z2))
        filter.z1 = filter.z2 = 0.0f;
}

}  // namespace

ScopeFrameCore::ScopeFrameCore()
    : historyLeft(zeroed(historyCapacity)),
      historyRight(zeroed(historyCapacity)),
      scratchLeft(zeroed(scratchSize)),
      scratchRight(zeroed(scratchSize)),
      filteredLeft(zeroed(scratchSize)),
      filteredRight(zeroed(scratchSize)),
      leftGPUSamples(zeroed(maxGPUSamples)),
      rightGPUSamples(zeroed(maxGPUSamples)),
      densityBlocks(zeroed(historyCapacity / 64))  // blocks are at least 64 samples
{
}

ScopeFrameCore::~ScopeFrameCore() = default;

int64_t ScopeFrameCore::drainAndTick()
{
    int64_t n = 0;
    if (ringBuffer) {
        n = std::clamp<int64_t>(ringBuffer->read(scratchLeft.get(), scratchRight.get(), scratchSize), 0,
                                scratchSize);
        appendToHistory(scratchLeft.get(), scratchRight.get(), n);
    }
    if (++analysisFrameCounter >= analysisInterval) {
        analysisFrameCounter = 0;
        runRhythmAnalysis();
    }
    return n;
}

void ScopeFrameCore::appendToHistory(const float* left, const float* right, int64_t count)
{
    // count <= scratchSize < historyCapacity: at most one wrap.
    const int64_t first = std::min(count, C - historyWritePos);
    std::memcpy(historyLeft.get() + historyWritePos, left, static_cast<size_t>(first) * sizeof(float));
    std::memcpy(historyRight.get() + historyWritePos, right, static_cast<size_t>(first) * sizeof(float));
    const int64_t rest = count - first;
    std::memcpy(historyLeft.get(), left + first, static_cast<size_t>(rest) * sizeof(float));
    std::memcpy(historyRight.get(), right + first, static_cast<size_t>(rest) * sizeof(float));
    historyWritePos = wrap(historyWritePos + count);
    historyCount = std::min(historyCount + count, C);
}

void ScopeFrameCore::copyFromHistory(const float* src, int64_t start, int64_t count, float* dst)
{
    const int64_t first = std::min(count, C - start);
    std::memcpy(dst, src + start, static_cast<size_t>(first) * sizeof(float));
    std::memcpy(dst + first, src, static_cast<size_t>(count - first) * sizeof(float));
}

FilterType ScopeFrameCore::currentFilterType() const
{
    if (displayFilterType <= 0)
        return FilterType::off;
    return kAllFilterTypes[static_cast<size_t>(std::min<int64_t>(displayFilterType, 3))];
}

int64_t ScopeFrameCore::paceXY(int64_t drained)
{
    // Averages over the frames seen, up to the last 32: the first block sets
    // the pace at once.
    if (drained > 0 || xyFramesSeen > 0) {
        xyFramesSeen = std::min<int64_t>(xyFramesSeen + 1, 32);
        xyPerFrame += (static_cast<double>(drained) - xyPerFrame) / static_cast<double>(xyFramesSeen);
    }
    if (drained > 0)
        xyBlock = xyBlock > 0 ? xyBlock + (static_cast<double>(drained) - xyBlock) / 8 : static_cast<double>(drained);
    xyBacklog = std::min(xyBacklog + drained, scratchSize);
    // The average pace, nudged to keep about one block waiting so that the
    // trace never runs dry between blocks; far behind (late frames, bigger
    // blocks), the excess is drawn at once.
    const double wanted = xyPerFrame + (static_cast<double>(xyBacklog) - xyBlock) / 32;
    const auto behind = xyBacklog - 2 * static_cast<int64_t>(xyBlock);
    const int64_t count = std::clamp(std::max(static_cast<int64_t>(std::llround(wanted)), behind), int64_t{0}, xyBacklog);
    const int64_t from = wrap(historyWritePos - xyBacklog);
    copyFromHistory(historyLeft.get(), from, count, scratchLeft.get());
    copyFromHistory(historyRight.get(), from, count, scratchRight.get());
    xyBacklog -= count;
    return count;
}

void ScopeFrameCore::applyDisplayFilterXY(int64_t count)
{
    count = std::clamp<int64_t>(count, 0, scratchSize);
    std::memcpy(filteredLeft.get(), scratchLeft.get(), static_cast<size_t>(count) * sizeof(float));
    std::memcpy(filteredRight.get(), scratchRight.get(), static_cast<size_t>(count) * sizeof(float));
    const FilterType type = currentFilterType();
    if (type == FilterType::off)
        return;
    displayFilter.left.updateCoefficients(type, displayFilterFrequency, sampleRate);
    displayFilter.right.updateCoefficients(type, displayFilterFrequency, sampleRate);
    filterStereo(displayFilter, filteredLeft.get(), filteredRight.get(), count);
    restartIfPoisoned(displayFilter.left);
    restartIfPoisoned(displayFilter.right);
}

void ScopeFrameCore::applyDisplayFilterWaveform(float* left, float* right, int64_t count, int64_t startIdx)
{
    const FilterType type = currentFilterType();
    if (type == FilterType::off)
        return;
    displayFilter.left.z1 = displayFilter.left.z2 = 0.0f;
    displayFilter.right.z1 = displayFilter.right.z2 = 0.0f;
    displayFilter.left.updateCoefficients(type, displayFilterFrequency, sampleRate);
    displayFilter.right.updateCoefficients(type, displayFilterFrequency, sampleRate);

    // The samples just before the window settle the filter, so the window
    // does not start with the step response of a filter at rest.
    const int64_t warmUp = std::min(historyCount - count, warmUpLength);
    if (warmUp > 0) {
        const int64_t from = wrap(startIdx - warmUp);
        copyFromHistory(historyLeft.get(), from, warmUp, filteredLeft.get());
        copyFromHistory(historyRight.get(), from, warmUp, filteredRight.get());
        filterStereo(displayFilter, filteredLeft.get(), filteredRight.get(), warmUp);
    }
    filterStereo(displayFilter, left, right, count);
}

std::optional<int64_t> ScopeFrameCore::findTriggerPoint(int64_t m) const
{
    if (!triggerEnabled || m < 1 || historyCount < m)
        return std::nullopt;
    const int64_t span = std::min(2 * m, historyCount);
    const float* channel = triggerChannel == 0 ? historyLeft.get() : historyRight.get();
    const float level = triggerLevel;
    // From the oldest candidate (distance span-1) toward distance m; nearer
    // crossings would leave fewer than m samples after the trigger. Indices
    // step forward instead of being reduced modulo C each time.
    int64_t idx = wrap(historyWritePos - (span - 1));
    float previous = channel[idx == 0 ? C - 1 : idx - 1];
    for (int64_t i = span - 1; i >= m; --i) {
        const float current = channel[idx];
        if (previous < level && current >= level)
            return idx;
        previous = current;
        if (++idx == C)
            idx = 0;
    }
    return std::nullopt;
}

int64_t ScopeFrameCore::prepareWaveformData()
{
    const int64_t m = std::min({displaySampleCount, maxGPUSamples, historyCount});
    if (m < 1)
        return 0;
    const int64_t start = findTriggerPoint(m).value_or(wrap(historyWritePos - m));
    copyFromHistory(historyLeft.get(), start, m, leftGPUSamples.get());
    copyFromHistory(historyRight.get(), start, m, rightGPUSamples.get());
    applyDisplayFilterWaveform(leftGPUSamples.get(), rightGPUSamples.get(), m, start);
    return m;
}

void ScopeFrameCore::runRhythmAnalysis()
{
    const int64_t n = meter::analysisWindowLength(sampleRate, historyCount);
    if (n < 1001)
        return;
    if (analysisBufferSize < n) {
        analysisBuffer.reset(new float[static_cast<size_t>(n)]);
        analysisBufferSize = n;
    }
    float* window = analysisBuffer.get();
    const float* source = triggerChannel == 0 ? historyLeft.get() : historyRight.get();
    copyFromHistory(source, wrap(historyWritePos - n), n, window);

    smoothedRate = meter::smooth(smoothedRate, rhythmAnalyzer.analyze(window, n, sampleRate));
    call(onRhythmAnalysis, smoothedRate);

    smoothedPressure = meter::smooth(smoothedPressure, rhythmAnalyzer.analyzeExpansion(window, n, sampleRate));
    const float rhythmAdj = meter::rhythmAdjustment(smoothedRate, kxScaleMode);

    float curvatureAdj = 0.0f;
    if (kxScaleMode == meter::kMixMode) {
        smoothedCurvature =
            meter::smooth(smoothedCurvature, rhythmAnalyzer.analyzeEnvelopeCurvature(window, n, sampleRate));
        call(onCurvatureAnalysis, smoothedCurvature);
        curvatureAdj = meter::curvatureAdjustment(smoothedCurvature);
    }
    call(onPressureAnalysis, meter::publishedPressure(smoothedPressure, rhythmAdj, curvatureAdj));

    const std::optional<float> density = meter::signalDensity(window, n, sampleRate, densityBlocks.get());
    if (!density)
        return;
    smoothedDensity = meter::smooth(smoothedDensity, *density);
    call(onDensityAnalysis, smoothedDensity);
}

void ScopeFrameCore::resetAnalysis()
{
    smoothedRate = smoothedPressure = smoothedDensity = smoothedCurvature = 0.0f;
    rhythmAnalyzer.heldExpansion = 0.0f;
    call(onRhythmAnalysis, 0.0f);
    call(onPressureAnalysis, 0.0f);
    call(onDensityAnalysis, 0.0f);
    call(onCurvatureAnalysis, 0.0f);
}
