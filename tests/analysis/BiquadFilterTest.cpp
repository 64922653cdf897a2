#include "analysis/BiquadFilter.h"

#include "analysis/Signals.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

namespace {

constexpr double kRate = 48000.0;

// Steady-state gain in dB of a filter at `hz`, measured by running a one-second
// sine through process() and projecting the last half second onto sin and cos.
double measuredGainDb(FilterType type, float corner, double hz)
{
    StereoBiquadFilter filter;
    filter.left.updateCoefficients(type, corner, kRate);
    filter.right.updateCoefficients(type, corner, kRate);
    auto left = signals::sine(48000, kRate, hz);
    auto right = left;
    filter.process(left.data(), right.data(), 48000);
    double s = 0, c = 0;
    for (int i = 24000; i < 48000; ++i) {
        const double t = i / kRate;
        s += left[i] * std::sin(2 * signals::kPi * hz * t);
        c += left[i] * std::cos(2 * signals::kPi * hz * t);
    }
    const double amplitude = 2.0 / 24000.0 * std::hypot(s, c);
    EXPECT_EQ(std::bit_cast<uint32_t>(left[47999]), std::bit_cast<uint32_t>(right[47999]));
    return 20.0 * std::log10(amplitude);
}

// Analytic magnitudes of the bilinear-transformed prototypes, through the
// warped frequency ratio: independent of how the coefficients are formed.
double warpedRatio(double hz, double corner)
{
    return std::tan(signals::kPi * hz / kRate) / std::tan(signals::kPi * corner / kRate);
}
double butterworthLowDb(double hz, double corner)
{
    return -10.0 * std::log10(1.0 + std::pow(warpedRatio(hz, corner), 4));
}
double butterworthHighDb(double hz, double corner)
{
    return -10.0 * std::log10(1.0 + std::pow(warpedRatio(hz, corner), -4));
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<uint32_t>(a[i]) != std::bit_cast<uint32_t>(b[i]))
            return false;
    return true;
}

}  // namespace

TEST(FilterType, RawValuesParseExactlyAndInOrder)
{
    ASSERT_EQ(kAllFilterTypes.size(), 4u);
    const char* raws[] = {"OFF", "LP", "HP", "BP"};
    for (size_t i = 0; i < kAllFilterTypes.size(); ++i) {
        EXPECT_EQ(static_cast<size_t>(kAllFilterTypes[i]), i);
        EXPECT_EQ(rawValue(kAllFilterTypes[i]), raws[i]);
        EXPECT_EQ(filterTypeFromRawValue(raws[i]), kAllFilterTypes[i]);
    }
    EXPECT_FALSE(filterTypeFromRawValue("lp"));
    EXPECT_FALSE(filterTypeFromRawValue("Off"));
    EXPECT_FALSE(filterTypeFromRawValue("LP "));
    EXPECT_FALSE(filterTypeFromRawValue(""));
}

TEST(BiquadFilter, NewFilterIsIdentityOfTypeOff)
{
    BiquadFilter f;
    EXPECT_EQ(f.cachedType, FilterType::off);
    EXPECT_EQ(f.b0, 1.0f);
    EXPECT_EQ(f.b1 + f.b2 + f.a1 + f.a2, 0.0f);
}

TEST(BiquadFilter, RepeatedRequestKeepsCoefficientsAndAnyChangeRecomputes)
{
    BiquadFilter f;
    f.updateCoefficients(FilterType::lowpass, 1000.0f, kRate);
    const float designed = f.b0;
    f.b0 = 42.0f;  // marker: an identical request must not touch the coefficients
    f.updateCoefficients(FilterType::lowpass, 1000.0f, kRate);
    EXPECT_EQ(f.b0, 42.0f);
    f.updateCoefficients(FilterType::lowpass, 1000.0f, 44100.0);
    EXPECT_NE(f.b0, 42.0f);
    f.updateCoefficients(FilterType::lowpass, 1000.0f, kRate);
    EXPECT_EQ(f.b0, designed);
    f.updateCoefficients(FilterType::highpass, 1000.0f, kRate);
    EXPECT_EQ(f.cachedType, FilterType::highpass);
    EXPECT_NE(f.b0, designed);
}

TEST(BiquadFilter, FrequencyIsCappedAtFortyFivePercentOfTheRate)
{
    BiquadFilter above, cap;
    above.updateCoefficients(FilterType::lowpass, 30000.0f, kRate);
    cap.updateCoefficients(FilterType::lowpass, 21600.0f, kRate);
    EXPECT_EQ(above.cachedFreq, 30000.0f);  // the request is cached, not the cap
    EXPECT_EQ(above.b0, cap.b0);
    EXPECT_EQ(above.b1, cap.b1);
    EXPECT_EQ(above.a1, cap.a1);
    EXPECT_EQ(above.a2, cap.a2);
}

TEST(BiquadFilter, BandpassIsAntisymmetric)
{
    for (float hz : {20.0f, 440.0f, 5000.0f, 21000.0f, 40000.0f}) {
        BiquadFilter f;
        f.updateCoefficients(FilterType::bandpass, hz, kRate);
        EXPECT_EQ(f.b1, 0.0f) << hz;
        EXPECT_EQ(f.b2, -f.b0) << hz;
    }
}

TEST(BiquadFilter, OffPassesSamplesBitForBitAndKeepsState)
{
    BiquadFilter f;
    f.updateCoefficients(FilterType::bandpass, 500.0f, kRate);
    f.updateCoefficients(FilterType::off, 500.0f, kRate);
    EXPECT_EQ(f.b0, 1.0f);
    EXPECT_EQ(f.b1, 0.0f);
    EXPECT_EQ(f.b2, 0.0f);
    EXPECT_EQ(f.a1, 0.0f);
    EXPECT_EQ(f.a2, 0.0f);
    f.z1 = 0.25f;
    f.z2 = -0.5f;
    std::vector<float> in = {NAN, -0.0f, 1e-45f, INFINITY, 0.3f, -1.0f};
    auto out = in;
    f.process(out.data(), static_cast<int64_t>(out.size()));
    EXPECT_TRUE(sameBits(in, out));
    EXPECT_EQ(f.z1, 0.25f);
    EXPECT_EQ(f.z2, -0.5f);
}

TEST(BiquadFilter, ZeroCountChangesNothing)
{
    StereoBiquadFilter f;
    f.left.updateCoefficients(FilterType::lowpass, 300.0f, kRate);
    f.right.updateCoefficients(FilterType::lowpass, 300.0f, kRate);
    f.left.z1 = 0.125f;
    float l = 9.0f, r = 8.0f;
    f.process(&l, &r, 0);
    EXPECT_EQ(l, 9.0f);
    EXPECT_EQ(r, 8.0f);
    EXPECT_EQ(f.left.z1, 0.125f);
    EXPECT_EQ(f.left.z2, 0.0f);
}

TEST(BiquadFilter, StateCarriesAcrossCallsAndCoefficientChanges)
{
    auto x = signals::noise(2000, 0.8, 7);

    // One call over everything equals two calls over the halves.
    BiquadFilter whole, halves;
    whole.updateCoefficients(FilterType::highpass, 700.0f, kRate);
    halves.updateCoefficients(FilterType::highpass, 700.0f, kRate);
    auto a = x, b = x;
    whole.process(a.data(), 2000);
    halves.process(b.data(), 1000);
    halves.process(b.data() + 1000, 1000);
    EXPECT_TRUE(sameBits(a, b));

    // A frequency change keeps z1/z2: the second half continues from the state
    // the first half left, not from rest.
    BiquadFilter moving;
    moving.updateCoefficients(FilterType::highpass, 700.0f, kRate);
    auto c = x;
    moving.process(c.data(), 1000);
    const float z1 = moving.z1, z2 = moving.z2;
    moving.updateCoefficients(FilterType::highpass, 2000.0f, kRate);
    EXPECT_EQ(moving.z1, z1);
    EXPECT_EQ(moving.z2, z2);
    moving.process(c.data() + 1000, 1000);

    BiquadFilter fromRest;
    fromRest.updateCoefficients(FilterType::highpass, 2000.0f, kRate);
    std::vector<float> tail(x.begin() + 1000, x.end());
    fromRest.process(tail.data(), 1000);
    EXPECT_NE(tail[0], c[1000]);

    // Clearing the state restarts from rest.
    moving.z1 = moving.z2 = 0.0f;
    std::vector<float> again(x.begin() + 1000, x.end());
    moving.process(again.data(), 1000);
    EXPECT_TRUE(sameBits(again, tail));
}

TEST(BiquadFilter, LowpassAndHighpassFollowTheButterworthResponse)
{
    const float corner = 1000.0f;
    EXPECT_NEAR(measuredGainDb(FilterType::lowpass, corner, 1000), -3.01, 0.05);
    EXPECT_NEAR(measuredGainDb(FilterType::highpass, corner, 1000), -3.01, 0.05);
    for (double hz : {100.0, 250.0, 2000.0, 4000.0, 12000.0}) {
        EXPECT_NEAR(measuredGainDb(FilterType::lowpass, corner, hz), butterworthLowDb(hz, corner), 0.05) << hz;
        EXPECT_NEAR(measuredGainDb(FilterType::highpass, corner, hz), butterworthHighDb(hz, corner), 0.05) << hz;
    }
}

TEST(BiquadFilter, BandpassHasUnityGainAtItsCentreAndFallsOffSymmetrically)
{
    const double centre = 2000.0;
    EXPECT_NEAR(measuredGainDb(FilterType::bandpass, 2000.0f, centre), 0.0, 0.02);
    // Points equally far from the centre in the warped domain have equal gain.
    for (double below : {500.0, 1000.0, 1500.0}) {
        const double w0 = std::tan(signals::kPi * centre / kRate);
        const double above = std::atan(w0 * w0 / std::tan(signals::kPi * below / kRate)) * kRate / signals::kPi;
        const double gBelow = measuredGainDb(FilterType::bandpass, 2000.0f, below);
        EXPECT_LT(gBelow, -1.0) << below;
        EXPECT_NEAR(gBelow, measuredGainDb(FilterType::bandpass, 2000.0f, above), 0.1) << below;
    }
}
