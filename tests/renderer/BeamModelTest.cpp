// The beam's parameter blocks and the CPU side of its light model.

#include "renderer/BeamModel.h"
#include "renderer/ShaderParams.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

BeamSettings defaults()
{
    return BeamSettings{3.0f, 1.5f, 3.0f, {0.2f, 1.0f, 0.3f}, 0.7853981f, 1.0f, 2.5f};
}

template <typename Block>
float floatAt(const Block& block, size_t offset)
{
    float v;
    std::memcpy(&v, reinterpret_cast<const char*>(&block) + offset, sizeof v);
    return v;
}

template <typename Block>
uint32_t uintAt(const Block& block, size_t offset)
{
    uint32_t v;
    std::memcpy(&v, reinterpret_cast<const char*>(&block) + offset, sizeof v);
    return v;
}

}  // namespace

TEST(ParameterBlocks, EachKeepsItsOwnByteLayout)
{
    const BeamParams beam = makeBeamParams(defaults(), 800, 1020, 580);
    ASSERT_EQ(sizeof beam, 44u);
    EXPECT_EQ(uintAt(beam, 0), 800u);
    EXPECT_EQ(uintAt(beam, 4), 1020u);
    EXPECT_EQ(uintAt(beam, 8), 580u);
    EXPECT_EQ(floatAt(beam, 12), 3.0f);
    EXPECT_EQ(floatAt(beam, 16), 1.5f);
    EXPECT_EQ(floatAt(beam, 20), 3.0f);  // speedSensitivity
    EXPECT_EQ(floatAt(beam, 24), 0.2f);
    EXPECT_EQ(floatAt(beam, 28), 1.0f);
    EXPECT_EQ(floatAt(beam, 32), 0.3f);
    EXPECT_EQ(floatAt(beam, 36), 0.7853981f);
    EXPECT_EQ(floatAt(beam, 40), 1.0f);

    BeamSettings s = defaults();
    s.speedSensitivity = 7.0f;
    const WaveformParams wave = makeWaveformParams(s, 4800, 640, 480);
    ASSERT_EQ(sizeof wave, 40u);
    EXPECT_EQ(uintAt(wave, 0), 4800u);
    EXPECT_EQ(floatAt(wave, 20), 2.5f);  // waveformGain where the XY block has the sensitivity
    EXPECT_EQ(floatAt(wave, 24), 0.2f);
    EXPECT_EQ(floatAt(wave, 28), 1.0f);
    EXPECT_EQ(floatAt(wave, 32), 0.3f);
    EXPECT_EQ(floatAt(wave, 36), 7.0f);
}

TEST(ParameterBlocks, LightAndShapeAreMadeFiniteGainsPassThrough)
{
    BeamSettings s{kNaN, kNaN, kInf, {kNaN, -1.0f, kInf}, kInf, kNaN, kInf};
    const BeamParams beam = makeBeamParams(s, -3, -1, 70000);
    EXPECT_EQ(beam.count, 0u);
    EXPECT_EQ(beam.width, 0u);
    EXPECT_EQ(beam.height, 70000u);
    EXPECT_EQ(beam.intensity, 0.0f);
    EXPECT_EQ(beam.beamWidth, 0.0f);
    EXPECT_TRUE(std::isfinite(beam.speedSensitivity));
    EXPECT_EQ(beam.colorRed, 0.0f);
    EXPECT_EQ(beam.colorGreen, 0.0f);
    EXPECT_TRUE(std::isfinite(beam.colorBlue));
    EXPECT_EQ(beam.xyRotationAngle, 0.0f);
    EXPECT_TRUE(std::isnan(beam.xyGain));  // dropped per segment in the shader

    const WaveformParams wave = makeWaveformParams(s, 2, 1, 1);
    EXPECT_EQ(wave.intensity, 0.0f);
    EXPECT_TRUE(std::isinf(wave.waveformGain));
    EXPECT_TRUE(std::isfinite(wave.speedSensitivity));
}

TEST(BeamModel, DisplayMappingKeepsColourWhenLitAndWhitensWhenHot)
{
    // Black shows the background exactly.
    EXPECT_NEAR(beam::displayValue(0.0f, 0.0f), beam::kBackground, 1e-6f);
    // Monotonic and bounded by full white.
    float previous = 0.0f;
    for (float light = 0.0f; light < 100.0f; light += 0.25f) {
        const float v = beam::displayValue(light, light);
        EXPECT_GE(v, previous);
        EXPECT_LE(v, 1.0f);
        previous = v;
    }
    // A green trace (linear red share 3 %): moderately lit it stays green,
    // at its hottest the weak channel catches up.
    const float redShare = beam::linearColor(0.2f);
    const auto redOverGreen = [&](float light) {
        return beam::displayValue(redShare * light, light) / beam::displayValue(light, light);
    };
    EXPECT_LT(redOverGreen(1.0f), 0.5f);
    EXPECT_GT(redOverGreen(40.0f), 0.9f);
}

TEST(BeamModel, InvisibleLightIsJustBelowOneDisplayStep)
{
    const float t = beam::invisibleLight();
    const auto level = [](float v) { return std::lround(v * 255.0f); };
    EXPECT_EQ(level(beam::displayValue(t, t)), level(beam::displayValue(0.0f, 0.0f)));
    EXPECT_NE(level(beam::displayValue(4.0f * t, 4.0f * t)), level(beam::displayValue(0.0f, 0.0f)));
}

TEST(BeamModel, LitRectCoversTheTraceAndItsSpotAndNothingBeyondThePicture)
{
    // 200 x 100: an amplitude of 1 reaches 45 px from the centre (100, 50).
    const float sigma = beam::sigmaFor(4.0f);  // 2 px
    const float reach = beam::kQuadReach * sigma;
    const float left[] = {0.0f, 1.0f, 0.5f};
    const float right[] = {0.0f, 0.0f, -1.0f};
    beam::PixelRect r = beam::xyLitRect(left, right, 3, 1.0f, 0.0f, 4.0f, 200, 100);
    EXPECT_LE(r.x0, 100 - reach);
    EXPECT_GE(r.x1, 145 + reach);
    EXPECT_EQ(r.y0, 0);  // 5 - reach is below the picture
    EXPECT_GE(r.y1, 50 + reach);
    EXPECT_LT(r.width(), 45 + 2 * reach + 8);  // tight: a few px of margin
    EXPECT_LT(r.height(), 45 + 2 * reach + 8);

    // Turned by 90 degrees, x = 1 lands straight above the centre.
    r = beam::xyLitRect(left, right, 2, 1.0f, 1.5707963f, 4.0f, 200, 100);
    EXPECT_LE(r.y0, 50 - reach);
    EXPECT_EQ(r.y1, 100);
    EXPECT_LT(r.width(), 2 * reach + 8);

    // Samples the shader drops add nothing; far ones clamp to the picture.
    const float odd[] = {kNaN, 0.0f, kInf, 100.0f};
    const float zero[] = {0.0f, 0.0f, 0.0f, 0.0f};
    r = beam::xyLitRect(odd, zero, 2, 1.0f, 0.0f, 4.0f, 200, 100);
    EXPECT_LT(r.width(), 2 * reach + 8);
    r = beam::xyLitRect(odd, zero, 4, 1.0f, 0.0f, 4.0f, 200, 100);
    EXPECT_EQ(r.x1, 200);
    EXPECT_GE(r.y0, 0);
    EXPECT_TRUE(beam::xyLitRect(odd, zero, 2, kNaN, 0.0f, 4.0f, 200, 100).empty());
    EXPECT_TRUE(beam::xyLitRect(left, right, 1, 1.0f, 0.0f, 4.0f, 200, 100).empty());

    // Union: either side empty gives the other.
    const beam::PixelRect a{1, 2, 3, 4}, b{10, 0, 12, 3};
    const beam::PixelRect u = beam::unite(a, b);
    EXPECT_EQ(u.x0, 1);
    EXPECT_EQ(u.y0, 0);
    EXPECT_EQ(u.x1, 12);
    EXPECT_EQ(u.y1, 4);
    EXPECT_EQ(beam::unite(beam::PixelRect{}, b).x0, 10);
    EXPECT_EQ(beam::unite(a, beam::PixelRect{}).x1, 3);
}
