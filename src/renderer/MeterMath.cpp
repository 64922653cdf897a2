#include "renderer/MeterMath.h"

#include <algorithm>
#include <cmath>

namespace meter {

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

// trunc(rate * seconds) for a positive finite rate, without overflowing the
// conversion: anything at or above `ceiling` is reported as `ceiling`.
static int64_t truncatedSpan(double sampleRate, double seconds, int64_t ceiling)
{
    const double span = sampleRate * seconds;
    if (!(span >= 0.0))  // NaN or negative
        return 0;
    if (span >= static_cast<double>(ceiling))
        return ceiling;
    return static_cast<int64_t>(span);
}

int64_t analysisWindowLength(double sampleRate, int64_t available)
{
    if (!std::isfinite(sampleRate) || available <= 0)
        return 0;
    return std::min(truncatedSpan(sampleRate, 3.0, available), available);
}

std::optional<float> signalDensity(const float* window, int64_t count, double sampleRate)
{
    if (!std::isfinite(sampleRate) || count <= 0)
        return std::nullopt;
    // A block longer than the window leaves no blocks at all.
    const int64_t blockSize = std::max<int64_t>(truncatedSpan(sampleRate, 0.005, count + 1), 64);
    const int64_t blocks = count / blockSize;
    if (blocks < 11)
        return std::nullopt;

    // Lanes instead of one running value so the loops are not one long
    // dependency chain; each block is still summed alone and in order, and a
    // maximum does not depend on the order it is taken in (NaN is skipped).
    float lanes[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    int64_t i = 0;
    for (; i + 4 <= count; i += 4)
        for (int k = 0; k < 4; ++k)
            lanes[k] = std::max(lanes[k], std::fabs(window[i + k]));
    for (; i < count; ++i)
        lanes[0] = std::max(lanes[0], std::fabs(window[i]));
    const float peak = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    if (peak <= 1e-10f)
        return 0.0f;

    const float threshold = 0.05f * peak;
    const float h = static_cast<float>(blockSize);
    const auto loudBlock = [&](float sum) { return std::sqrt(sum / h) > threshold ? 1 : 0; };
    int64_t loud = 0;
    int64_t b = 0;
    for (; b + 4 <= blocks; b += 4) {
        const float* x0 = window + b * blockSize;
        const float* x1 = x0 + blockSize;
        const float* x2 = x1 + blockSize;
        const float* x3 = x2 + blockSize;
        float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
        for (int64_t j = 0; j < blockSize; ++j) {
            s0 += x0[j] * x0[j];
            s1 += x1[j] * x1[j];
            s2 += x2[j] * x2[j];
            s3 += x3[j] * x3[j];
        }
        loud += loudBlock(s0) + loudBlock(s1) + loudBlock(s2) + loudBlock(s3);
    }
    for (; b < blocks; ++b) {
        const float* x = window + b * blockSize;
        float sum = 0.0f;
        for (int64_t j = 0; j < blockSize; ++j)
            sum += x[j] * x[j];
        loud += loudBlock(sum);
    }
    return static_cast<float>(loud) / static_cast<float>(blocks);
}

}  // namespace meter
