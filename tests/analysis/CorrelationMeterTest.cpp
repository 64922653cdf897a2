#include "analysis/CorrelationMeter.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kRate = 48000.0;
using Samples = std::vector<float>;

Samples scaled(Samples v, float gain)
{
    for (float& x : v)
        x *= gain;
    return v;
}
Samples plus(Samples a, const Samples& b)
{
    for (size_t i = 0; i < a.size(); ++i)
        a[i] += b[i];
    return a;
}
void feed(CorrelationMeter& m, const Samples& l, const Samples& r, int64_t from = 0, int64_t count = -1)
{
    m.process(l.data() + from, r.data() + from, count < 0 ? int64_t(l.size()) - from : count);
}
// The power gain at hz of the 2 kHz low-pass: a Butterworth mapped by the bilinear transform.
double lowpassPower(double hz, double rate = kRate)
{
    return 1.0 / (1.0 + std::pow(std::tan(test::kPi * hz / rate) / std::tan(test::kPi * 2000.0 / rate), 4));
}

}  // namespace

TEST(CorrelationMeter, SettledReadingsOfTypicalStereoPairs)
{
    const int64_t n = int64_t(5 * kRate);  // the last 2 s are read, after 10 time constants
    const auto s = test::sine(n, kRate, 440), low = test::sine(n, kRate, 500), high = test::sine(n, kRate, 3000);
    const auto noiseL = test::noise(n, 0.5, 1), noiseR = test::noise(n, 0.5, 2), hiss = test::sine(n, kRate, 8000);
    const Samples zero(size_t(n), 0.0f);
    // 3 kHz anti-phase under 500 Hz in phase: the low-pass leaves (g500² - g3k²) / (g500² + g3k²).
    const double mixed = (lowpassPower(500) - lowpassPower(3000)) / (lowpassPower(500) + lowpassPower(3000));
    using Case = std::tuple<const char*, Samples, Samples, double, double>;  // left, right, reading, tolerance
    // Tolerances about 4 times the largest deviation seen over 17 s (noise: 0.067 over five seeds).
    for (const auto& [name, l, r, want, tol] : {
             Case{"in phase", s, s, 1.0, 1e-6}, {"anti-phase", s, scaled(s, -1), -1.0, 1e-6},
             {"mono, right 6 dB down", s, scaled(s, 0.5f), 1.0, 1e-6},
             {"quadrature", s, test::sine(n, kRate, 440, 1.0, test::kPi / 2), 0.0, 2e-3},
             {"independent noises", noiseL, noiseR, 0.0, 0.1}, {"right silent", s, zero, 0.0, 0.0},
             {"silence", zero, zero, 0.0, 0.0}, {"8 kHz anti-phase", hiss, scaled(hiss, -1), -1.0, 1e-4},
             {"3 kHz anti-phase over 500 Hz", plus(low, high), plus(low, scaled(high, -1)), mixed, 1e-3},
             {"-60 dBFS in phase: below the floor", scaled(s, 1e-3f), scaled(s, 1e-3f), 0.0, 0.1}}) {
        CorrelationMeter m(kRate);
        feed(m, l, r, 0, int64_t(3 * kRate));
        for (int64_t at = int64_t(3 * kRate); at < n; at += 2400) {  // every 50 ms
            feed(m, l, r, at, 2400);
            ASSERT_NEAR(m.value(), want, tol) << name << " at " << double(at) / kRate << " s";
        }
    }
}

// The averages follow exp(-t / 0.3 s): from in phase to anti-phase <LR>
// crosses 0 after 0.3 s * ln 2; a signal stopping leaves the reading until
// <L²> = <R²> falls to sqrt(1e-10 / 3), where it reads 0.5.
TEST(CorrelationMeter, StepsFollowTheTimeConstantAtEveryRate)
{
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const int64_t n = int64_t(8 * rate);
        const auto s = test::sine(n, rate, 440), anti = scaled(s, -1);
        const Samples zero(size_t(n), 0.0f);
        CorrelationMeter m(rate);
        feed(m, s, s, 0, n / 4);
        int64_t crossing = n / 4;
        for (; m.value() > 0 && crossing < n; ++crossing)
            feed(m, s, anti, crossing, 1);
        EXPECT_NEAR(double(crossing - n / 4) / rate, 0.3 * std::log(2.0), 1e-3) << rate;

        m.reset();
        feed(m, s, s, 0, n / 4);
        const double fall = 0.3 * std::log(0.5 / std::sqrt(1e-10 / 3));  // <L²> of a unit sine: 0.5
        feed(m, zero, zero, 0, int64_t((fall - 0.02) * rate));
        EXPECT_GT(m.value(), 0.5) << rate;  // held through a pause
        feed(m, zero, zero, 0, int64_t(0.04 * rate));
        EXPECT_LT(m.value(), 0.5) << rate;
        feed(m, zero, zero, 0, int64_t(2 * rate));
        EXPECT_LT(m.value(), 0.01) << rate;  // silence reads 0
    }
}

TEST(CorrelationMeter, ABadSampleRestartsItAndResetLeavesNoTrace)
{
    constexpr float kBad[] = {std::numeric_limits<float>::quiet_NaN(), HUGE_VALF, -HUGE_VALF};
    const auto s = test::sine(48000, kRate, 440), anti = scaled(s, -1);
    for (float bad : kBad) {
        CorrelationMeter m(kRate);
        feed(m, s, s);
        auto poisoned = anti;
        poisoned[100] = bad;
        feed(m, s, poisoned, 0, 4800);  // 0.1 s: the old averages alone would still read > 0
        EXPECT_NEAR(m.value(), -1.0, 1e-6) << bad;
    }
    // Reset, then the same input as a new meter: the same reading, to the bit.
    CorrelationMeter used(kRate), fresh(kRate);
    feed(used, s, test::noise(48000, 1.0));
    used.reset();
    EXPECT_EQ(used.value(), 0.0f);
    feed(used, s, anti, 0, 5000), feed(fresh, s, anti, 0, 5000);
    EXPECT_EQ(used.value(), fresh.value());
}
