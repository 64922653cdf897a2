#pragma once

#include "analysis/BiquadFilter.h"

#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <string_view>

// The display enumerations. As with FilterType, the order of the cases is the
// order of every picker and the index the renderer receives; the raw value is
// at once the persisted form, the shown text and the identity. Raw values are
// UTF-8; parsing is an exact, case-sensitive match.

enum class DisplayMode : int { xy = 0, waveform = 1 };
enum class BeamColorMode : int { green = 0, amber = 1, blue = 2 };
enum class XYRotation : int { deg0 = 0, deg45 = 1 };
enum class KXScaleMode : int { edm = 0, rock = 1, mix = 2 };
// How a source's third channel sets the beam's brightness: not at all, as
// 0 ... 1, or as -1 ... 1 (a signed channel, dark at -1).
enum class ZInput : int { off = 0, unipolar = 1, bipolar = 2 };

inline constexpr std::array<DisplayMode, 2> kAllDisplayModes = {DisplayMode::xy, DisplayMode::waveform};
inline constexpr std::array<BeamColorMode, 3> kAllBeamColorModes = {
    BeamColorMode::green, BeamColorMode::amber, BeamColorMode::blue};
inline constexpr std::array<XYRotation, 2> kAllXYRotations = {XYRotation::deg0, XYRotation::deg45};
inline constexpr std::array<KXScaleMode, 3> kAllKXScaleModes = {KXScaleMode::edm, KXScaleMode::rock, KXScaleMode::mix};
inline constexpr std::array<ZInput, 3> kAllZInputs = {ZInput::off, ZInput::unipolar, ZInput::bipolar};

constexpr std::string_view rawValue(DisplayMode mode)
{
    switch (mode) {
    case DisplayMode::xy: return "XY";
    case DisplayMode::waveform: return "Scope";
    }
    return "XY";
}

constexpr std::string_view rawValue(BeamColorMode mode)
{
    switch (mode) {
    case BeamColorMode::green: return "Green";
    case BeamColorMode::amber: return "Amber";
    case BeamColorMode::blue: return "Blue";
    }
    return "Green";
}

// The degree sign is U+00B0, two bytes in UTF-8.
constexpr std::string_view rawValue(XYRotation rotation)
{
    switch (rotation) {
    case XYRotation::deg0: return "0\xC2\xB0";
    case XYRotation::deg45: return "45\xC2\xB0";
    }
    return "45\xC2\xB0";
}

constexpr std::string_view rawValue(KXScaleMode mode)
{
    switch (mode) {
    case KXScaleMode::edm: return "EDM";
    case KXScaleMode::rock: return "ROCK";
    case KXScaleMode::mix: return "MIX";
    }
    return "EDM";
}

constexpr std::string_view rawValue(ZInput mode)
{
    switch (mode) {
    case ZInput::off: return "off";
    case ZInput::unipolar: return "unipolar";
    case ZInput::bipolar: return "bipolar";
    }
    return "off";
}

namespace detail {
template <typename E, size_t N>
constexpr std::optional<E> parseRawValue(const std::array<E, N>& cases, std::string_view raw)
{
    for (E value : cases)
        if (rawValue(value) == raw)
            return value;
    return std::nullopt;
}

template <typename E, size_t N>
std::optional<E> parseRawValue(const std::array<E, N>& cases, QStringView raw)
{
    const QByteArray utf8 = raw.toUtf8();
    return parseRawValue(cases, std::string_view(utf8.constData(), size_t(utf8.size())));
}
}  // namespace detail

constexpr std::optional<DisplayMode> displayModeFromRawValue(std::string_view raw)
{
    return detail::parseRawValue(kAllDisplayModes, raw);
}
constexpr std::optional<BeamColorMode> beamColorModeFromRawValue(std::string_view raw)
{
    return detail::parseRawValue(kAllBeamColorModes, raw);
}
constexpr std::optional<XYRotation> xyRotationFromRawValue(std::string_view raw)
{
    return detail::parseRawValue(kAllXYRotations, raw);
}
constexpr std::optional<KXScaleMode> kxScaleModeFromRawValue(std::string_view raw)
{
    return detail::parseRawValue(kAllKXScaleModes, raw);
}

// The same for Qt strings (compared as UTF-8).
inline std::optional<DisplayMode> displayModeFromRawValue(QStringView raw)
{
    return detail::parseRawValue(kAllDisplayModes, raw);
}
inline std::optional<BeamColorMode> beamColorModeFromRawValue(QStringView raw)
{
    return detail::parseRawValue(kAllBeamColorModes, raw);
}
inline std::optional<XYRotation> xyRotationFromRawValue(QStringView raw)
{
    return detail::parseRawValue(kAllXYRotations, raw);
}
inline std::optional<KXScaleMode> kxScaleModeFromRawValue(QStringView raw)
{
    return detail::parseRawValue(kAllKXScaleModes, raw);
}
inline std::optional<FilterType> filterTypeFromRawValue(QStringView raw)
{
    return detail::parseRawValue(kAllFilterTypes, raw);
}

// The raw value as a Qt string, for labels and the stored records.
template <typename E>
    requires requires(E value) { rawValue(value); }
QString rawValueString(E value)
{
    const std::string_view raw = rawValue(value);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

// The KX meter's shown value for the raw expansion pressure `x` at signal
// density `density`: EDM shows x, ROCK bends it along a fixed curve, MIX
// weights it by the density. 32-bit arithmetic throughout.
float displayValue(KXScaleMode mode, float x, float density);

// Beam colour of a colour mode, each component 0 … 1.
struct BeamColor {
    float red = 0.0f;
    float green = 0.0f;
    float blue = 0.0f;
    friend constexpr bool operator==(const BeamColor&, const BeamColor&) = default;
};

constexpr BeamColor beamColorFor(BeamColorMode mode)
{
    switch (mode) {
    case BeamColorMode::green: return {0.2f, 1.0f, 0.3f};
    case BeamColorMode::amber: return {1.0f, 0.75f, 0.2f};
    case BeamColorMode::blue: return {0.3f, 0.6f, 1.0f};
    }
    return {0.2f, 1.0f, 0.3f};
}
