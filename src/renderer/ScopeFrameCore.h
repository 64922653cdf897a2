#pragma once

#include "analysis/BiquadFilter.h"
#include "analysis/RhythmAnalyzer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class RingBuffer;

// Everything the scope's frame does apart from the GL calls: the sample
// history and its drain from the ring buffer, the meter analysis schedule,
// the triggered waveform window and the display filter. No GPU, so all of it
// is tested on plain arrays. ScopeRenderer adds the GL passes on top.
//
// Main thread only, like the renderer. The public fields are the ones the
// scope view writes (and the analysis callbacks it installs); the rest is the
// frame's own state.
class ScopeFrameCore {
public:
    static constexpr int64_t historyCapacity = 393216;  // 8.192 s at 48 kHz, per channel
    static constexpr int64_t scratchSize = 16384;       // most frames drained per frame
    static constexpr int64_t maxGPUSamples = 65536;     // longest waveform window
    static constexpr int64_t analysisInterval = 6;      // frames between analysis runs
    static constexpr int64_t warmUpLength = 512;        // samples run through the filter before a window

    ScopeFrameCore();
    virtual ~ScopeFrameCore();
    ScopeFrameCore(const ScopeFrameCore&) = delete;
    ScopeFrameCore& operator=(const ScopeFrameCore&) = delete;

    // Source of samples; may be empty (nothing is drained, everything else runs).
    std::shared_ptr<RingBuffer> ringBuffer;
    double sampleRate = 48000.0;
    int64_t displaySampleCount = 4800;
    bool triggerEnabled = true;
    float triggerLevel = 0.0f;
    int64_t triggerChannel = 0;        // 0 = left, anything else = right (also the analysed channel)
    int64_t displayFilterType = 0;     // OFF, LP, HP, BP; above 3 counts as BP, below 0 as OFF
    float displayFilterFrequency = 1000.0f;
    int64_t kxScaleMode = 0;           // 0 EDM, 1 ROCK, 2 MIX
    bool scopeVisible = true;

    // Called synchronously from the frame function (and from resetAnalysis).
    std::function<void(float)> onRhythmAnalysis;
    std::function<void(float)> onPressureAnalysis;
    std::function<void(float)> onDensityAnalysis;
    std::function<void(float)> onCurvatureAnalysis;

    // Zeroes the smoothed meters and the held expansion, then sends 0 to the
    // rhythm, pressure, density and curvature callbacks, in that order.
    void resetAnalysis();

    // The CPU half of one frame, in order. drainAndTick() must come first
    // and always runs, visible or not; it returns n, the frames drained.
    int64_t drainAndTick();
    // XY mode: moves the frames due this frame, oldest first, to where
    // applyDisplayFilterXY takes them, and returns how many. The server hands
    // over blocks that may span several display frames (43 ms on PipeWire);
    // drawing each whole as it comes would make the trace flash, so drained
    // frames are drawn at the pace they arrive on average, at most about one
    // block late. A lone block is drawn at once.
    int64_t paceXY(int64_t drained);
    // A frame without an XY trace: what waited to be drawn is dropped.
    void dropXYBacklog() { xyBacklog = 0; }
    // XY mode with n >= 2: leaves the n frames paceXY chose, display-filtered,
    // in filteredLeftData()/filteredRightData().
    void applyDisplayFilterXY(int64_t count);
    // Waveform mode: fills waveformLeftData()/waveformRightData() with the
    // triggered, filtered window and returns its length (0: nothing to draw).
    int64_t prepareWaveformData();

    // History index of the rising-edge trigger for a window of m samples.
    std::optional<int64_t> findTriggerPoint(int64_t windowSize) const;

    const float* filteredLeftData() const { return filteredLeft.get(); }
    const float* filteredRightData() const { return filteredRight.get(); }
    const float* waveformLeftData() const { return leftGPUSamples.get(); }
    const float* waveformRightData() const { return rightGPUSamples.get(); }

protected:
    // Filters a window copied from history index startIdx in place, from a
    // state warmed up on the (at most 512) history samples just before it.
    void applyDisplayFilterWaveform(float* left, float* right, int64_t count, int64_t startIdx);
    void runRhythmAnalysis();
    FilterType currentFilterType() const;

    std::unique_ptr<float[]> historyLeft;
    std::unique_ptr<float[]> historyRight;
    int64_t xyBacklog = 0;         // drained, not yet drawn: the newest of the history
    double xyPerFrame = 0;         // frames drained per frame, averaged
    int64_t xyFramesSeen = 0;      // since the first block, up to 32
    double xyBlock = 0;            // frames per delivered block, smoothed
    int64_t historyWritePos = 0;   // where the next sample goes
    int64_t historyCount = 0;      // valid samples, at most historyCapacity

    std::unique_ptr<float[]> scratchLeft;
    std::unique_ptr<float[]> scratchRight;

    StereoBiquadFilter displayFilter;
    std::unique_ptr<float[]> filteredLeft;
    std::unique_ptr<float[]> filteredRight;

    // What the next upload puts into the GPU sample buffers in waveform mode.
    std::unique_ptr<float[]> leftGPUSamples;
    std::unique_ptr<float[]> rightGPUSamples;

    RhythmAnalyzer rhythmAnalyzer;
    int64_t analysisFrameCounter = 0;
    std::unique_ptr<float[]> analysisBuffer;
    int64_t analysisBufferSize = 0;
    float smoothedRate = 0.0f;
    float smoothedPressure = 0.0f;
    float smoothedDensity = 0.0f;
    float smoothedCurvature = 0.0f;
    std::unique_ptr<float[]> densityBlocks;  // scratch of the density step

private:
    void appendToHistory(const float* left, const float* right, int64_t count);
    // dst[k] = src[(start + k) mod historyCapacity], k < count <= historyCapacity.
    static void copyFromHistory(const float* src, int64_t start, int64_t count, float* dst);
};
