#include "settings/Preset.h"

#include "settings/FloatConversion.h"
#include "settings/SettingsTable.h"

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

QLatin1StringView latin1(std::string_view key) { return QLatin1StringView(key.data(), qsizetype(key.size())); }

std::optional<float> read(const QJsonValue& value, float*) { return readFloat(value); }
std::optional<int64_t> read(const QJsonValue& value, int64_t*) { return readInt(value); }
std::optional<QString> read(const QJsonValue& value, QString*) { return readString(value); }
std::optional<bool> read(const QJsonValue& value, bool*) { return readBool(value); }

// Reads a required field into `out`; false when it is missing or unfit.
template <typename T>
bool readField(const QJsonObject& object, std::string_view key, T& out)
{
    const std::optional<T> value = read(object.value(latin1(key)), static_cast<T*>(nullptr));
    if (!value)
        return false;
    out = *value;
    return true;
}

// An optional field: absent or null is no value, anything else must fit.
template <typename T>
bool readField(const QJsonObject& object, std::string_view key, std::optional<T>& out)
{
    const QJsonValue raw = object.value(latin1(key));
    if (raw.isUndefined() || raw.isNull()) {
        out.reset();
        return true;
    }
    out = read(raw, static_cast<T*>(nullptr));
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
    const auto put = [&](std::string_view key, const auto& value) {
        using T = std::decay_t<decltype(value)>;
        const QLatin1StringView name = latin1(key);
        if constexpr (std::is_same_v<T, float>) {
            const std::optional<double> number = jsonNumber(value);
            finite = finite && number.has_value();
            if (number)
                object.insert(name, *number);
        } else if constexpr (std::is_same_v<T, int64_t>) {
            object.insert(name, qint64(value));
        } else {
            object.insert(name, value);
        }
    };
    put("name", preset.name);
    settings::forEach([&](const auto& row) {
        const auto& stored = preset.*(row.stored);
        if constexpr (requires { stored.has_value(); }) {
            if (stored)
                put(row.key, *stored);
        } else {
            put(row.key, stored);
        }
    });
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
    bool ok = readField(object, "name", p.name);
    settings::forEach([&](const auto& row) { ok = ok && readField(object, row.key, p.*(row.stored)); });
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
