#include "settings/DisplayEnums.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Raw values in case order; checks on the way that each case sits at its
// index and parses back from its raw value, as UTF-8 and as a Qt string.
template <typename E, size_t N, typename Parse>
std::vector<std::string> rawValues(const std::array<E, N>& cases, Parse parse)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < N; ++i) {
        EXPECT_EQ(static_cast<size_t>(cases[i]), i);
        EXPECT_EQ(parse(rawValue(cases[i])), cases[i]);
        EXPECT_EQ(parse(QStringView(rawValueString(cases[i]))), cases[i]);
        out.emplace_back(rawValue(cases[i]));
    }
    return out;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(DisplayEnums, CasesInOrderWithRawValuesThatParseBack)
{
    const auto display = [](auto raw) { return displayModeFromRawValue(raw); };
    const auto color = [](auto raw) { return beamColorModeFromRawValue(raw); };
    const auto rotation = [](auto raw) { return xyRotationFromRawValue(raw); };
    const auto scale = [](auto raw) { return kxScaleModeFromRawValue(raw); };
    const auto filter = [](auto raw) { return filterTypeFromRawValue(raw); };
    EXPECT_EQ(rawValues(kAllDisplayModes, display), (Strings{"XY", "Scope"}));
    EXPECT_EQ(rawValues(kAllBeamColorModes, color), (Strings{"Green", "Amber", "Blue"}));
    EXPECT_EQ(rawValues(kAllXYRotations, rotation), (Strings{"0\u00B0", "45\u00B0"}));
    EXPECT_EQ(rawValues(kAllKXScaleModes, scale), (Strings{"EDM", "ROCK", "MIX"}));
    EXPECT_EQ(rawValues(kAllFilterTypes, filter), (Strings{"OFF", "LP", "HP", "BP"}));
    // U+00B0 (not the ordinal indicator U+00BA), two bytes of UTF-8.
    EXPECT_EQ(rawValueString(XYRotation::deg45), QStringLiteral("45") + QChar(0x00B0));
    EXPECT_EQ(rawValue(XYRotation::deg0).size(), 3u);
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
}

TEST(KXScaleMode, RockBendsTheMiddleOfTheRangeOnly)
{
    const std::vector<std::pair<float, float>> points = {
        {0.45f, 0.49f}, {0.55f, 0.665f}, {0.65f, 0.755f}, {0.75f, 0.78f}, {0.9f, 0.9f}, {0.3f, 0.3f},
        // The corners, so each segment meets the next.
        {0.4f, 0.4f}, {0.5f, 0.58f}, {0.6f, 0.75f}, {0.7f, 0.76f}, {0.8f, 0.8f}, {-1.0f, -1.0f}};
    for (auto [x, shown] : points)
        EXPECT_FLOAT_EQ(displayValue(KXScaleMode::rock, x, 0.0f), shown) << x;
}

TEST(KXScaleMode, MixWeightsByDensityAndEdmIgnoresIt)
{
    const std::vector<std::pair<float, float>> byDensity = {
        {0.0f, 0.0f}, {0.15f, 0.12f}, {0.3f, 0.24f}, {0.45f, 0.52f}, {0.5999999f, 0.8f}, {0.6f, 0.8f}, {7.0f, 0.8f}};
    for (auto [density, shown] : byDensity)
        EXPECT_FLOAT_EQ(displayValue(KXScaleMode::mix, 0.8f, density), shown) << density;
    for (float density : {0.0f, 0.45f, 1.0f})
        EXPECT_EQ(displayValue(KXScaleMode::edm, 0.65f, density), 0.65f);
}
