#include "renderer/MeterMath.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace meter {

namespace {

// trunc(rate * seconds) for a positive finite rate, without overflowing the
// conversion: anything at or above `ceiling` is reported as `ceiling`.
int64_t truncatedSpan(double sampleRate, double seconds, int64_t ceiling)
{
    const double span = sampleRate * seconds;
    if (!(span >= 0.0))  // NaN or negative
        return 0;
    if (span >= static_cast<double>(ceiling))
        return ceiling;
    return static_cast<int64_t>(span);
}

// Eight running values instead of one, so the loop runs in SIMD lanes and
// is not one long dependency chain. The order is fixed by this code (lane k
// takes every eighth element from k, the lanes are combined pairwise), not
// left to the compiler, so every x86-64 build gives the same meters.
constexpr int kLanes = 8;

// Sum of squares of one block, and the block's largest magnitude folded
// into `peak` (NaN never wins a comparison, so it is skipped). The SSE2 path
// does per lane exactly what the plain loop does.
float blockEnergy(const float* x, int64_t count, float& peak)
{
    float sum[kLanes] = {};
    float top[kLanes] = {};
    int64_t i = 0;
#if defined(__SSE2__)
    __m128 sumLo = _mm_setzero_ps(), sumHi = _mm_setzero_ps();
    __m128 topLo = _mm_setzero_ps(), topHi = _mm_setzero_ps();
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    for (; i + kLanes <= count; i += kLanes) {
        const __m128 lo = _mm_loadu_ps(x + i);
        const __m128 hi = _mm_loadu_ps(x + i + 4);
        sumLo = _mm_add_ps(sumLo, _mm_mul_ps(lo, lo));
        sumHi = _mm_add_ps(sumHi, _mm_mul_ps(hi, hi));
        // max(a, b) gives b when a is NaN: the running top stays.
        topLo = _mm_max_ps(_mm_and_ps(lo, magnitude), topLo);
        topHi = _mm_max_ps(_mm_and_ps(hi, magnitude), topHi);
    }
    _mm_storeu_ps(sum, sumLo);
    _mm_storeu_ps(sum + 4, sumHi);
    _mm_storeu_ps(top, topLo);
    _mm_storeu_ps(top + 4, topHi);
#endif
    for (; i + kLanes <= count; i += kLanes)
        for (int k = 0; k < kLanes; ++k) {
            const float v = x[i + k];
            sum[k] += v * v;
            const float m = std::fabs(v);
            top[k] = top[k] < m ? m : top[k];
        }
    for (; i < count; ++i) {
        sum[i % kLanes] += x[i] * x[i];
        const float m = std::fabs(x[i]);
        top[0] = top[0] < m ? m : top[0];
    }
    for (float m : top)
        peak = peak < m ? m : peak;
    return ((sum[0] + sum[1]) + (sum[2] + sum[3])) + ((sum[4] + sum[5]) + (sum[6] + sum[7]));
}

}  // namespace

float rhythmAdjustment(float r, int64_t kxScaleMode)
{
    if (r <= 0.4f)
        return -0.1f;
    if (r <= 0.55f)
        return (r - 0.4f) / 0.15f * 0.07f - 0.1f;
    if (r < 0.8f)
        return 0.0f;
    return kxScaleMode == kMixMode ? 0.0f : (r - 0.8f) / 0.19f * 0.03f;
}

float curvatureAdjustment(float c)
{
    if (!(c < 0.42f))
        return 0.0f;
    const float t = (0.42f - c) / 0.04f;
    return -0.25f * std::min(1.0f, t * t);
}

float publishedPressure(float smoothedPressure, float rhythmAdj, float curvatureAdj)
{
    const float p = smoothedPressure + rhythmAdj + curvatureAdj;
    // NaN from a poisoned analyser reads as silence rather than reaching the meter.
    if (!(p > 0.0f))
        return 0.0f;
    return std::min(p, 1.0f);
}

int64_t analysisWindowLength(double sampleRate, int64_t available)
{
    if (!std::isfinite(sampleRate) || available <= 0)
        return 0;
    return std::min(truncatedSpan(sampleRate, 3.0, available), available);
}

std::optional<float> signalDensity(const float* window, int64_t count, double sampleRate, float* blockSums)
{
    if (!std::isfinite(sampleRate) || count <= 0)
        return std::nullopt;
    // A block longer than the window leaves no blocks at all.
    const int64_t blockSize = std::max<int64_t>(truncatedSpan(sampleRate, 0.005, count + 1), 64);
    const int64_t blocks = count / blockSize;
    if (blocks < 11)
        return std::nullopt;

    // One pass over the window (it is larger than the L2 cache): block
    // energies and the peak together, then the blocks are judged.
    float peak = 0.0f;
    for (int64_t b = 0; b < blocks; ++b)
        blockSums[b] = blockEnergy(window + b * blockSize, blockSize, peak);
    const int64_t tail = count - blocks * blockSize;
    blockEnergy(window + blocks * blockSize, tail, peak);  // counts toward the peak only
    if (peak <= 1e-10f)
        return 0.0f;
    const float threshold = 0.05f * peak;
    const float h = static_cast<float>(blockSize);
    int64_t loud = 0;
    for (int64_t b = 0; b < blocks; ++b)
        if (std::sqrt(blockSums[b] / h) > threshold)
            ++loud;
    return static_cast<float>(loud) / static_cast<float>(blocks);
}

}  // namespace meter
