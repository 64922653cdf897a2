#pragma once

#include <cstdint>
#include <optional>

// The arithmetic between the analysers and the meters, apart from the
// schedule that runs it (MeterSchedule). All in 32-bit float.
namespace meter {

constexpr int64_t kMixMode = 2;  // kxScaleMode index of MIX

// One-pole smoothing step of every meter: 0.7 new, 0.3 previous.
inline float smooth(float previous, float value) { return 0.7f * value + 0.3f * previous; }

// Shift of the published pressure by the smoothed rhythm rate: -0.1 for
// unrhythmic material, rising to -0.03 at 0.55, none up to 0.8, then up to
// +0.03 at 0.99 except in MIX.
float rhythmAdjustment(float smoothedRate, int64_t kxScaleMode);

// MIX only: pulls the pressure down by up to 0.25 as the smoothed envelope
// curvature falls below 0.42 (0.0625 at 0.40, the full 0.25 from 0.38).
float curvatureAdjustment(float smoothedCurvature);

// Smoothed pressure plus both adjustments, limited to 0 ... 1.
float publishedPressure(float smoothedPressure, float rhythmAdj, float curvatureAdj);

// Share of 5 ms blocks (at least 64 samples) whose RMS exceeds 5 % of the
// window's peak; none when the window holds fewer than 11 blocks or the rate
// is unusable. A silent window (peak <= 1e-10) has density 0. blockSums is
// scratch for count / 64 values.
std::optional<float> signalDensity(const float* window, int64_t count, double sampleRate, float* blockSums);

// Samples in the analysis window: three seconds at sampleRate, but no more
// than `available`; 0 for a rate that is not a positive finite number.
int64_t analysisWindowLength(double sampleRate, int64_t available);

}  // namespace meter
