#pragma once

#include "analysis/BandLimitedUpsampler.h"
#include "analysis/BiquadFilter.h"
#include "renderer/MeterSchedule.h"
#include "renderer/SampleHistory.h"
#include "renderer/XYPacer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class RingBuffer;

// Everything the scope's frame does apart from the GL calls: the drain from
// the ring buffer into the sample history, the meter schedule, the XY pace,
// the triggered waveform window and the display filter. No GPU, so all of it
// is tested on plain arrays. ScopeRenderer owns one and adds the GL passes.
//
// Main thread only, like the renderer. The public fields are the ones the
// scope view writes; the meters' callbacks are set on meters().
class ScopeFrameCore {
public:
    static constexpr int64_t scratchSize = 16384;    // most frames drained per frame
    static constexpr int64_t maxGPUSamples = 65536;  // longest waveform window
    static constexpr int64_t warmUpLength = 512;     // samples run through the filter before a window

    ScopeFrameCore();
    ~ScopeFrameCore();
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
    // Points drawn per sample: 1 (straight segments between samples) or 2,
    // 4, 8 on the band-limited path between them (other values are held to
    // those); the meters never see the extra points.
    int64_t upsampling = 1;
    // How a source's third channel, Z, sets the beam's brightness: 0 not at
    // all, 1 as 0 ... 1, 2 as -1 ... 1 (beam::zBrightness). Sources without
    // one read as full brightness.
    int64_t zInput = 0;
    // False: each XY frame draws exactly what it drained, unsmoothed (a
    // video render, which hands over one frame's samples per frame).
    bool paced = true;

    MeterSchedule& meters() { return m_meters; }

    // The CPU half of one frame, in order. drainAndTick() must come first
    // and always runs, visible or not: drain() and a tick of the meter
    // schedule. drain() hands every frame, unfiltered, to the history and to
    // the meters' correlation. Both return n, the frames drained (at most
    // scratchSize).
    int64_t drainAndTick();
    int64_t drain();
    // XY mode: moves the frames due this frame (XYPacer), oldest first, to
    // where applyDisplayFilterXY takes them, and returns how many.
    int64_t paceXY(int64_t drained);
    // A frame without an XY trace: what waited to be drawn is dropped.
    void dropXYBacklog() { m_xyPacer.dropBacklog(); }
    // XY mode with n >= 2: leaves the n frames paceXY chose, display-filtered,
    // in filteredLeftData()/filteredRightData(). The filter runs on from
    // frame to frame as one stream.
    void applyDisplayFilterXY(int64_t count);
    // XY mode, after applyDisplayFilterXY: the path the beam draws through
    // those n frames, reconstructed at `upsampling` points per frame (a
    // stream from frame to frame, kLatency samples late when upsampling).
    // Returns the points; their coordinates are in xyLeftData()/xyRightData().
    int64_t reconstructXY(int64_t count);
    const float* xyLeftData() const { return m_xyLeft; }
    const float* xyRightData() const { return m_xyRight; }
    // The beam's brightness at each of those points (0 ... 1), from Z
    // reconstructed with them; nullptr while zInput is off.
    const float* xyBrightnessData() const { return m_xyBrightness; }
    // Points per sample of the last reconstructXY.
    int xyFactor() const { return m_upsampler.factor(); }

    // The path of the last reconstructXY as it is drawn: each sample step
    // with the fewest of its points (1, 2, 4 ... xyFactor() parts) that keep
    // every point within `tolerance` (signal units) of the drawn line, and
    // its brightness within 1/64 of it. Steps of the same count go together
    // (a NaN point between runs, which the beam does not draw), so a nearly
    // straight stretch costs what it costs without upsampling. One run per
    // count in use; all of them at xyFactor() 1 or a tolerance not above 0.
    //
    // The beam's cost grows with the area its quads cover, each part's
    // length plus 2 * reach (signal units) across: where following the path
    // would cover more than kMaxAreaGrowth times the area of straight steps
    // (noise, whose every step bends), the finest parts are given up until
    // it does not, so a frame never costs many times one without upsampling.
    struct XYRun {
        const float* left;
        const float* right;
        const float* brightness;  // nullptr while zInput is off
        int64_t count;
        int partsPerStep;
    };
    static constexpr double kMaxAreaGrowth = 2.5;
    const std::vector<XYRun>& xyRuns(int64_t points, float tolerance, float reach = 0.0f);
    // Waveform mode: fills waveformLeftData()/waveformRightData() with the
    // triggered, filtered window (reconstructed at `upsampling` points per
    // sample step, fewer where it would not fit maxGPUSamples) and returns
    // its length (0: nothing to draw).
    int64_t prepareWaveformData();

    // History index of the rising-edge trigger for a window of m samples.
    std::optional<int64_t> findTriggerPoint(int64_t windowSize) const;

    const float* filteredLeftData() const { return m_filteredLeft.get(); }
    const float* filteredRightData() const { return m_filteredRight.get(); }
    const float* waveformLeftData() const { return m_waveOutLeft; }
    const float* waveformRightData() const { return m_waveOutRight; }
    // The brightness at each point of that window; nullptr while zInput is off.
    const float* waveformBrightnessData() const { return m_waveBrightness; }

private:
    // Filters a window copied from history index startIdx in place, from a
    // state warmed up on the (at most 512) history samples just before it.
    void applyDisplayFilterWaveform(float* left, float* right, int64_t count, int64_t startIdx);
    FilterType currentFilterType() const;

    SampleHistory m_history;
    MeterSchedule m_meters;
    XYPacer m_xyPacer{scratchSize};
    StereoBiquadFilter m_displayFilter;
    BandLimitedUpsampler m_upsampler{3};
    std::vector<float> m_upsampledLeft;  // made on first use
    std::vector<float> m_upsampledRight;
    std::vector<float> m_upsampledZ;
    const float* m_xyLeft = nullptr;
    const float* m_xyRight = nullptr;
    float* m_xyBrightness = nullptr;
    std::vector<uint8_t> m_stepParts;  // log2 of the parts each step is drawn with
    std::vector<float> m_runLeft, m_runRight, m_runBrightness;
    std::vector<XYRun> m_runs;

    std::unique_ptr<float[]> m_scratchLeft;
    std::unique_ptr<float[]> m_scratchRight;
    std::unique_ptr<float[]> m_scratchZ;
    std::unique_ptr<float[]> m_filteredLeft;
    std::unique_ptr<float[]> m_filteredRight;
    // What the next upload puts into the GPU sample buffers in waveform mode.
    std::unique_ptr<float[]> m_waveformLeft;
    std::unique_ptr<float[]> m_waveformRight;
    std::unique_ptr<float[]> m_waveformZ;
    // The window reconstructed between its samples, when upsampling (made on
    // first use), and which of the two the last window left.
    std::vector<float> m_waveUpLeft;
    std::vector<float> m_waveUpRight;
    std::vector<float> m_waveUpZ;
    const float* m_waveOutLeft = m_waveformLeft.get();
    const float* m_waveOutRight = m_waveformRight.get();
    const float* m_waveBrightness = nullptr;
};
