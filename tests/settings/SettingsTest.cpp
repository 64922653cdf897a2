#include "settings/ScopeSettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <limits>

void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using F = std::numeric_limits<float>;
const QString kPresets = QStringLiteral("Orvalen.presets");
const QString kSession = QStringLiteral("Orvalen.lastSession");

// An INI store in a folder of its own that times its writes; `failWrites`
// fails them as a full disk would, leaving the stored value.
struct TempStore {
    struct Store : QSettingsStore {
        using QSettingsStore::QSettingsStore;
        bool write(const QString& key, const QByteArray& bytes) override
        {
            writes.push_back({key, bytes, Clock::now()});
            return !failWrites && QSettingsStore::write(key, bytes);
        }
        std::vector<std::tuple<QString, QByteArray, Clock::time_point>> writes;  // key, value, when
        bool failWrites = false;
    };
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Orvalen.conf"));
    std::shared_ptr<Store> store = std::make_shared<Store>(path);
};

QStringList names(const QList<Preset>& presets)
{
    QStringList out;
    for (const Preset& p : presets)
        out << p.name;
    return out;
}
QStringList storedNames(PreferencesStore& store)
{
    return names(decodePresetList(store.read(kPresets).value_or("")).value_or(QList<Preset>{}));
}

// Everything the object holds that an assignment can change.
auto state(const ScopeSettings& s)
{
    return std::tuple(s.snapshot({}), s.scopeVisible(), s.rhythmMatchRate(), s.expansionPressure(),
                      s.signalDensity(), s.envelopeCurvature(), s.phaseCorrelation(), s.savedPresets());
}

// For each published property, an assignment away from its initial value.
const std::vector<std::pair<const char*, void (*)(ScopeSettings&)>> kAssignments = {
#define SET(f, v) {#f, [](ScopeSettings& s) { s.f(v); }}
    SET(setDisplayMode, DisplayMode::waveform), SET(setFrameRate, 60), SET(setAudioBufferSize, 512),
    SET(setDecay, 0.9f), SET(setIntensity, 2.5f), SET(setBeamWidth, 1.5f), SET(setSpeedSensitivity, 0.5f),
    SET(setXyRotation, XYRotation::deg0), SET(setBeamColorMode, BeamColorMode::amber), SET(setXyGain, 4.0f),
    SET(setTimePerDivision, 20.0f), SET(setTriggerLevel, -0.25f), SET(setTriggerEnabled, false),
    SET(setTriggerChannel, 1), SET(setWaveformGain, 3.0f), SET(setDisplayFilterType, FilterType::highpass),
    SET(setDisplayFilterFrequency, 5000.0f), SET(setUpsampling, 8), SET(setGlow, 0.5f), SET(setZInput, ZInput::bipolar),
    SET(setScopeVisible, false), SET(setRhythmMatchRate, 0.7f),
    SET(setExpansionPressure, 0.4f), SET(setKxScaleMode, KXScaleMode::mix), SET(setSignalDensity, 0.3f),
    SET(setEnvelopeCurvature, 0.2f), SET(setPhaseCorrelation, -0.5f), SET(setSavedPresets, QList<Preset>(1)),
};

// Every persisted setting away from its initial value, the numbers awkward to write.
const Preset kUnusual = {QStringLiteral("unusual"), QStringLiteral("Scope"), -7, 1'000'000'000'000, F::denorm_min(),
                         -0.0f, F::max(), 0.1f, QStringLiteral("0\u00B0"), QStringLiteral("Blue"), 1.0f / 3.0f, 500.0f,
                         -0.999999f, false, std::numeric_limits<int64_t>::min(), -1e-40f, QStringLiteral("MIX"),
                         QStringLiteral("BP"), 12345.678f, 3, 2.5f, QStringLiteral("bipolar")};

void storeRaw(const QString& path, const QString& key, const QVariant& value)
{
    QSettings(path, QSettings::IniFormat).setValue(key, value);  // written when the object goes
}

}  // namespace

// Every setter notifies once, before it stores, even when the value is the
// same; reset and apply go through them, so the frame-rate hook sees each rate.
TEST(ScopeSettings, SettersNotifyFirstAndResetRestoresThePersistedSettingsOnly)
{
    ScopeSettings s, expected;
    for (const auto& [name, assign] : kAssignments) {
        ScopeSettings probe;
        const auto initial = state(probe);
        int count = 0;
        bool early = false;  // stored before the first notification
        QObject::connect(&probe, &ScopeSettings::willChange, [&] { early |= count++ == 0 && state(probe) != initial; });
        // After the store, one signal says what changed; the same value again says nothing.
        QString changed;
        for (auto [signal, what] : {std::pair{&ScopeSettings::displayChanged, "display"},
                                    {&ScopeSettings::metersChanged, "meters"}, {&ScopeSettings::presetsChanged, "presets"}})
            QObject::connect(&probe, signal, [&, what] { changed += state(probe) != initial ? what : "early"; });
        assign(probe);
        assign(probe);
        EXPECT_TRUE(count == 2 && !early && state(probe) != initial) << name;
        const bool shown = probe.snapshot({}) != std::get<0>(initial) || !probe.scopeVisible();
        EXPECT_EQ(changed, shown ? "display" : probe.savedPresets().isEmpty() ? "meters" : "presets") << name;
        if (probe.snapshot({}) == expected.snapshot({}))  // what no preset holds, a reset leaves
            assign(expected);
        assign(s);  // the frame rate with no hook yet
    }
    std::vector<int64_t> rates;
    s.onFrameRateChanged = [&](int64_t rate) { rates.push_back(rate == s.frameRate() ? rate : -1); };
    s.onResetAnalysis = [&] { rates.push_back(0); };  // only the control panel resets the meters
    int notifications = 0;
    QObject::connect(&s, &ScopeSettings::willChange, [&] { ++notifications; });
    s.resetToDefaults();
    EXPECT_EQ(notifications, 21);
    EXPECT_EQ(state(s), state(expected));
    Preset p = s.snapshot({});
    p.frameRate = 45;  // not an offered rate: taken as it is
    s.applyPreset(p);
    EXPECT_EQ(rates, (std::vector<int64_t>{120, 45}));
}

TEST(ScopeSettings, SamplesForDisplayCoversTenDivisionsAndSaturates)
{
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
    const struct { float msPerDiv; double rate; int64_t expected; } cases[] = {
        {2, 48000, 960}, {1, 48000, 480}, {5, 48000, 2400}, {500, 48000, 240000}, {-2, 48000, -960},
        {100, 0x1p63, kMax} /* the first product past the range */, {100, -0x1p63, kMin}, {2, 1e300, kMax},
        {2, -1e300, kMin} /* past the Float range */, {F::quiet_NaN(), 48000, 0}, {F::infinity(), 0, 0} /* NaN */};
    ScopeSettings s;
    for (const auto& c : cases) {
        s.setTimePerDivision(c.msPerDiv);
        EXPECT_EQ(s.samplesForDisplay(c.rate), c.expected) << c.msPerDiv << " ms at " << c.rate;
    }
}

TEST(KXScaleMode, DisplayValueFollowsTheModesCurve)
{
    using enum KXScaleMode;
    const struct { KXScaleMode mode; float x, density, shown; } cases[] = {
        // ROCK bends 0.4 … 0.8 and leaves the rest; the density plays no part.
        {rock, 0.45f, 0, 0.49f}, {rock, 0.55f, 0, 0.665f}, {rock, 0.65f, 0, 0.755f}, {rock, 0.75f, 0, 0.78f},
        {rock, 0.9f, 0.5f, 0.9f}, {rock, 0.3f, 0, 0.3f}, {rock, -1, 0, -1}, {edm, 0.65f, 0.45f, 0.65f},
        // MIX weights by the density: 0 at none, 0.3 at 0.3, full from 0.6 on.
        {mix, 0.8f, 0, 0}, {mix, 0.8f, 0.15f, 0.12f}, {mix, 0.8f, 0.3f, 0.24f}, {mix, 0.8f, 0.45f, 0.52f},
        {mix, 0.8f, 0.6f, 0.8f}, {mix, 0.8f, 7, 0.8f}};
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(displayValue(c.mode, c.x, c.density), c.shown) << int(c.mode) << ' ' << c.x << ' ' << c.density;
}

// Every case of every enumeration survives a preset: no two share a stored name.
TEST(DisplayEnums, EveryCaseSurvivesAPreset)
{
    for (size_t i = 0; i < 4; ++i) {
        ScopeSettings s, back;
        s.setDisplayMode(kAllDisplayModes[i % 2]);
        s.setXyRotation(kAllXYRotations[i % 2]);
        s.setBeamColorMode(kAllBeamColorModes[i % 3]);
        s.setKxScaleMode(kAllKXScaleModes[i % 3]);
        s.setDisplayFilterType(kAllFilterTypes[i]);
        back.applyPreset(s.snapshot({}));
        EXPECT_EQ(state(back), state(s)) << i;
    }
}

// Each row: a key of a stored record set to a JSON text (null: left out), and
// how the field then writes back (null: the record is unreadable; "": left out).
TEST(PresetJson, EachFieldReadsOnlyWhatFitsIt)
{
    std::vector<std::tuple<QString, const char*, const char*>> rows = {
        // Optional keys may be absent or null but not of another type; unknown keys are ignored.
        {"displayFilterType", nullptr, ""}, {"displayFilterType", "null", ""}, {"displayFilterType", "7", nullptr},
        {"displayFilterFrequency", "null", ""}, {"displayFilterFrequency", "\"loud\"", nullptr},
        {"upsampling", nullptr, ""}, {"upsampling", "4", "4"}, {"upsampling", "\"8x\"", nullptr},
        {"futureSetting", "{\"x\":[1]}", ""}, {"triggerEnabled", "1", nullptr}, {"decay", "\"0.5\"", nullptr},
        {"displayMode", "0", nullptr}, {"name", "false", nullptr},
        // Finite in JSON but infinite as a Float (from halfway between the largest Float and 2^128).
        {"decay", "1e39", nullptr}, {"decay", "-3.5e38", nullptr}, {"decay", "3.4028236e38", nullptr},
        {"decay", "3.4028235e38", "3.4028235e38"}, {"decay", "-3.40282356e38", "-3.4028235e38"},
        {"decay", "1e-50", "0"}, {"frameRate", "9223372036854775807", "9223372036854775807"}, {"frameRate", "-0", "0"},
        {"frameRate", "-9223372036854775808", "-9223372036854775808"}, {"frameRate", "60.0", "60"},
        {"frameRate", "9223372036854775808", nullptr}, {"frameRate", "-1e19", nullptr}, {"frameRate", "1e20", nullptr},
        {"frameRate", "59.5", nullptr}, {"frameRate", "1e999", nullptr}, {"frameRate", "\"60\"", nullptr},
        {"xyGain", "\"x\",\"xyGain\":2", "2"}, {"xyGain", "2,\"xyGain\":\"x\"", nullptr}};  // the last key counts
    const QJsonObject sample = *presetToJson(ScopeSettings().snapshot(QStringLiteral("Warm \u00E9")));
    for (const QString& key : sample.keys())  // every other key is required
        if (!key.startsWith(u"displayFilter") && key != u"upsampling" && key != u"glow" && key != u"zInput")
            for (const char* wrong : {(const char*)nullptr, "null", "[1]", "{}"})
                rows.emplace_back(key, wrong, nullptr);
    for (const auto& [key, value, readsAs] : rows) {
        QJsonObject object = sample;
        object.remove(key);
        QByteArray record = QJsonDocument(object).toJson(QJsonDocument::Compact);
        if (value)
            record.insert(1, '"' + key.toUtf8() + "\":" + value + ',');
        const std::optional<Preset> p = decodePreset(record);
        EXPECT_EQ(p.has_value(), readsAs != nullptr) << record.constData();
        EXPECT_EQ(decodePresetList("[" + *encodePreset(kUnusual) + ',' + record + ']').has_value(), p.has_value())
            << record.constData() << ": the list stands or falls with each record";
        if (!p || !readsAs)
            continue;
        const QJsonValue expected = QJsonDocument::fromJson(QByteArray("[") + readsAs + ']').array().at(0);
        EXPECT_EQ(presetToJson(*p)->value(key), *readsAs ? expected : QJsonValue::Undefined) << record.constData();
    }
}

TEST(Presets, SavingSortsCaseInsensitivelyAndStablyAndDeletingRemovesEveryPresetOfTheName)
{
    TempStore t;
    ScopeSettings s(t.store);
    for (const char* name : {"b", "A", "c"})
        s.savePreset(QString::fromUtf8(name));
    EXPECT_EQ(names(s.savedPresets()), (QStringList{"A", "b", "c"}));
    s.setDecay(0.9f);
    s.savePreset(QStringLiteral("b"));
    s.savePreset(QStringLiteral("a"));  // differs from "A" only in case: both kept, the later after
    s.savePreset(QStringLiteral("Caf\u00E9"));
    s.savePreset(QStringLiteral("Cafe\u0301"));  // canonically equal: replaces
    EXPECT_EQ(names(s.savedPresets()), (QStringList{"A", "a", "b", "c", QStringLiteral("Cafe\u0301")}));
    EXPECT_EQ(s.savedPresets()[2].decay, 0.9f) << "one \"b\", holding the later values";
    EXPECT_EQ(storedNames(*t.store), names(s.savedPresets()));
    const QList<Preset> list{s.savedPresets()[3], s.savedPresets()[1], s.savedPresets()[0], s.savedPresets()[1],
                             s.savedPresets()[4]};
    storeRaw(t.path, kPresets, QJsonDocument::fromJson(*encodePresetList(list)).toJson(QJsonDocument::Indented));
    ScopeSettings other(t.store);
    other.loadLastSession();
    EXPECT_EQ(names(other.savedPresets()), names(list)) << "in stored order, with no last session";
    other.deletePreset(QStringLiteral("missing"));
    EXPECT_EQ(t.store->read(kPresets), encodePresetList(list)) << "written anew, the same list";
    other.deletePreset(QStringLiteral("a")), other.deletePreset(QStringLiteral("Caf\u00E9"));
    EXPECT_EQ(storedNames(*t.store), (QStringList{"c", "A"}));
    // Canonically equivalent names are one name (in either form), but not compatibility forms or case.
    for (auto [a, b, same] : {std::tuple{u"Caf\u00E9", u"Cafe\u0301", true}, {u"\u212B", u"\u00C5", true},
                              {u"q\u0301\u0323", u"q\u0323\u0301", true}, {u"\uFB01", u"fi", false},
                              {u"a", u"A", false}})
        EXPECT_TRUE(samePresetName(QString::fromUtf16(a), QString::fromUtf16(b)) == same &&
                    samePresetName(QString::fromUtf16(b), QString::fromUtf16(a)) == same) << int(*a);
}

TEST(Presets, TheRestoreBringsBackEveryValueAndSkipsWhatItCannotRead)
{
    TempStore t;
    ScopeSettings s(t.store), restored(t.store);
    s.applyPreset(kUnusual);
    s.savePreset(kUnusual.name);
    s.saveLastSession();
    EXPECT_TRUE(ScopeSettings(t.store).savedPresets().isEmpty()) << "nothing is read before the restore";
    restored.loadLastSession();
    EXPECT_EQ(restored.savedPresets(), QList<Preset>{kUnusual});
    EXPECT_EQ(restored.snapshot(kUnusual.name), kUnusual);
    EXPECT_TRUE(std::signbit(restored.intensity())) << "-0 stays -0";
    // Unknown cases and no frequency leave their setting; an unknown or absent filter turns it off.
    const QJsonObject unusual = *presetToJson(kUnusual), initial = *presetToJson(ScopeSettings().snapshot({}));
    QJsonObject odd = initial, expected = initial;
    for (const char* key : {"displayMode", "xyRotation", "beamColorMode", "kxScaleMode", "displayFilterFrequency"})
        expected[key] = unusual[key];
    for (auto [key, value] : {std::pair{"displayMode", "xy"}, {"xyRotation", "45"}, {"beamColorMode", "Teal"},
                              {"kxScaleMode", "mix"}, {"displayFilterType", "bp"}})
        odd[key] = value;
    odd.remove("displayFilterFrequency");
    for (int absentType = 0; absentType < 2; ++absentType, odd.remove("displayFilterType")) {
        storeRaw(t.path, kSession, QJsonDocument(odd).toJson());
        restored.applyPreset(kUnusual);
        restored.loadLastSession();
        EXPECT_EQ(*presetToJson(restored.snapshot({})), expected) << "filter type absent: " << absentType;
    }
    // Hostile values change nothing, in memory or stored, until the next save.
    const QByteArray good = *encodePresetList({kUnusual, ScopeSettings().snapshot(QStringLiteral("Warm"))});
    for (const QVariant& bad : QVariantList{QByteArray(), QByteArray("not json"), QByteArray("{}"), QByteArray("[1]"),
             QByteArray("[[]]"), QByteArray("[null]"), good + "x", good.chopped(1), QByteArray(1 << 20, '\x01'),
             QByteArray(100000, '[') + QByteArray(100000, ']'), QByteArray(good).replace("Warm", "W\xFF\xFE"),
             QByteArray(good).replace("\"xyGain\":1,", ""), QByteArray("[1e999]"), 42, QString::fromUtf8(good)}) {
        storeRaw(t.path, kPresets, bad);
        storeRaw(t.path, kSession, bad);
        ScopeSettings fresh(t.store);
        fresh.setSavedPresets({ScopeSettings().snapshot(QStringLiteral("in memory"))});
        fresh.loadLastSession();
        EXPECT_EQ(names(fresh.savedPresets()), QStringList{"in memory"}) << bad.toByteArray().left(40).constData();
        EXPECT_EQ(fresh.snapshot({}), ScopeSettings().snapshot({}));
        EXPECT_EQ(QSettings(t.path, QSettings::IniFormat).value(kPresets), bad);
    }
    QFile garbage(t.path);  // a corrupt file too reads as empty, and the next save writes over it
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray("[General\n\x00\xFF=\"@ByteArray(\n;\\", 20) + QByteArray(1000, '\x7F'));
    garbage.close();
    ScopeSettings(t.store).savePreset(QStringLiteral("new"));
    EXPECT_EQ(storedNames(*t.store), QStringList{"new"});
}

// A list that could not be written (a full disk, a number JSON cannot hold)
// stays the base of the next save; what is stored stays as it was.
TEST(Presets, AListThatWasNotWrittenIsTheBaseOfTheNextWrite)
{
    TempStore t;
    ScopeSettings s(t.store);
    s.savePreset(QStringLiteral("good"));
    s.saveLastSession();
    const QByteArray presets = *t.store->read(kPresets), session = *t.store->read(kSession);
    t.store->failWrites = true;
    s.savePreset(QStringLiteral("unsaved"));
    t.store->failWrites = false;
    s.setTriggerLevel(F::quiet_NaN());
    s.saveLastSession();
    s.setTriggerLevel(0.5f);
    s.setDisplayFilterFrequency(-F::infinity());
    s.savePreset(QStringLiteral("bad"));
    s.setDisplayFilterFrequency(500.0f);
    s.savePreset(QStringLiteral("fine"));  // fails too: the list holds "bad"
    EXPECT_EQ(*t.store->read(kSession), session);
    EXPECT_EQ(*t.store->read(kPresets), presets);
    s.deletePreset(QStringLiteral("bad"));
    EXPECT_EQ(storedNames(*t.store), (QStringList{"fine", "good", "unsaved"}));
}

// A record as earlier builds wrote it, every value distinct: each key reaches
// its own setting, a setting it does not know goes back to its default, and
// the record is written back byte for byte, that setting added.
TEST(Presets, AStoredRecordReadsIntoItsSettingsAndWritesBackUnchanged)
{
    const QByteArray record =
        "{\"audioBufferSize\":512,\"beamColorMode\":\"Amber\",\"beamWidth\":1.5,\"decay\":0.9,"
        "\"displayFilterFrequency\":5000,\"displayFilterType\":\"HP\",\"displayMode\":\"Scope\",\"frameRate\":60,"
        "\"intensity\":2.5,\"kxScaleMode\":\"MIX\",\"name\":\"_lastSession\",\"speedSensitivity\":0.5,"
        "\"timePerDivision\":20,\"triggerChannel\":1,\"triggerEnabled\":false,\"triggerLevel\":-0.25,"
        "\"waveformGain\":3,\"xyGain\":4,\"xyRotation\":\"0\xC2\xB0\"}";
    const DisplaySettings expected{DisplayMode::waveform, 60, 512, 0.9f, 2.5f, 1.5f, 0.5f, XYRotation::deg0,
                                   BeamColorMode::amber, 4.0f, 20.0f, -0.25f, false, 1, 3.0f, KXScaleMode::mix,
                                   FilterType::highpass, 5000.0f, 1, 0.0f, ZInput::off};
    TempStore t;
    t.store->write(kSession, record);
    ScopeSettings s(t.store);
    s.setUpsampling(8);
    s.setGlow(1.0f);
    s.setZInput(ZInput::bipolar);
    s.loadLastSession();
    EXPECT_EQ(s.values(), expected);
    s.saveLastSession();
    QByteArray written = record;
    written.insert(written.indexOf("\"waveformGain\""), "\"upsampling\":1,");
    written.insert(written.indexOf("\"intensity\""), "\"glow\":0,");
    written.insert(written.lastIndexOf('}'), ",\"zInput\":\"off\"");
    EXPECT_EQ(t.store->read(kSession).value_or(""), written);
}

TEST(PreferencesStore, TheUsersFileHoldsUtf8Json)
{
    ScopeSettings s;  // the test main points the user's store at a private folder
    s.setXyRotation(XYRotation::deg0);
    s.saveLastSession();
    const QString path = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Orvalen/Orvalen.conf");
    const QByteArray stored = QSettings(path, QSettings::IniFormat).value(kSession).toByteArray();
    EXPECT_TRUE(stored.contains(R"("name":"_lastSession")") && stored.contains("\"0\xC2\xB0\"")) << stored.constData();
    EXPECT_FALSE(QSettingsStore(path + QStringLiteral("/Orvalen.conf")).write(kSession, "x")) << "no folder there";
}

// Changes a quarter interval apart, four settings and then a stream of meter
// values, give one save a quiet interval after the last; none comes sooner.
TEST(AutoSave, SavesOnceAQuietIntervalAfterTheLastChangeMetersIncluded)
{
    TempStore t;
    const auto& writes = t.store->writes;
    auto s = std::make_unique<ScopeSettings>(t.store);
    s->setAutoSaveInterval(200ms);
    s->saveLastSession();
    s->loadLastSession();
    s->startAutoSave();  // after the restore: its changes start no save
    s->startAutoSave();  // replaces the first
    QTest::qWait(400);
    EXPECT_EQ(writes.size(), 1u);
    size_t saves = 1;
    QTimer driver;
    int changes = 0;
    Clock::time_point last;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        // A save since the last change is early unless a stalled machine left a quiet interval.
        EXPECT_TRUE(writes.size() == saves || Clock::now() - last >= 200ms) << "saved while changes kept coming";
        saves = writes.size();
        changes < 4 ? s->setDecay(0.5f + 0.01f * float(changes)) : s->setRhythmMatchRate(float(changes));
        last = Clock::now();
        if (++changes == 24)
            driver.stop();
    });
    driver.start(50ms);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !driver.isActive(); }, 10000));
    QTest::qWait(600);
    ASSERT_EQ(writes.size(), saves + 1);
    const auto& [key, bytes, at] = writes.back();
    EXPECT_TRUE(key == kSession && at - last >= 200ms);
    EXPECT_EQ(decodePreset(bytes).value_or(Preset{}).decay, 0.53f);
    s->setDecay(0.6f);
    s.reset();
    QTest::qWait(400);
    EXPECT_EQ(writes.size(), saves + 1) << "ends with the settings";
}
