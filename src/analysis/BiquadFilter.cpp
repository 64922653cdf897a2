#include "analysis/BiquadFilter.h"

#include <cmath>

void BiquadFilter::updateCoefficients(FilterType type, float frequency, double sampleRate)
{
    if (type == cachedType && frequency == cachedFreq && sampleRate == cachedSampleRate)
        return;
    cachedType = type;
    cachedFreq = frequency;
    cachedSampleRate = sampleRate;

    if (type == FilterType::off) {
        b0 = 1.0f;
        b1 = b2 = a1 = a2 = 0.0f;
        return;
    }

    // Single precision from here on; the frequency is capped at 45 % of the
    // rate and deliberately has no lower bound.
    const float fs = static_cast<float>(sampleRate);
    const float cap = 0.45f * fs;
    const float f = cap < frequency ? cap : frequency;
    // 6.283185 rather than a closer 2*pi: the meters and pictures users
    // compare were made with this constant.
    const float omega = f * 6.283185f / fs;
    const float s = std::sin(omega);
    const float c = std::cos(omega);
    const float alpha = type == FilterType::bandpass ? s / 2.0f : s / 1.4142f;

    float nb0 = 0.0f, nb1 = 0.0f, nb2 = 0.0f;
    switch (type) {
    case FilterType::lowpass:
        nb0 = (1.0f - c) / 2.0f;
        nb1 = 1.0f - c;
        nb2 = (1.0f - c) / 2.0f;
        break;
    case FilterType::highpass:
        nb0 = (1.0f + c) / 2.0f;
        nb1 = -(1.0f + c);
        nb2 = (1.0f + c) / 2.0f;
        break;
    case FilterType::bandpass:  // Q = 1: unity gain at the centre
        nb0 = s / 2.0f;
        nb1 = 0.0f;
        nb2 = -s / 2.0f;
        break;
    case FilterType::off:
        break;
    }
    const float a0 = 1.0f + alpha;
    b0 = nb0 / a0;
    b1 = nb1 / a0;
    b2 = nb2 / a0;
    a1 = (-2.0f * c) / a0;
    a2 = (1.0f - alpha) / a0;
}

void BiquadFilter::process(float* samples, int64_t count)
{
    if (cachedType == FilterType::off)
        return;
    const float cb0 = b0, cb1 = b1, cb2 = b2, ca1 = a1, ca2 = a2;
    float s1 = z1, s2 = z2;
    for (int64_t i = 0; i < count; ++i) {
        const float x = samples[i];
        const float y = cb0 * x + s1;
        s1 = s2 + (cb1 * x - ca1 * y);
        s2 = cb2 * x - ca2 * y;
        samples[i] = y;
    }
    z1 = s1;
    z2 = s2;
}

void StereoBiquadFilter::updateCoefficients(FilterType type, float frequency, double sampleRate)
{
    left.updateCoefficients(type, frequency, sampleRate);
    right.updateCoefficients(type, frequency, sampleRate);
}

void StereoBiquadFilter::process(float* leftSamples, float* rightSamples, int64_t count)
{
    BiquadFilter& l = left;
    BiquadFilter& r = right;
    if (l.cachedType == FilterType::off || r.cachedType == FilterType::off) {
        l.process(leftSamples, count);  // at most one channel does anything
        r.process(rightSamples, count);
        return;
    }
    const float lb0 = l.b0, lb1 = l.b1, lb2 = l.b2, la1 = l.a1, la2 = l.a2;
    const float rb0 = r.b0, rb1 = r.b1, rb2 = r.b2, ra1 = r.a1, ra2 = r.a2;
    float l1 = l.z1, l2 = l.z2, r1 = r.z1, r2 = r.z2;
    for (int64_t i = 0; i < count; ++i) {
        const float xl = leftSamples[i];
        const float yl = lb0 * xl + l1;
        l1 = l2 + (lb1 * xl - la1 * yl);
        l2 = lb2 * xl - la2 * yl;
        leftSamples[i] = yl;

        const float xr = rightSamples[i];
        const float yr = rb0 * xr + r1;
        r1 = r2 + (rb1 * xr - ra1 * yr);
        r2 = rb2 * xr - ra2 * yr;
        rightSamples[i] = yr;
    }
    l.z1 = l1;
    l.z2 = l2;
    r.z1 = r1;
    r.z2 = r2;
}

void StereoBiquadFilter::restart()
{
    left.z1 = left.z2 = 0.0f;
    right.z1 = right.z2 = 0.0f;
}

namespace {

void restartIfNotFinite(BiquadFilter& filter)
{
    if (!std::isfinite(filter.z1) || !std::isfinite(filter.z2))
        filter.z1 = filter.z2 = 0.0f;
}

}  // namespace

void StereoBiquadFilter::restartIfPoisoned()
{
    restartIfNotFinite(left);
    restartIfNotFinite(right);
}
