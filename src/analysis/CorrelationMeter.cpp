#include "analysis/CorrelationMeter.h"

#include <algorithm>
#include <cmath>

namespace {

// The filters work in place, so each call goes through a copy this long on
// the stack: no allocation, and the block stays in L1.
constexpr int64_t kBlock = 256;

}  // namespace

void CorrelationMeter::setSampleRate(double sampleRate)
{
    if (sampleRate == m_rate)
        return;
    m_rate = sampleRate;
    m_usable = std::isfinite(sampleRate) && sampleRate > 0.0;
    if (!m_usable)
        return;
    m_lowpass.updateCoefficients(FilterType::lowpass, kCutoffHz, sampleRate);
    m_keep = std::exp(-1.0 / (kTimeConstantS * sampleRate));
}

void CorrelationMeter::process(const float* left, const float* right, int64_t count)
{
    if (!m_usable)
        return;
    for (int64_t done = 0; done < count; done += kBlock)
        processBlock(left + done, right + done, std::min(kBlock, count - done));
}

void CorrelationMeter::processBlock(const float* left, const float* right, int64_t count)
{
    float l[kBlock], r[kBlock];
    std::copy_n(left, count, l);
    std::copy_n(right, count, r);
    m_lowpass.process(l, r, count);

    // Double averages: with 1 - a near 7e-5 at 48 kHz a float sum would
    // lose most of each sample's contribution to rounding.
    const double a = m_keep, b = 1.0 - m_keep;
    double lr = m_lr, ll = m_ll, rr = m_rr;
    for (int64_t i = 0; i < count; ++i) {
        const double x = l[i], y = r[i];
        lr = a * lr + b * (x * y);
        ll = a * ll + b * (x * x);
        rr = a * rr + b * (y * y);
    }
    m_lr = lr, m_ll = ll, m_rr = rr;
    // A non-finite sample reaches all three through the filters.
    if (!std::isfinite(lr) || !std::isfinite(ll) || !std::isfinite(rr))
        reset();
}

float CorrelationMeter::value() const
{
    const double r = m_lr / std::sqrt(m_ll * m_rr + kFloor);
    return static_cast<float>(std::clamp(r, -1.0, 1.0));
}

void CorrelationMeter::reset()
{
    m_lowpass.restart();
    m_lr = m_ll = m_rr = 0.0;
}
