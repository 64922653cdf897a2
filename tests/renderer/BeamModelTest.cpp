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
