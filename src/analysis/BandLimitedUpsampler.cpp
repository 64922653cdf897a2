#include "analysis/BandLimitedUpsampler.h"

#include <algorithm>
#include <cstring>
#include <numbers>

namespace {

constexpr int kOuterTaps = BandLimitedUpsampler::kTaps - 1;  // all but the centre

// Taylor series, evaluated by the compiler: libm's sin may differ in the last
// bit between versions and CPUs, and the taps must not. |theta| < pi here,
// where 24 terms reach double precision.
constexpr double taylorSin(double theta)
{
    double term = theta, sum = theta;
    for (int n = 1; n < 24; ++n) {
        term *= -theta * theta / ((2.0 * n) * (2.0 * n + 1.0));
        sum += term;
    }
    return sum;
}

// Weights of the taps at offsets -2, -1, +1, +2, +3 from the centre for each
// phase p / F, from the Lanczos kernel sinc(d) sinc(d / 3) normalised to sum 1
// with the centre tap. Phase 0 is unused: its output is the centre sample.
template <int F>
constexpr std::array<std::array<float, kOuterTaps>, F> lanczosPhases()
{
    constexpr double pi = std::numbers::pi;
    constexpr int offsets[kOuterTaps + 1] = {0, -2, -1, 1, 2, 3};
    std::array<std::array<float, kOuterTaps>, F> table{};
    for (int p = 1; p < F; ++p) {
        const double f = static_cast<double>(p) / F;
        double w[kOuterTaps + 1] = {};
        double sum = 0.0;
        for (int t = 0; t <= kOuterTaps; ++t) {
            const int k = offsets[t];
            const double d = f - k;  // distance from the tap to the output, never 0
            const double sinPiD = (k % 2 ? -1.0 : 1.0) * taylorSin(pi * f);  // sin(pi (f - k))
            w[t] = 3.0 * sinPiD * taylorSin(pi * d / 3.0) / (pi * pi * d * d);
            sum += w[t];
        }
        for (int t = 1; t <= kOuterTaps; ++t)
            table[p][t - 1] = static_cast<float>(w[t] / sum);
    }
    return table;
}

constexpr auto kPhases2 = lanczosPhases<2>();
constexpr auto kPhases4 = lanczosPhases<4>();
constexpr auto kPhases8 = lanczosPhases<8>();

template <int F>
constexpr const std::array<std::array<float, kOuterTaps>, F>& phases()
{
    if constexpr (F == 2)
        return kPhases2;
    else if constexpr (F == 4)
        return kPhases4;
    else
        return kPhases8;
}

// Outputs for centres x[0..n), reading x[-2..n + 3).
template <int F>
void interpolate(const float* x, int64_t n, float* out)
{
    const auto& w = phases<F>();
    for (int64_t i = 0; i < n; ++i) {
        const float c = x[i];
        const float d0 = x[i - 2] - c, d1 = x[i - 1] - c, d2 = x[i + 1] - c, d3 = x[i + 2] - c,
                    d4 = x[i + 3] - c;
        float* o = out + i * F;
        o[0] = c;
        for (int p = 1; p < F; ++p)
            o[p] = c + (w[p][0] * d0 + w[p][1] * d1 + w[p][2] * d2 + w[p][3] * d3 + w[p][4] * d4);
    }
}

void interpolate(int factor, const float* x, int64_t n, float* out)
{
    switch (factor) {
    case 2: interpolate<2>(x, n, out); break;
    case 4: interpolate<4>(x, n, out); break;
    case 8: interpolate<8>(x, n, out); break;
    default: break;
    }
}

}  // namespace

BandLimitedUpsampler::BandLimitedUpsampler(int channels)
    : m_channels(std::clamp(channels, 1, kMaxChannels))
{
}

int BandLimitedUpsampler::heldFactor(int factor)
{
    // Boundaries at the geometric means of neighbours (2.8, 5.7): nearest in octaves.
    return factor <= 1 ? 1 : factor <= 2 ? 2 : factor <= 5 ? 4 : 8;
}

void BandLimitedUpsampler::setFactor(int factor)
{
    const int held = heldFactor(factor);
    if (held != m_factor) {
        m_factor = held;
        reset();
    }
}

int64_t BandLimitedUpsampler::process(const float* const* in, int64_t count, float* const* out)
{
    if (count <= 0)
        return 0;
    if (m_factor == 1) {
        for (int c = 0; c < m_channels; ++c)
            std::memcpy(out[c], in[c], static_cast<size_t>(count) * sizeof(float));
        return count;
    }
    if (!m_primed) {
        for (int c = 0; c < m_channels; ++c)
            m_history[c].fill(in[c][0]);
        m_primed = true;
    }
    // The first 5 outputs need the history; the rest read the block directly.
    const int64_t head = std::min<int64_t>(count, kHistory);
    for (int c = 0; c < m_channels; ++c) {
        float joined[2 * kHistory];
        std::copy(m_history[c].begin(), m_history[c].end(), joined);
        std::copy(in[c], in[c] + head, joined + kHistory);
        interpolate(m_factor, joined + 2, head, out[c]);
        if (count > kHistory)
            interpolate(m_factor, in[c] + 2, count - kHistory, out[c] + kHistory * m_factor);
        const float* last = count >= kHistory ? in[c] + count - kHistory : joined + count;
        std::copy(last, last + kHistory, m_history[c].begin());
    }
    return count * m_factor;
}

void upsampleWindow(const float* x, int64_t count, int64_t before, int64_t after, int factor, float* out)
{
    if (count <= 0)
        return;
    factor = BandLimitedUpsampler::heldFactor(factor);
    if (factor == 1) {
        std::memcpy(out, x, static_cast<size_t>(count) * sizeof(float));
        return;
    }
    const int64_t first = -std::max<int64_t>(before, 0);
    const int64_t last = count - 1 + std::max<int64_t>(after, 0);
    // Centres whose six taps are all readable; the few others get a padded copy.
    const int64_t begin = std::min(count, std::max<int64_t>(0, first + 2));
    const int64_t end = std::max(begin, std::min(count, last - 2));
    const auto edge = [&](int64_t i) {
        float taps[BandLimitedUpsampler::kTaps];
        for (int t = 0; t < BandLimitedUpsampler::kTaps; ++t)
            taps[t] = x[std::clamp<int64_t>(i - 2 + t, first, last)];
        interpolate(factor, taps + 2, 1, out + i * factor);
    };
    for (int64_t i = 0; i < begin; ++i)
        edge(i);
    interpolate(factor, x + begin, end - begin, out + begin * factor);
    for (int64_t i = end; i < count; ++i)
        edge(i);
}
