#include "settings/Preset.h"
#include "settings/ScopeSettings.h"

#include "settings/StoreHelpers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace {

using Limits = std::numeric_limits<float>;

Preset samplePreset()
{
    TempStore t;
    return ScopeSettings(t.store).snapshot(QStringLiteral("Warm \u00E9"));
}

QJsonObject sampleObject()
{
    return QJsonDocument::fromJson(*encodePreset(samplePreset())).object();
}

QByteArray listOf(const QJsonObject& record)
{
    return QJsonDocument(QJsonArray{sampleObject(), record}).toJson();
}

const char* const kRequiredKeys[] = {
    "name", "displayMode", "frameRate", "audioBufferSize", "decay", "intensity", "beamWidth",
    "speedSensitivity", "xyRotation", "beamColorMode", "xyGain", "timePerDivision", "triggerLevel",
    "triggerEnabled", "triggerChannel", "waveformGain", "kxScaleMode"};

}  // namespace

TEST(PresetJson, LeavesOutEmptyOptionalFieldsWithoutWritingNull)
{
    EXPECT_EQ(sampleObject().size(), 19);
    Preset bare = samplePreset();
    bare.displayFilterType.reset();
    bare.displayFilterFrequency.reset();
    const QByteArray text = *encodePreset(bare);
    EXPECT_EQ(QJsonDocument::fromJson(text).object().size(), 17);
    EXPECT_FALSE(text.contains("null"));
}

TEST(PresetJson, EveryFloatAndIntRoundTripsBitExactly)
{
    const float awkward[] = {0.52f, 3.23f, 8.29f, 0.1f, 1.0f / 3.0f, std::nextafter(1.0f, 2.0f), 16777216.0f,
                             Limits::denorm_min(), Limits::min(), Limits::max(), -Limits::max(), 0.0f, -0.0f,
                             -1e-40f, 3e18f, 123456.789f};
    for (float value : awkward) {
        Preset p = samplePreset();
        p.decay = p.intensity = p.beamWidth = p.speedSensitivity = p.xyGain = value;
        p.timePerDivision = p.triggerLevel = p.waveformGain = value;
        p.displayFilterFrequency = value;
        const std::optional<Preset> back = decodePreset(*encodePreset(p));
        ASSERT_TRUE(back) << value;
        for (float got : {back->decay, back->intensity, back->beamWidth, back->speedSensitivity, back->xyGain,
                          back->timePerDivision, back->triggerLevel, back->waveformGain, *back->displayFilterFrequency})
            EXPECT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(value)) << value;
    }
    Preset p = samplePreset();
    p.frameRate = std::numeric_limits<int64_t>::max();
    p.audioBufferSize = std::numeric_limits<int64_t>::min();
    p.triggerChannel = -1;
    EXPECT_EQ(decodePresetList(*encodePresetList({p, samplePreset()})), (QList<Preset>{p, samplePreset()}));
}

TEST(PresetJson, NonFiniteFloatsAreNotEncoded)
{
    for (float bad : {Limits::quiet_NaN(), Limits::infinity(), -Limits::infinity()}) {
        Preset p = samplePreset();
        p.displayFilterFrequency = bad;
        EXPECT_FALSE(encodePreset(p));
        EXPECT_FALSE(encodePresetList({samplePreset(), p})) << "one bad record fails the list";
        p.displayFilterFrequency.reset();
        p.triggerLevel = bad;
        EXPECT_FALSE(encodePreset(p));
    }
}

TEST(PresetJson, AMissingOrWronglyTypedRequiredKeyMakesTheRecordUnreadable)
{
    for (const char* key : kRequiredKeys) {
        QJsonObject missing = sampleObject();
        missing.remove(QLatin1StringView(key));
        EXPECT_FALSE(presetFromJson(missing)) << key;
        EXPECT_FALSE(decodePresetList(listOf(missing))) << key << ": the whole list";
        for (const QJsonValue& wrong : {QJsonValue(QJsonValue::Null), QJsonValue(QJsonArray{1})}) {
            QJsonObject object = sampleObject();
            object.insert(QLatin1StringView(key), wrong);
            EXPECT_FALSE(presetFromJson(object)) << key;
        }
    }
    QJsonObject object = sampleObject();
    object.insert(QStringLiteral("triggerEnabled"), 1);
    EXPECT_FALSE(presetFromJson(object)) << "a number is not a Bool";
    object = sampleObject();
    object.insert(QStringLiteral("decay"), QStringLiteral("0.5"));
    EXPECT_FALSE(presetFromJson(object)) << "a string is not a number";
    object = sampleObject();
    object.insert(QStringLiteral("displayMode"), 0);
    EXPECT_FALSE(presetFromJson(object));
}

TEST(PresetJson, OptionalKeysMayBeAbsentOrNullButNotWrong)
{
    QJsonObject object = sampleObject();
    object.remove(QStringLiteral("displayFilterType"));
    object.insert(QStringLiteral("displayFilterFrequency"), QJsonValue::Null);
    object.insert(QStringLiteral("futureSetting"), QJsonObject{{"x", 1}});
    const std::optional<Preset> p = presetFromJson(object);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->displayFilterType || p->displayFilterFrequency);

    object.insert(QStringLiteral("displayFilterFrequency"), QStringLiteral("loud"));
    EXPECT_FALSE(presetFromJson(object));
}

TEST(PresetJson, NumbersMustFitTheirField)
{
    const auto decayFrom = [](const char* number) -> std::optional<float> {
        const QByteArray text = QByteArray(R"({"decay":)") + number + "}";
        QJsonObject object = sampleObject();
        object.insert(QStringLiteral("decay"), QJsonDocument::fromJson(text).object().value("decay"));
        const std::optional<Preset> p = presetFromJson(object);
        return p ? std::optional(p->decay) : std::nullopt;
    };
    // Finite in JSON but infinite as a Float (past halfway to 2^128): unreadable.
    for (const char* bad : {"1e39", "-3.5e38", "3.4028236e38"})
        EXPECT_FALSE(decayFrom(bad)) << bad;
    EXPECT_EQ(decayFrom("3.4028235e38"), Limits::max()) << "rounds to the largest Float";
    EXPECT_EQ(decayFrom("-3.40282356e38"), -Limits::max());
    EXPECT_EQ(decayFrom("1e-50"), 0.0f) << "below the smallest Float: rounds to zero";
    EXPECT_EQ(decayFrom("1"), 1.0f);

    const auto frameRateFrom = [](const char* number) -> std::optional<int64_t> {
        QByteArray text = *encodePreset(samplePreset());
        text.replace("\"frameRate\":120", QByteArray("\"frameRate\":") + number);
        const std::optional<Preset> p = decodePreset(text);
        return p ? std::optional(p->frameRate) : std::nullopt;
    };
    EXPECT_EQ(frameRateFrom("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(frameRateFrom("60.0"), 60);
    EXPECT_EQ(frameRateFrom("-0"), 0);
    for (const char* bad : {"9223372036854775808", "-9.3e18", "1e20", "59.5", "1e999", "true", "\"60\""})
        EXPECT_FALSE(frameRateFrom(bad)) << bad;
}

TEST(PresetJson, HostileBlobsReadAsNothing)
{
    const QByteArray good = *encodePresetList({samplePreset()});
    QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
    QByteArray duplicateWrongLast = good;
    duplicateWrongLast.replace("\"xyGain\":1", "\"xyGain\":1,\"xyGain\":\"x\"");
    for (const QByteArray& blob :
         {QByteArray(), QByteArray("not json"), QByteArray("{}"), QByteArray(R"({"0":{}})"), QByteArray("[1]"),
          QByteArray("[[]]"), QByteArray("[null]"), good + "x", good.left(good.size() - 1), deep,
          QByteArray(good).replace("Warm", "W\xFF\xFE"), duplicateWrongLast, QByteArray(10 << 20, '\x01')})
        EXPECT_FALSE(decodePresetList(blob)) << blob.left(40).constData();
    EXPECT_FALSE(decodePreset(good)) << "a list is not a record";
    EXPECT_FALSE(decodePreset(deep));

    // Duplicate keys: the last one counts, as in JavaScript.
    QByteArray duplicateRightLast = good;
    duplicateRightLast.replace("\"xyGain\":1", "\"xyGain\":\"x\",\"xyGain\":2");
    EXPECT_EQ(decodePresetList(duplicateRightLast)->at(0).xyGain, 2.0f);

    EXPECT_EQ(decodePresetList("[]")->size(), 0);
}

TEST(PresetJson, TenMegabytesOfPresetsStillLoad)
{
    QList<Preset> many(30000, samplePreset());
    const QByteArray blob = *encodePresetList(many);
    ASSERT_GT(blob.size(), 10 << 20);
    EXPECT_EQ(decodePresetList(blob)->size(), 30000);
}
