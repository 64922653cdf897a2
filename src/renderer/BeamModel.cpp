#include "renderer/BeamModel.h"

#include <algorithm>
#include <cmath>
#include <utility>

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

float zBrightness(float z, int64_t convention)
{
    if (convention == 1)
        return bounded(z, 0.0f, 1.0f, 0.0f);
    if (convention == 2)
        return bounded((z + 1.0f) * 0.5f, 0.0f, 1.0f, 0.0f);
    return 1.0f;
}

void applyZBrightness(float* z, int64_t count, int64_t convention)
{
    for (int64_t i = 0; i < count; ++i)
        z[i] = zBrightness(z[i], convention);
}

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

float fadeBound(float decay) { return sanitizedDecay(decay) * (1.0f + 0x1p-11f); }

int64_t framesToFade(float decay)
{
    const double factor = fadeBound(decay);
    if (factor >= 1.0)
        return kMaxFadeFrames;
    const double frames = std::ceil(std::log(double(invisibleLight()) / kMaxTexel) / std::log(factor));
    return std::clamp<int64_t>(static_cast<int64_t>(frames), 0, kMaxFadeFrames);
}

PixelRect unite(const PixelRect& a, const PixelRect& b)
{
    if (a.empty())
        return b;
    if (b.empty())
        return a;
    return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

PixelRect xyLitRect(const float* left, const float* right, int64_t count, float xyGain, float xyRotationAngle,
                    float beamWidth, int width, int height)
{
    if (count < 2 || width < 1 || height < 1)
        return {};
    // The shader drops a segment unless both ends are finite (and not too
    // far out); a drawn segment lies within the box of its ends.
    const double c = std::cos(double(xyRotationAngle));
    const double s = std::sin(double(xyRotationAngle));
    const double scale = kXYScale * std::min(width, height);
    double lo[2] = {HUGE_VAL, HUGE_VAL};
    double hi[2] = {-HUGE_VAL, -HUGE_VAL};
    bool any = false;
    for (int64_t i = 0; i < count; ++i) {
        const double l = double(left[i] * xyGain);
        const double r = double(right[i] * xyGain);
        const double p[2] = {0.5 * width + (c * l - s * r) * scale, 0.5 * height + (s * l + c * r) * scale};
        if (!std::isfinite(p[0]) || !std::isfinite(p[1]))
            continue;
        for (int a = 0; a < 2; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
        any = true;
    }
    if (!any)
        return {};
    const double reach = kQuadReach * sigmaFor(beamWidth) + 2.0;
    const auto clampTo = [](double v, int size) { return int(std::clamp(v, 0.0, double(size))); };
    PixelRect rect{clampTo(std::floor(lo[0] - reach), width), clampTo(std::floor(lo[1] - reach), height),
                   clampTo(std::ceil(hi[0] + reach), width), clampTo(std::ceil(hi[1] + reach), height)};
    return rect.empty() ? PixelRect{} : rect;
}

PixelRect waveformLitRect(const float* left, const float* right, int64_t count, float waveformGain, float beamWidth,
                          int width, int height)
{
    if (count < 2 || width < 1 || height < 1)
        return {};
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    const double scale = double(kWaveformScale) * height * double(waveformGain);
    for (const auto& [samples, centre] : {std::pair{left, kWaveformLeftCentre}, std::pair{right, kWaveformRightCentre}}) {
        float low = HUGE_VALF, high = -HUGE_VALF;
        for (int64_t i = 0; i < count; ++i) {
            // NaN fails both; an infinite sample's segments are dropped.
            const float v = std::isinf(samples[i]) ? 0.0f : samples[i];
            low = v < low ? v : low;
            high = v > high ? v : high;
        }
        for (const float v : {low, high}) {
            const double y = centre * double(height) + double(v) * scale;
            if (std::isfinite(y))
                lo = std::min(lo, y), hi = std::max(hi, y);
        }
    }
    if (!(lo <= hi))
        return {};
    const double reach = kQuadReach * sigmaFor(beamWidth) + 2.0;
    const auto row = [height](double y) { return int(std::clamp(y, 0.0, double(height))); };
    const PixelRect rect{0, row(std::floor(lo - reach)), width, row(std::ceil(hi + reach))};
    return rect.empty() ? PixelRect{} : rect;
}

}  // namespace beam
