#pragma once

#include "settings/DisplayEnums.h"
#include "settings/Preset.h"

#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>

// Every persisted setting, declared once. A row of the table names the
// setting's preset key, where its value lives in DisplaySettings and in a
// Preset record, what to do when a record lacks it, and what the panel shows
// for it (caption, slider range or option list). The preset JSON, the last
// session, snapshot/apply/reset, the panel's controls and the renderer's
// parameters all read the table; a new setting is a field in each struct and
// one row here.

// The values of the persisted settings; the initial values are the defaults.
struct DisplaySettings {
    DisplayMode displayMode = DisplayMode::xy;
    int64_t frameRate = 120;
    int64_t audioBufferSize = 256;
    float decay = 0.52f;
    float intensity = 10.0f;
    float beamWidth = 3.23f;
    float speedSensitivity = 8.29f;
    XYRotation xyRotation = XYRotation::deg45;
    BeamColorMode beamColorMode = BeamColorMode::green;
    float xyGain = 1.0f;
    float timePerDivision = 2.0f;
    float triggerLevel = 1.0f;
    bool triggerEnabled = true;
    int64_t triggerChannel = 0;
    float waveformGain = 1.0f;
    KXScaleMode kxScaleMode = KXScaleMode::edm;
    FilterType displayFilterType = FilterType::off;
    float displayFilterFrequency = 1000.0f;
    int64_t upsampling = 1;  // the beam's reconstruction: 1 (off), 2, 4 or 8 points per sample
    float glow = 0.0f;       // a soft halo around the brightest light, 0 (none) ... 1
    ZInput zInput = ZInput::off;

    friend bool operator==(const DisplaySettings&, const DisplaySettings&) = default;
};

namespace settings {

// What applying a record that lacks the key (or, for an enumeration, holds a
// case this build does not know) does to the setting.
enum class WhenAbsent { keep, reset };

// One row. T is the setting's type, Stored the type of its Preset field:
// the same for numbers, a raw-value string for an enumeration, an optional
// for a key that older records lack.
template <typename T, typename Stored>
struct Setting {
    using Value = T;
    std::string_view key;
    T DisplaySettings::*value;
    Stored Preset::*stored;
    WhenAbsent whenAbsent = WhenAbsent::keep;
    std::string_view caption = {};  // the panel's label, where it has one
    float minimum = 0.0f;           // a slider's range
    float maximum = 0.0f;
    std::span<const T> options = {};  // a picker's choices in order; every case of an enumeration

    T defaultValue() const { return DisplaySettings{}.*value; }
};

inline constexpr std::array<float, 9> kTimeDivOptions = {1, 2, 5, 10, 20, 50, 100, 200, 500};
inline constexpr std::array<int64_t, 3> kFrameRateOptions = {30, 60, 120};
inline constexpr std::array<int64_t, 5> kBufferSizeOptions = {64, 128, 256, 512, 1024};
inline constexpr std::array<int64_t, 4> kUpsamplingOptions = {1, 2, 4, 8};
inline constexpr std::array<float, 18> kFilterFreqOptions = {
    20, 30, 40, 50, 60, 100, 200, 300, 500, 800, 1000, 2000, 3000, 5000, 8000, 12000, 16000, 20000};

using D = DisplaySettings;
using P = Preset;

// In the order presets are applied and defaults restored: each through its
// setter, so listeners see the same sequence of notifications every time.
inline constexpr Setting<DisplayMode, QString> displayMode{
    "displayMode", &D::displayMode, &P::displayMode, WhenAbsent::keep, {}, 0, 0, kAllDisplayModes};
inline constexpr Setting<int64_t, int64_t> frameRate{
    "frameRate", &D::frameRate, &P::frameRate, WhenAbsent::keep, "FPS", 0, 0, kFrameRateOptions};
inline constexpr Setting<int64_t, int64_t> audioBufferSize{
    "audioBufferSize", &D::audioBufferSize, &P::audioBufferSize, WhenAbsent::keep, "BUFFER", 0, 0,
    kBufferSizeOptions};
inline constexpr Setting<float, float> decay{"decay", &D::decay, &P::decay, WhenAbsent::keep, "DECAY", 0.5f, 0.99f};
inline constexpr Setting<float, float> intensity{
    "intensity", &D::intensity, &P::intensity, WhenAbsent::keep, "INTENSITY", 0.5f, 10.0f};
inline constexpr Setting<float, float> beamWidth{
    "beamWidth", &D::beamWidth, &P::beamWidth, WhenAbsent::keep, "BEAM", 0.5f, 5.0f};
inline constexpr Setting<float, float> speedSensitivity{
    "speedSensitivity", &D::speedSensitivity, &P::speedSensitivity, WhenAbsent::keep, "SPEED", 0.1f, 10.0f};
inline constexpr Setting<XYRotation, QString> xyRotation{
    "xyRotation", &D::xyRotation, &P::xyRotation, WhenAbsent::keep, "ROT:", 0, 0, kAllXYRotations};
inline constexpr Setting<BeamColorMode, QString> beamColorMode{
    "beamColorMode", &D::beamColorMode, &P::beamColorMode, WhenAbsent::keep, "COLOR:", 0, 0, kAllBeamColorModes};
inline constexpr Setting<float, float> xyGain{"xyGain", &D::xyGain, &P::xyGain, WhenAbsent::keep, "GAIN", 0.1f, 10.0f};
inline constexpr Setting<float, float> timePerDivision{
    "timePerDivision", &D::timePerDivision, &P::timePerDivision, WhenAbsent::keep, "TIME:", 0, 0, kTimeDivOptions};
inline constexpr Setting<float, float> triggerLevel{
    "triggerLevel", &D::triggerLevel, &P::triggerLevel, WhenAbsent::keep, "LEVEL", -1.0f, 1.0f};
inline constexpr Setting<bool, bool> triggerEnabled{
    "triggerEnabled", &D::triggerEnabled, &P::triggerEnabled, WhenAbsent::keep, "TRIG"};
inline constexpr Setting<int64_t, int64_t> triggerChannel{"triggerChannel", &D::triggerChannel, &P::triggerChannel};
inline constexpr Setting<float, float> waveformGain{
    "waveformGain", &D::waveformGain, &P::waveformGain, WhenAbsent::keep, "GAIN", 0.1f, 10.0f};
inline constexpr Setting<KXScaleMode, QString> kxScaleMode{
    "kxScaleMode", &D::kxScaleMode, &P::kxScaleMode, WhenAbsent::keep, "SCALE", 0, 0, kAllKXScaleModes};
// A record without a filter (or with one this build does not know) turns it
// off; one without a frequency leaves the frequency as it is.
inline constexpr Setting<FilterType, std::optional<QString>> displayFilterType{
    "displayFilterType", &D::displayFilterType, &P::displayFilterType, WhenAbsent::reset, "FILTER:", 0, 0,
    kAllFilterTypes};
inline constexpr Setting<float, std::optional<float>> displayFilterFrequency{
    "displayFilterFrequency", &D::displayFilterFrequency, &P::displayFilterFrequency, WhenAbsent::keep, {}, 0, 0,
    kFilterFreqOptions};
// Records from before it existed draw straight segments, as they did then.
inline constexpr Setting<int64_t, std::optional<int64_t>> upsampling{
    "upsampling", &D::upsampling, &P::upsampling, WhenAbsent::reset, "UPSAMPLE", 0, 0, kUpsamplingOptions};
inline constexpr Setting<float, std::optional<float>> glow{
    "glow", &D::glow, &P::glow, WhenAbsent::reset, "GLOW", 0.0f, 1.0f};
inline constexpr Setting<ZInput, std::optional<QString>> zInput{
    "zInput", &D::zInput, &P::zInput, WhenAbsent::reset, "Z", 0, 0, kAllZInputs};

inline constexpr auto kAll = std::tie(displayMode, frameRate, audioBufferSize, decay, intensity, beamWidth,
                                      speedSensitivity, xyRotation, beamColorMode, xyGain, timePerDivision,
                                      triggerLevel, triggerEnabled, triggerChannel, waveformGain, kxScaleMode,
                                      displayFilterType, displayFilterFrequency, upsampling, glow, zInput);

// Calls visit(row) for every row, in the table's order.
template <typename Visit>
constexpr void forEach(Visit&& visit)
{
    std::apply([&](const auto&... row) { (visit(row), ...); }, kAll);
}

// Whether two values of a setting are the same to everything that reads
// them: floats by their bits, so that -0 differs from 0 and a NaN from
// itself does not.
template <typename T>
bool same(const T& a, const T& b)
{
    if constexpr (std::is_floating_point_v<T>)
        return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
    else
        return a == b;
}

// The record's form of a value.
template <typename T, typename Stored>
Stored toStored(const Setting<T, Stored>&, T value)
{
    if constexpr (std::is_enum_v<T>)
        return rawValueString(value);
    else
        return value;
}

// The value a record holds for the setting; nothing when applying it leaves
// the setting as it is.
template <typename T, typename Stored>
std::optional<T> fromStored(const Setting<T, Stored>& row, const Stored& stored)
{
    std::optional<T> value;
    if constexpr (std::is_enum_v<T>) {
        QString raw;
        if constexpr (std::is_same_v<Stored, QString>)
            raw = stored;
        else if (stored)
            raw = *stored;
        const QByteArray utf8 = raw.toUtf8();
        for (T option : row.options)
            if (rawValue(option) == std::string_view(utf8.constData(), size_t(utf8.size())))
                value = option;
    } else {
        value = stored;
    }
    if (!value && row.whenAbsent == WhenAbsent::reset)
        value = row.defaultValue();
    return value;
}

}  // namespace settings
