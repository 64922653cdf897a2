#include "settings/DisplayEnums.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <typename E, size_t N>
std::vector<std::string> rawValues(const std::array<E, N>& cases)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < N; ++i) {
        EXPECT_EQ(static_cast<int>(cases[i]), static_cast<int>(i)) << "the index the renderer receives";
        out.emplace_back(rawValue(cases[i]));
    }
    return out;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(DisplayEnums, CasesInOrderWithTheirRawValues)
{
    EXPECT_EQ(rawValues(kAllDisplayModes), (Strings{"XY", "Scope"}));
    EXPECT_EQ(rawValues(kAllBeamColorModes), (Strings{"Green", "Amber", "Blue"}));
    EXPECT_EQ(rawValues(kAllXYRotations), (Strings{"0\u00B0", "45\u00B0"}));
    EXPECT_EQ(rawValues(kAllKXScaleModes), (Strings{"EDM", "ROCK", "MIX"}));
    // The degree sign is U+00B0 (not the ordinal indicator U+00BA), UTF-8 encoded.
    EXPECT_EQ(rawValueString(XYRotation::deg45), QString(QChar(u'4')) + QChar(u'5') + QChar(0x00B0));
    EXPECT_EQ(rawValue(XYRotation::deg0).size(), 3u);
}

TEST(DisplayEnums, EveryRawValueParsesBackFromUtf8AndQtStrings)
{
    for (auto m : kAllDisplayModes) {
        EXPECT_EQ(displayModeFromRawValue(rawValue(m)), m);
        EXPECT_EQ(displayModeFromRawValue(QStringView(rawValueString(m))), m);
    }
    for (auto m : kAllBeamColorModes)
        EXPECT_EQ(beamColorModeFromRawValue(QStringView(rawValueString(m))), m);
    for (auto r : kAllXYRotations)
        EXPECT_EQ(xyRotationFromRawValue(QStringView(rawValueString(r))), r);
    for (auto k : kAllKXScaleModes)
        EXPECT_EQ(kxScaleModeFromRawValue(rawValue(k)), k);
    for (auto f : kAllFilterTypes)
        EXPECT_EQ(filterTypeFromRawValue(QStringView(rawValueString(f))), f);
}

TEST(DisplayEnums, ParsingIsExactAndCaseSensitive)
{
    for (const char* s : {"xy", "Xy", "scope", "SCOPE", "waveform", "", " XY", "XY "})
        EXPECT_FALSE(displayModeFromRawValue(s)) << s;
    for (const char* s : {"green", "GREEN", "amber"})
        EXPECT_FALSE(beamColorModeFromRawValue(s)) << s;
    // Case names, a missing or wrong degree sign, the Latin-1 byte for it.
    for (const char* s : {"deg45", "45", "45 \u00B0", "45\u00BA", "45\xB0"})
        EXPECT_FALSE(xyRotationFromRawValue(s)) << s;
    for (const char* s : {"edm", "Rock", "mix"})
        EXPECT_FALSE(kxScaleModeFromRawValue(s)) << s;
    EXPECT_FALSE(filterTypeFromRawValue(QStringView(u"lp")));
    EXPECT_FALSE(kxScaleModeFromRawValue(QStringView(u"R\u00D6CK")));
}

TEST(KXScaleMode, RockBendsTheMiddleOfTheRangeOnly)
{
    const std::vector<std::pair<float, float>> points = {
        {0.45f, 0.49f}, {0.55f, 0.665f}, {0.65f, 0.755f}, {0.75f, 0.78f}, {0.9f, 0.9f}, {0.3f, 0.3f},
        // The corners of the curve, so each segment meets the next.
        {0.4f, 0.4f}, {0.5f, 0.58f}, {0.6f, 0.75f}, {0.7f, 0.76f}, {0.8f, 0.8f}, {-1.0f, -1.0f}};
    for (auto [x, shown] : points)
        EXPECT_FLOAT_EQ(displayValue(KXScaleMode::rock, x, 0.0f), shown) << x;
}

TEST(KXScaleMode, MixWeightsByDensityAndEdmIgnoresIt)
{
    EXPECT_EQ(displayValue(KXScaleMode::mix, 0.8f, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(displayValue(KXScaleMode::mix, 0.8f, 0.15f), 0.8f * 0.15f);
    EXPECT_FLOAT_EQ(displayValue(KXScaleMode::mix, 0.8f, 0.3f), 0.8f * 0.3f);
    EXPECT_FLOAT_EQ(displayValue(KXScaleMode::mix, 0.8f, 0.45f), 0.52f);
    EXPECT_FLOAT_EQ(displayValue(KXScaleMode::mix, 0.8f, 0.5999999f), 0.8f);
    EXPECT_EQ(displayValue(KXScaleMode::mix, 0.8f, 0.6f), 0.8f);
    EXPECT_EQ(displayValue(KXScaleMode::mix, 0.8f, 7.0f), 0.8f);
    for (float density : {0.0f, 0.45f, 1.0f})
        EXPECT_EQ(displayValue(KXScaleMode::edm, 0.65f, density), 0.65f);
}

TEST(BeamColor, FollowsTheColourMode)
{
    EXPECT_EQ(beamColorFor(BeamColorMode::green), (BeamColor{0.2f, 1.0f, 0.3f}));
    EXPECT_EQ(beamColorFor(BeamColorMode::amber), (BeamColor{1.0f, 0.75f, 0.2f}));
    EXPECT_EQ(beamColorFor(BeamColorMode::blue), (BeamColor{0.3f, 0.6f, 1.0f}));
}
