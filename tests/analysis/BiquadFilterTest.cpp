#include "analysis/BiquadFilter.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

constexpr double kRate = 48000.0;
using enum FilterType;

BiquadFilter designed(FilterType type, float hz, double rate = kRate)
{
    BiquadFilter f;
    f.updateCoefficients(type, hz, rate);
    return f;
}

std::vector<float> coefficients(const BiquadFilter& f) { return {f.b0, f.b1, f.b2, f.a1, f.a2}; }

std::vector<float> run(BiquadFilter& f, std::vector<float> samples)
{
    f.process(samples.data(), static_cast<int64_t>(samples.size()));
    return samples;
}

// Steady-state gain in dB at `hz` of a 1 kHz design, through both channels.
double gainDb(FilterType type, double hz)
{
    StereoBiquadFilter filter;
    filter.left = filter.right = designed(type, 1000.0f);
    auto left = test::sine(48000, kRate, hz), right = test::sine(48000, kRate, hz, -1.0);
    filter.process(left.data(), right.data(), 48000);
    for (float& x : right)
        x = -x;
    EXPECT_EQ(left, right) << "each channel keeps its own state: negated in, negated out";
    const double energy = std::inner_product(left.begin() + 24000, left.end(), left.begin() + 24000, 0.0);
    return 10.0 * std::log10(energy / 12000.0);  // whole periods of every tested frequency
}

}  // namespace

TEST(BiquadFilter, AnyChangedRequestRecomputesTheCoefficientsCappedAtFortyFivePercent)
{
    const BiquadFilter f = designed(lowpass, 1000.0f);
    const struct { FilterType type; float hz; double rate; } changes[] = {
        {highpass, 1000.0f, kRate}, {lowpass, 1001.0f, kRate}, {lowpass, 1000.0f, 44100.0}};
    for (const auto& c : changes) {
        BiquadFilter changed = f;
        changed.updateCoefficients(c.type, c.hz, c.rate);
        EXPECT_EQ(coefficients(changed), coefficients(designed(c.type, c.hz, c.rate))) << c.hz << " " << c.rate;
    }
    const auto cap = coefficients(designed(lowpass, 21600.0f));  // 45 % of the rate
    EXPECT_EQ(coefficients(designed(lowpass, 30000.0f)), cap);
    EXPECT_NE(coefficients(designed(lowpass, 21000.0f)), cap);
}

TEST(BiquadFilter, StateCarriesOverUntilClearedAndOffPassesSamplesBitForBit)
{
    const auto x = test::noise(2000, 0.8, 7);
    const std::vector<float> head(x.begin(), x.begin() + 1000), tail(x.begin() + 1000, x.end());
    const std::vector<float> odd = {NAN, -0.0f, 1e-45f, INFINITY, 0.3f, -1.0f};
    BiquadFilter whole = designed(highpass, 700.0f), moving = whole, rest = designed(highpass, 2000.0f);
    const auto all = run(whole, x);
    run(moving, head);
    BiquadFilter kept = moving, split = moving;
    EXPECT_TRUE(test::sameBits(run(split, tail), std::vector<float>(all.begin() + 1000, all.end())));
    moving.updateCoefficients(off, 700.0f, kRate);
    EXPECT_TRUE(test::sameBits(run(moving, odd), odd));  // and z1/z2 stay as they were
    for (BiquadFilter* f : {&moving, &kept})
        f->updateCoefficients(highpass, 2000.0f, kRate);
    const auto continued = run(moving, tail), fromRest = run(rest, tail);
    EXPECT_TRUE(test::sameBits(continued, run(kept, tail)));
    EXPECT_NE(continued[0], fromRest[0]);  // a new frequency keeps z1/z2
    moving.z1 = moving.z2 = 0.0f;
    EXPECT_TRUE(test::sameBits(run(moving, tail), fromRest));
}

// The cookbook prototypes through the bilinear transform (x: warped frequency / corner).
TEST(BiquadFilter, GainFollowsTheWarpedAnalogPrototypes)
{
    for (double hz : {100.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 12000.0}) {
        const double x = std::tan(test::kPi * hz / kRate) / std::tan(test::kPi * 1000.0 / kRate);
        EXPECT_NEAR(gainDb(lowpass, hz), -10.0 * std::log10(1.0 + std::pow(x, 4)), 0.05) << hz;
        EXPECT_NEAR(gainDb(highpass, hz), -10.0 * std::log10(1.0 + std::pow(x, -4)), 0.05) << hz;
        EXPECT_NEAR(gainDb(bandpass, hz), -10.0 * std::log10(1.0 + std::pow(x - 1.0 / x, 2)), 0.02) << hz;
    }
}
