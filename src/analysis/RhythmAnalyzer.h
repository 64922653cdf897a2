#pragma once

#include <cstdint>
#include <vector>

// What analyze() found on its way to the rhythm value; for tests and tuning.
struct RhythmTrace {
    int64_t blockSize = 0;      // H
    int64_t blockCount = 0;     // N
    int64_t minLag = 0;         // Lmin, in blocks
    int64_t maxLag = 0;         // Lmax, in blocks
    int64_t bestLag = 0;        // L*
    float bestCorrelation = 0;  // R
    float dynamicScore = 0;     // S
    float harmonicSupport = 0;  // Hs
    float consistency = 0;      // K
    float attackFactor = 0;     // F
    bool passedGuards = false;  // reached the score
};

// Meter analyses of a few seconds of one channel, oldest sample first.
//
// The arithmetic follows a fixed recipe (32-bit where the meters are 32-bit,
// sums in the written order, truncation toward zero) so that the meters read
// the same on every machine; keep it that way when optimising. Guards that
// find too little input, silence or no structure return exactly 0. Scratch
// arrays grow to the block count needed and never shrink, so a steady window
// allocates nothing. Not synchronised: main thread only.
class RhythmAnalyzer {
public:
    // Rhythm match rate in [0, 1): high for a regular low-frequency pulse
    // with clear attacks and strong level swings.
    float analyze(const float* samples, int64_t count, double sampleRate,
                  RhythmTrace* trace = nullptr);

    // Expansion pressure: the raw value, held with a fast attack and a slow
    // release in heldExpansion; returns the new held value.
    float analyzeExpansion(const float* samples, int64_t count, double sampleRate);

    // Mean fraction of each burst's length spent within 80 % of its own peak,
    // in [0, 1]; needs at least two qualifying bursts.
    float analyzeEnvelopeCurvature(const float* samples, int64_t count, double sampleRate);

    // One step of the hold: fast attack, slower release while the held value
    // is high. Returns the new held value.
    static float nextHeldExpansion(float held, float raw);

    // Held expansion level; the scheduler reads it and zeroes it on reset.
    float heldExpansion = 0.0f;

private:
    float computeRawExpansion(const float* samples, int64_t count, double sampleRate);

    std::vector<float> envBuffer;
    std::vector<float> curvatureBuffer;
    std::vector<float> forceBuffer;
    std::vector<float> m_forces;  // loud-block forces, reused between calls
};
