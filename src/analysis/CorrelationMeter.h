#pragma once

#include "analysis/BiquadFilter.h"

#include <cstdint>

// Phase correlation of a stereo stream, as goniometers read it: both
// channels low-passed at 2 kHz (2nd-order Butterworth), then L·R, L² and R²
// each averaged by a one-pole smoother of 0.3 s, and
// r = <LR> / sqrt(<L²><R²> + 1e-10), within [-1, 1].
//
// The 1e-10 floor makes silence read 0: from rest at once; after a signal
// the reading holds while the three averages decay together and falls to 0
// once the level is below about -50 dBFS (some 3 s after a full-scale stop).
//
// A NaN or infinite sample would stay in the filters and averages for ever:
// a block that leaves any of them non-finite restarts the meter from rest.
// Not synchronised: one thread at a time (the frame's, in the app).
class CorrelationMeter {
public:
    static constexpr float kCutoffHz = 2000.0f;
    static constexpr double kTimeConstantS = 0.3;
    static constexpr double kFloor = 1e-10;

    CorrelationMeter() = default;
    explicit CorrelationMeter(double sampleRate) { setSampleRate(sampleRate); }

    // Redesigns the filters and the smoother for a new rate, keeping their
    // state. A rate that is not finite and positive makes process() ignore
    // its input until a usable one is set.
    void setSampleRate(double sampleRate);
    // Runs count frames through the meter. Allocates nothing.
    void process(const float* left, const float* right, int64_t count);
    // The reading after the last process(); 0 from rest.
    float value() const;
    // Back to rest: filters, averages, the reading 0. The rate is kept.
    void reset();

private:
    void processBlock(const float* left, const float* right, int64_t count);

    StereoBiquadFilter m_lowpass;
    double m_rate = 0.0;
    double m_keep = 0.0;  // the smoother's a = exp(-1 / (0.3 s * rate))
    bool m_usable = false;
    double m_lr = 0.0;
    double m_ll = 0.0;
    double m_rr = 0.0;
};
