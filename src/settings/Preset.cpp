#include "settings/Preset.h"

#include "settings/FloatConversion.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QVariant>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

// The double written for a Float. Qt prints the shortest text that reads back
// to the double, so a double that is itself the float's shortest decimal gives
// the readable "0.52" instead of "0.5199999809265137". Negative zero has no
// JSON form that Qt's reader keeps ("-0" comes back as the integer 0); the
// smallest negative double rounds back to -0.0f instead.
std::optional<double> jsonNumber(float value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    if (value == 0.0f && std::signbit(value))
        return -std::numeric_limits<double>::denorm_min();

    char text[32];
    const auto written = std::to_chars(std::begin(text), std::end(text), value);
    double shortest = 0.0;
    if (written.ec == std::errc() && std::from_chars(text, written.ptr, shortest).ec == std::errc()) {
        const std::optional<float> back = floatconv::finiteFloat(shortest);
        if (back && std::bit_cast<uint32_t>(*back) == std::bit_cast<uint32_t>(value))
            return shortest;
    }
    return static_cast<double>(value);
}

std::optional<float> readFloat(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    return floatconv::finiteFloat(value.toDouble());
}

std::optional<int64_t> readInt(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    // Qt keeps integer literals that fit as 64-bit integers, exactly.
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    if (!(number >= -0x1p63 && number < 0x1p63) || std::trunc(number) != number)
        return std::nullopt;
    return static_cast<int64_t>(number);
}

std::optional<QString> readString(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<bool> readBool(const QJsonValue& value)
{
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

// Reads a required field into `out`; false when it is missing or unfit.
template <typename T, typename Reader>
bool require(const QJsonObject& object, const char* key, Reader read, T& out)
{
    const std::optional<T> value = read(object.value(QLatin1StringView(key)));
    if (!value)
        return false;
    out = *value;
    return true;
}

// Reads an optional field: absent or null is no value, anything else must fit.
template <typename T, typename Reader>
bool allowAbsent(const QJsonObject& object, const char* key, Reader read, std::optional<T>& out)
{
    const QJsonValue raw = object.value(QLatin1StringView(key));
    if (raw.isUndefined() || raw.isNull()) {
        out.reset();
        return true;
    }
    out = read(raw);
    return out.has_value();
}

}  // namespace

bool samePresetName(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    return a.normalized(QString::NormalizationForm_D) == b.normalized(QString::NormalizationForm_D);
}

std::optional<QJsonObject> presetToJson(const Preset& preset)
{
    QJsonObject object;
    bool finite = true;
    const auto putFloat = [&](const char* key, float value) {
        const std::optional<double> number = jsonNumber(value);
        finite = finite && number.has_value();
        if (number)
            object.insert(QLatin1StringView(key), *number);
    };
    object.insert(QLatin1StringView("name"), preset.name);
    object.insert(QLatin1StringView("displayMode"), preset.displayMode);
    object.insert(QLatin1StringView("frameRate"), qint64(preset.frameRate));
    object.insert(QLatin1StringView("audioBufferSize"), qint64(preset.audioBufferSize));
    putFloat("decay", preset.decay);
    putFloat("intensity", preset.intensity);
    putFloat("beamWidth", preset.beamWidth);
    putFloat("speedSensitivity", preset.speedSensitivity);
    object.insert(QLatin1StringView("xyRotation"), preset.xyRotation);
    object.insert(QLatin1StringView("beamColorMode"), preset.beamColorMode);
    putFloat("xyGain", preset.xyGain);
    putFloat("timePerDivision", preset.timePerDivision);
    putFloat("triggerLevel", preset.triggerLevel);
    object.insert(QLatin1StringView("triggerEnabled"), preset.triggerEnabled);
    object.insert(QLatin1StringView("triggerChannel"), qint64(preset.triggerChannel));
    putFloat("waveformGain", preset.waveformGain);
    object.insert(QLatin1StringView("kxScaleMode"), preset.kxScaleMode);
    if (preset.displayFilterType)
        object.insert(QLatin1StringView("displayFilterType"), *preset.displayFilterType);
    if (preset.displayFilterFrequency)
        putFloat("displayFilterFrequency", *preset.displayFilterFrequency);
    if (!finite)
        return std::nullopt;
    return object;
}

std::optional<Preset> presetFromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    Preset p;
    const bool ok = require(object, "name", readString, p.name)
        && require(object, "displayMode", readString, p.displayMode)
        && require(object, "frameRate", readInt, p.frameRate)
        && require(object, "audioBufferSize", readInt, p.audioBufferSize)
        && require(object, "decay", readFloat, p.decay)
        && require(object, "intensity", readFloat, p.intensity)
        && require(object, "beamWidth", readFloat, p.beamWidth)
        && require(object, "speedSensitivity", readFloat, p.speedSensitivity)
        && require(object, "xyRotation", readString, p.xyRotation)
        && require(object, "beamColorMode", readString, p.beamColorMode)
        && require(object, "xyGain", readFloat, p.xyGain)
        && require(object, "timePerDivision", readFloat, p.timePerDivision)
        && require(object, "triggerLevel", readFloat, p.triggerLevel)
        && require(object, "triggerEnabled", readBool, p.triggerEnabled)
        && require(object, "triggerChannel", readInt, p.triggerChannel)
        && require(object, "waveformGain", readFloat, p.waveformGain)
        && require(object, "kxScaleMode", readString, p.kxScaleMode)
        && allowAbsent(object, "displayFilterType", readString, p.displayFilterType)
        && allowAbsent(object, "displayFilterFrequency", readFloat, p.displayFilterFrequency);
    if (!ok)
        return std::nullopt;
    return p;
}

std::optional<QByteArray> encodePreset(const Preset& preset)
{
    const std::optional<QJsonObject> object = presetToJson(preset);
    if (!object)
        return std::nullopt;
    return QJsonDocument(*object).toJson(QJsonDocument::Compact);
}

std::optional<Preset> decodePreset(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return presetFromJson(document.object());
}

std::optional<QByteArray> encodePresetList(const QList<Preset>& presets)
{
    QJsonArray array;
    for (const Preset& preset : presets) {
        const std::optional<QJsonObject> object = presetToJson(preset);
        if (!object)
            return std::nullopt;
        array.append(*object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<QList<Preset>> decodePresetList(const QByteArray& bytes)
{
    // Qt's reader refuses nesting deeper than 1024 and numbers beyond the
    // double range, so hostile input ends here as an error, not a crash.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray array = document.array();
    QList<Preset> presets;
    presets.reserve(array.size());
    for (const QJsonValue& value : array) {
        std::optional<Preset> preset = presetFromJson(value);
        if (!preset)
            return std::nullopt;
        presets.append(std::move(*preset));
    }
    return presets;
}
