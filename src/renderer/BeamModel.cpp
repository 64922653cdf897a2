#include "renderer/BeamModel.h"

#include <algorithm>
#include <cmath>

namespace beam {

namespace {

constexpr float kSqrtTwoPi = 2.50662827f;

// x limited to [lo, hi]; NaN gives `nan`.
float bounded(float x, float lo, float hi, float nan)
{
    if (std::isnan(x))
        return nan;
    return std::clamp(x, lo, hi);
}

float srgbEncode(float linear)
{
    if (linear <= 0.0031308f)
        return 12.92f * linear;
    return 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
}

float srgbDecode(float encoded)
{
    if (encoded <= 0.04045f)
        return encoded / 12.92f;
    return std::pow((encoded + 0.055f) / 1.055f, 2.4f);
}

}  // namespace

float sigmaFor(float beamWidth)
{
    return bounded(beamWidth * kSigmaPerBeamWidth, kMinSigma, kMaxSigma, kMinSigma);
}

float speedExponentFor(float speedSensitivity)
{
    // The control offers 0.1 ... 10; 10 is the physical beam (constant
    // energy per segment), lower values let fast strokes keep more light.
    return bounded(speedSensitivity / 10.0f, 0.0f, 1.0f, 0.0f);
}

float sanitizedIntensity(float intensity) { return bounded(intensity, 0.0f, 1e4f, 0.0f); }
float sanitizedColor(float component) { return bounded(component, 0.0f, 1e3f, 0.0f); }
float sanitizedDecay(float decay) { return bounded(decay, 0.0f, 1.0f, 0.0f); }

float xySegmentPeakBound(const Shape& s)
{
    // A point leaves E / (2 pi sigma^2) at its centre, a segment of length L
    // at most E / (L sigma sqrt(2 pi)); with E(L) above, the larger of the
    // two maxima over all L is at L = sigma.
    const float energyAtSigma = s.intensity * kEnergyScale * s.sigma * s.sigma * std::pow(2.0f, 1.0f - s.speedExponent);
    return energyAtSigma / (s.sigma * s.sigma * kSqrtTwoPi) * s.colorMax;
}

float waveformSegmentPeakBound(const Shape& s)
{
    // E / L = intensity * kEnergyScale * sigma * (dx / L)^p <= ... * sigma, as L >= dx.
    return s.intensity * kEnergyScale * s.sigma / (s.sigma * kSqrtTwoPi) * s.colorMax;
}

float linearColor(float displayComponent) { return srgbDecode(std::max(displayComponent, 0.0f)); }

float displayValue(float light, float hottest)
{
    const float background = srgbDecode(kBackground);
    const float shoulder = 1.0f - std::exp(-(std::max(light, 0.0f) + kWhiteBleed * std::max(hottest, 0.0f)));
    return srgbEncode(background + (1.0f - background) * shoulder);
}

float invisibleLight()
{
    // A quarter of an 8-bit step above the background, found by bisection on
    // the same mapping the shader uses.
    static const float threshold = [] {
        const float target = displayValue(0.0f, 0.0f) + 0.25f / 255.0f;
        float lo = 0.0f, hi = 1.0f;
        for (int i = 0; i < 40; ++i) {
            const float mid = 0.5f * (lo + hi);
            (displayValue(mid, mid) < target ? lo : hi) = mid;
        }
        return lo;
    }();
    return threshold;
}

}  // namespace beam
