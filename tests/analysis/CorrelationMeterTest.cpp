#include "analysis/CorrelationMeter.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kRate = 48000.0;
using Samples = std::vector<float>;

Samples mix(const Samples& a, float ga, const Samples& b = {}, float gb = 0)
{
    Samples out(a.size());
    for (size_t i = 0; i < a.size(); ++i)
        out[i] = ga * a[i] + (b.empty() ? 0.0f : gb * b[i]);
    return out;
}
void feed(CorrelationMeter& m, const Samples& l, const Samples& r, int64_t from, int64_t count)
{
    m.process(l.data() + from, r.data() + from, count);
}
// Power gain at hz of the 2 kHz low-pass: a Butterworth through the bilinear transform.
double lowpassPower(double hz)
{
    return 1.0 / (1.0 + std::pow(std::tan(test::kPi * hz / kRate) / std::tan(test::kPi * 2000.0 / kRate), 4));
}

}  // namespace

TEST(CorrelationMeter, SettledReadingsOfTypicalStereoPairs)
{
    const int64_t n = int64_t(5 * kRate);  // read over the last 2 s, after 10 time constants
    const auto s = test::sine(n, kRate, 440), low = test::sine(n, kRate, 500), high = test::sine(n, kRate, 3000);
    const auto hiss = test::sine(n, kRate, 8000), zero = mix(s, 0);
    // 3 kHz anti-phase under 500 Hz in phase: the low-pass leaves (g500² - g3k²) / (g500² + g3k²).
    const double mixed = (lowpassPower(500) - lowpassPower(3000)) / (lowpassPower(500) + lowpassPower(3000));
    // Tolerances about 4 times the largest deviation seen over 17 s (noise: 0.067 over five seeds).
    using Case = std::tuple<const char*, Samples, Samples, double, double>;  // left, right, reading, tolerance
    for (const auto& [name, l, r, want, tol] : {
             Case{"in phase", s, s, 1.0, 1e-6}, {"anti-phase", s, mix(s, -1), -1.0, 1e-6},
             {"mono, right 6 dB down", s, mix(s, 0.5f), 1.0, 1e-6},
             {"quadrature", s, test::sine(n, kRate, 440, 1.0, test::kPi / 2), 0.0, 2e-3},
             {"independent noises", test::noise(n, 0.5, 1), test::noise(n, 0.5, 2), 0.0, 0.1},
             {"right silent", s, zero, 0.0, 0.0}, {"silence", zero, zero, 0.0, 0.0},
             {"8 kHz anti-phase", hiss, mix(hiss, -1), -1.0, 1e-4},
             {"3 kHz anti-phase over 500 Hz", mix(low, 1, high, 1), mix(low, 1, high, -1), mixed, 1e-3},
             {"-60 dBFS in phase: below the floor", mix(s, 1e-3f), mix(s, 1e-3f), 0.0, 0.1}}) {
        CorrelationMeter m(kRate);
        feed(m, l, r, 0, int64_t(3 * kRate));
        for (int64_t at = int64_t(3 * kRate); at < n; at += 2400) {  // every 50 ms
            feed(m, l, r, at, 2400);
            ASSERT_NEAR(m.value(), want, tol) << name << " at " << double(at) / kRate << " s";
        }
    }
}

// The averages follow exp(-t / 0.3 s): from in phase to anti-phase <LR>
// crosses 0 after 0.3 s * ln 2; when a signal stops the reading holds until
// <L²> = <R²> fall to sqrt(1e-10 / 3), where it reads 0.5.
TEST(CorrelationMeter, StepsFollowTheTimeConstantAtEveryRate)
{
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const int64_t n = int64_t(8 * rate);
        const auto s = test::sine(n, rate, 440), anti = mix(s, -1), zero = mix(s, 0);
        CorrelationMeter m(rate);
        feed(m, s, s, 0, n / 4);
        int64_t t = n / 4;
        for (; m.value() > 0 && t < n; ++t)
            feed(m, s, anti, t, 1);
        EXPECT_NEAR(double(t - n / 4) / rate, 0.3 * std::log(2.0), 1e-3) << rate;  // seen: 0.2 ms early

        m.reset();
        feed(m, s, s, 0, n / 4);
        const double fall = 0.3 * std::log(0.5 / std::sqrt(1e-10 / 3));  // <L²> of a unit sine: 0.5
        feed(m, zero, zero, 0, int64_t((fall - 0.02) * rate));
        EXPECT_GT(m.value(), 0.5) << rate;  // held through a pause (seen: 0.9 ms early)
        feed(m, zero, zero, 0, int64_t(0.04 * rate));
        EXPECT_LT(m.value(), 0.5) << rate;
        feed(m, zero, zero, 0, int64_t(2 * rate));
        EXPECT_LT(m.value(), 0.01) << rate;  // silence reads 0
    }
}

TEST(CorrelationMeter, ABadSampleRestartsItAndResetLeavesNoTrace)
{
    const auto s = test::sine(48000, kRate, 440), anti = mix(s, -1);
    for (float bad : {NAN, HUGE_VALF, -HUGE_VALF}) {
        CorrelationMeter m(kRate);
        feed(m, s, s, 0, 48000);
        auto poisoned = anti;
        poisoned[100] = bad;
        feed(m, s, poisoned, 0, 4800);  // 0.1 s: the old averages alone would still read > 0
        EXPECT_NEAR(m.value(), -1.0, 1e-6) << bad;
    }
    CorrelationMeter used(kRate), fresh(kRate);
    feed(used, s, test::noise(48000, 1.0), 0, 48000);
    used.reset();
    EXPECT_EQ(used.value(), 0.0f);
    feed(used, s, anti, 0, 5000), feed(fresh, s, anti, 0, 5000);
    EXPECT_EQ(used.value(), fresh.value());  // to the bit: no filter or average state left
}
