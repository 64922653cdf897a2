#pragma once

#include "analysis/CorrelationMeter.h"
#include "analysis/RhythmAnalyzer.h"

#include <cstdint>
#include <functional>
#include <memory>

class SampleHistory;

// When and on what the meters are measured: every sixth display frame the
// newest three seconds of the analysed channel go through the analysers,
// each result is smoothed (MeterMath) and handed to its callback. Holds the
// smoothed values between runs. The phase correlation instead follows every
// frame fed to it and is published on the same frames as the others, even
// when too little is held for a run. Main thread only, like the frame.
class MeterSchedule {
public:
    static constexpr int64_t analysisInterval = 6;  // frames between analysis runs
    // A shorter window holds too little of a beat to measure: the run is
    // skipped and the meters keep their values.
    static constexpr int64_t minWindowLength = 1001;

    MeterSchedule();
    ~MeterSchedule();
    MeterSchedule(const MeterSchedule&) = delete;
    MeterSchedule& operator=(const MeterSchedule&) = delete;

    // Called synchronously from run() (and so tick()) and resetAnalysis().
    std::function<void(float)> onRhythmAnalysis;
    std::function<void(float)> onPressureAnalysis;
    std::function<void(float)> onDensityAnalysis;
    std::function<void(float)> onCurvatureAnalysis;
    // Called from tick() every analysisInterval-th frame and resetAnalysis().
    std::function<void(float)> onCorrelationAnalysis;

    // Every frame the scope drains, unfiltered, at the rate it was captured.
    void feed(const float* left, const float* right, int64_t count, double sampleRate);

    // One display frame: every analysisInterval-th call runs the analysis,
    // then publishes the correlation.
    void tick(const SampleHistory& history, int64_t channel, double sampleRate, int64_t kxScaleMode);
    // One analysis run on the newest samples of history.channel(channel):
    // rhythm, curvature (MIX only), pressure and density callbacks, in that
    // order. Allocates only when the window outgrows the last one.
    void run(const SampleHistory& history, int64_t channel, double sampleRate, int64_t kxScaleMode);
    // Zeroes the smoothed meters and the held expansion and restarts the
    // correlation, then sends 0 to the rhythm, pressure, density, curvature
    // and correlation callbacks, in that order.
    void resetAnalysis();

    // The smoothed values as the last run left them (the pressure before
    // its adjustments).
    float smoothedRate() const { return m_rate; }
    float smoothedPressure() const { return m_pressure; }
    float smoothedDensity() const { return m_density; }
    float smoothedCurvature() const { return m_curvature; }

private:
    RhythmAnalyzer m_analyzer;
    CorrelationMeter m_correlation;
    int64_t m_frameCounter = 0;
    std::unique_ptr<float[]> m_window;
    int64_t m_windowSize = 0;
    std::unique_ptr<float[]> m_densityBlocks;  // scratch of the density step
    float m_rate = 0.0f;
    float m_pressure = 0.0f;
    float m_density = 0.0f;
    float m_curvature = 0.0f;
};
