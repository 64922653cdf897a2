#include "settings/ScopeSettings.h"

#include "settings/StoreHelpers.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QFile>
#include <QSettings>

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <sys/stat.h>

namespace {

const QString kPresets = QStringLiteral("Orvalen.presets");
const QString kSession = QStringLiteral("Orvalen.lastSession");

QStringList names(const ScopeSettings& s)
{
    QStringList out;
    for (const auto& p : s.savedPresets())
        out << p.name;
    return out;
}

QStringList storedNames(PreferencesStore& store)
{
    QStringList out;
    if (const auto blob = store.read(kPresets))
        for (const auto& p : decodePresetList(*blob).value_or(QList<Preset>{}))
            out << p.name;
    return out;
}

void storeRaw(const QString& path, const QString& key, const QVariant& value)
{
    QSettings raw(path, QSettings::IniFormat);
    raw.setValue(key, value);
    raw.sync();
    ASSERT_EQ(raw.status(), QSettings::NoError);
}

ino_t inode(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

// Every setting set away from its initial value, with awkward Floats.
void setUnusualValues(ScopeSettings& s)
{
    s.setDisplayMode(DisplayMode::waveform);
    s.setFrameRate(-7);
    s.setAudioBufferSize(1'000'000'000'000);
    s.setDecay(std::numeric_limits<float>::denorm_min());
    s.setIntensity(-0.0f);
    s.setBeamWidth(std::numeric_limits<float>::max());
    s.setSpeedSensitivity(0.1f);
    s.setXyRotation(XYRotation::deg0);
    s.setBeamColorMode(BeamColorMode::blue);
    s.setXyGain(1.0f / 3.0f);
    s.setTimePerDivision(500.0f);
    s.setTriggerLevel(-0.999999f);
    s.setTriggerEnabled(false);
    s.setTriggerChannel(std::numeric_limits<int64_t>::min());
    s.setWaveformGain(9.87654f);
    s.setKxScaleMode(KXScaleMode::rock);
    s.setDisplayFilterType(FilterType::bandpass);
    s.setDisplayFilterFrequency(12345.678f);
}

bool sameBits(const Preset& a, const Preset& b)
{
    const auto bits = [](const Preset& p) {
        return std::vector<uint32_t>{std::bit_cast<uint32_t>(p.decay), std::bit_cast<uint32_t>(p.intensity),
                                     std::bit_cast<uint32_t>(p.beamWidth), std::bit_cast<uint32_t>(p.speedSensitivity),
                                     std::bit_cast<uint32_t>(p.xyGain), std::bit_cast<uint32_t>(p.timePerDivision),
                                     std::bit_cast<uint32_t>(p.triggerLevel), std::bit_cast<uint32_t>(p.waveformGain),
                                     std::bit_cast<uint32_t>(*p.displayFilterFrequency)};
    };
    return a == b && bits(a) == bits(b);
}

}  // namespace

TEST(Presets, SavingReplacesSameNameAndSortsCaseInsensitivelyAndStably)
{
    TempStore t;
    ScopeSettings s(t.store);
    for (const char* name : {"b", "A", "c"})
        s.savePreset(QString::fromUtf8(name));
    EXPECT_EQ(names(s), (QStringList{"A", "b", "c"}));

    s.setDecay(0.9f);
    s.savePreset(QStringLiteral("b"));
    s.savePreset(QStringLiteral("a"));  // differs from "A" only in case: both kept, the later after
    s.savePreset(QStringLiteral("Caf\u00E9"));
    s.savePreset(QStringLiteral("Cafe\u0301"));  // canonically equal: replaces
    EXPECT_EQ(names(s), (QStringList{"A", "a", "b", "c", QStringLiteral("Cafe\u0301")}));
    EXPECT_EQ(s.savedPresets()[2].decay, 0.9f) << "one \"b\", holding the later values";
    EXPECT_EQ(storedNames(*t.store), names(s));

    int notifications = 0;
    QObject::connect(&s, &ScopeSettings::willChange, [&] { ++notifications; });
    s.savePreset(QStringLiteral("d"));
    EXPECT_EQ(notifications, 3) << "remove, append and sort each publish the list";
}

TEST(Presets, DeletingRemovesEveryPresetOfTheNameAndAlwaysPersists)
{
    TempStore t;
    auto recording = std::make_shared<RecordingStore>(t.store);
    ScopeSettings s(recording);
    const Preset p = s.snapshot(QStringLiteral("twice"));
    s.setSavedPresets({p, s.snapshot(QStringLiteral("other")), p});
    s.persistPresets();
    s.deletePreset(QStringLiteral("twice"));
    EXPECT_EQ(names(s), QStringList{"other"});
    EXPECT_EQ(storedNames(*t.store), QStringList{"other"});

    const QByteArray before = *t.store->read(kPresets);
    const size_t writes = recording->writes.size();
    s.deletePreset(QStringLiteral("missing"));
    EXPECT_EQ(recording->writes.size(), writes + 1) << "rewritten";
    EXPECT_EQ(*t.store->read(kPresets), before) << "unchanged";
}

TEST(Presets, ApplyingTakesNumbersAsTheyAreAndSkipsUnknownCases)
{
    TempStore t;
    ScopeSettings s(t.store);
    setUnusualValues(s);
    ScopeSettings target(t.store);
    target.setScopeVisible(false);
    target.setSignalDensity(0.5f);
    EXPECT_EQ(names(target), QStringList{});
    target.applyPreset(s.snapshot(QStringLiteral("ignored")));
    EXPECT_TRUE(sameBits(target.snapshot({}), s.snapshot({})));
    EXPECT_FALSE(target.scopeVisible());
    EXPECT_EQ(target.signalDensity(), 0.5f);

    Preset odd = s.snapshot({});
    odd.displayMode = QStringLiteral("xy");
    odd.xyRotation = QStringLiteral("90\u00B0");
    odd.beamColorMode = QStringLiteral("Purple");
    odd.kxScaleMode = QString();
    odd.displayFilterType = QStringLiteral("bp");
    odd.frameRate = 1'000'000'000;
    ScopeSettings fresh(t.store);
    fresh.setDisplayFilterType(FilterType::lowpass);
    fresh.applyPreset(odd);
    EXPECT_EQ(fresh.displayMode(), DisplayMode::xy);
    EXPECT_EQ(fresh.xyRotation(), XYRotation::deg45);
    EXPECT_EQ(fresh.beamColorMode(), BeamColorMode::green);
    EXPECT_EQ(fresh.kxScaleMode(), KXScaleMode::edm);
    EXPECT_EQ(fresh.displayFilterType(), FilterType::off) << "an unknown filter turns it off";
    EXPECT_EQ(fresh.frameRate(), 1'000'000'000);
    EXPECT_EQ(fresh.triggerChannel(), std::numeric_limits<int64_t>::min());

    odd.displayFilterType = QStringLiteral("BP");
    odd.displayFilterFrequency = 300.0f;
    fresh.applyPreset(odd);
    EXPECT_EQ(fresh.displayFilterType(), FilterType::bandpass);
    EXPECT_EQ(fresh.displayFilterFrequency(), 300.0f);
}

TEST(Presets, EverySettingRoundTripsThroughTheStoreBitExactly)
{
    TempStore t;
    ScopeSettings s(t.store);
    setUnusualValues(s);
    s.savePreset(QStringLiteral("p"));
    s.saveLastSession();

    ScopeSettings restored(t.store);
    restored.loadLastSession();
    EXPECT_TRUE(sameBits(restored.snapshot({}), s.snapshot({})));
    ASSERT_EQ(restored.savedPresets().size(), 1);
    EXPECT_TRUE(sameBits(restored.savedPresets()[0], s.snapshot(QStringLiteral("p"))));
}

TEST(Presets, AnUnreadableRecordLeavesTheListAndTheStoredBlobAlone)
{
    TempStore t;
    ScopeSettings writer(t.store);
    writer.savePreset(QStringLiteral("kept"));
    QByteArray blob = *encodePresetList({writer.snapshot(QStringLiteral("one")), writer.snapshot(QStringLiteral("two"))});
    blob.replace("\"xyGain\":1,", "");
    storeRaw(t.path, kPresets, blob);

    ScopeSettings s(t.store);
    s.setSavedPresets({s.snapshot(QStringLiteral("in memory"))});
    s.loadLastSession();
    EXPECT_EQ(names(s), QStringList{"in memory"});
    EXPECT_EQ(*t.store->read(kPresets), blob) << "untouched until the next save";
    s.savePreset(QStringLiteral("new"));
    EXPECT_EQ(storedNames(*t.store), (QStringList{"in memory", "new"}));
}

TEST(Presets, ARecordWithoutTheFilterKeysLoadsAndTurnsTheFilterOff)
{
    TempStore t;
    ScopeSettings writer(t.store);
    writer.setDecay(0.77f);
    QJsonObject record = *presetToJson(writer.snapshot(QStringLiteral("old")));
    record.remove(QStringLiteral("displayFilterType"));
    record.remove(QStringLiteral("displayFilterFrequency"));
    storeRaw(t.path, kPresets, QJsonDocument(QJsonArray{record}).toJson());

    ScopeSettings s(t.store);
    s.loadPresets();
    ASSERT_EQ(names(s), QStringList{"old"});
    s.setDisplayFilterType(FilterType::highpass);
    s.setDisplayFilterFrequency(440.0f);
    s.applyPreset(s.savedPresets()[0]);
    EXPECT_EQ(s.displayFilterType(), FilterType::off);
    EXPECT_EQ(s.displayFilterFrequency(), 440.0f);
    EXPECT_EQ(s.decay(), 0.77f);
}

TEST(Presets, ABadLastSessionKeepsInitialValuesButLoadsThePresets)
{
    TempStore t;
    ScopeSettings writer(t.store);
    writer.savePreset(QStringLiteral("p"));
    setUnusualValues(writer);
    QByteArray session = *encodePreset(writer.snapshot(QStringLiteral("_lastSession")));
    for (const QVariant& bad : {QVariant(QByteArray("[]")), QVariant(QByteArray("{")), QVariant(QString::fromUtf8(session)),
                                QVariant(42), QVariant(QByteArray(session).replace("\"name\"", "\"nom\""))}) {
        storeRaw(t.path, kSession, bad);
        ScopeSettings s(t.store);
        s.loadLastSession();
        EXPECT_EQ(names(s), QStringList{"p"});
        EXPECT_EQ(s.displayMode(), DisplayMode::xy) << bad.toString().left(30).toStdString();
    }
    // An unknown colour alone: everything else is restored.
    storeRaw(t.path, kSession, session.replace("\"Blue\"", "\"Teal\""));
    ScopeSettings s(t.store);
    s.setBeamColorMode(BeamColorMode::amber);
    s.loadLastSession();
    EXPECT_EQ(s.beamColorMode(), BeamColorMode::amber);
    EXPECT_EQ(s.displayMode(), DisplayMode::waveform);
    EXPECT_EQ(s.decay(), std::numeric_limits<float>::denorm_min());
}

TEST(Presets, NonFiniteValuesAreNeverWrittenAndTheStoredValueStays)
{
    TempStore t;
    ScopeSettings s(t.store);
    s.savePreset(QStringLiteral("good"));
    s.saveLastSession();
    const QByteArray presets = *t.store->read(kPresets);
    const QByteArray session = *t.store->read(kSession);

    s.setTriggerLevel(std::numeric_limits<float>::quiet_NaN());
    s.saveLastSession();
    s.savePreset(QStringLiteral("bad"));
    EXPECT_EQ(*t.store->read(kSession), session);
    EXPECT_EQ(*t.store->read(kPresets), presets);
    EXPECT_EQ(names(s), (QStringList{"bad", "good"})) << "kept in memory";

    s.setTriggerLevel(0.5f);
    s.savePreset(QStringLiteral("fine"));  // still fails: the list holds "bad"
    EXPECT_EQ(*t.store->read(kPresets), presets);
    s.deletePreset(QStringLiteral("bad"));
    EXPECT_EQ(storedNames(*t.store), (QStringList{"fine", "good"}));
}

TEST(Presets, AFailedWriteKeepsUnsavedPresetsForTheNextSave)
{
    TempStore t;
    auto flaky = std::make_shared<RecordingStore>(t.store);
    ScopeSettings s(flaky);
    s.savePreset(QStringLiteral("stored"));
    flaky->failWrites = true;
    s.savePreset(QStringLiteral("unsaved"));
    flaky->failWrites = false;
    s.savePreset(QStringLiteral("later"));
    EXPECT_EQ(storedNames(*t.store), (QStringList{"later", "stored", "unsaved"}));
}

TEST(Presets, TwoInstancesSavingKeepEachOthersPresets)
{
    TempStore t;
    ScopeSettings first(t.store);
    ScopeSettings second(std::make_shared<QSettingsStore>(t.path));
    first.loadLastSession();
    second.loadLastSession();
    first.savePreset(QStringLiteral("one"));
    second.savePreset(QStringLiteral("two"));
    first.savePreset(QStringLiteral("three"));
    second.deletePreset(QStringLiteral("one"));
    first.saveLastSession();
    EXPECT_EQ(storedNames(*t.store), (QStringList{"three", "two"}));
    EXPECT_EQ(names(second), (QStringList{"three", "two"}));
}

TEST(PreferencesStore, ValuesAreUtf8JsonByteBlobsInTheUsersOrvalenFile)
{
    // The test main points XDG_CONFIG_HOME at a private folder.
    const QString expected = QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("Orvalen/Orvalen.conf");
    ASSERT_FALSE(qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty());
    EXPECT_EQ(QSettingsStore().fileName(), expected);
    ScopeSettings s;
    s.setXyRotation(XYRotation::deg0);
    s.savePreset(QStringLiteral("\u00C5"));
    s.saveLastSession();

    QSettings raw(QStringLiteral("Orvalen"), QStringLiteral("Orvalen"));
    EXPECT_EQ(raw.fileName(), expected);
    const QVariant session = raw.value(kSession);
    ASSERT_EQ(session.typeId(), QMetaType::QByteArray);
    EXPECT_TRUE(session.toByteArray().contains("\"name\":\"_lastSession\""));
    EXPECT_TRUE(session.toByteArray().contains("\"0\xC2\xB0\""));
    EXPECT_TRUE(raw.value(kPresets).toByteArray().contains("\"name\":\"\xC3\x85\""));
}

TEST(PreferencesStore, WritesReplaceTheFileAtomicallyAndKeepOtherKeys)
{
    TempStore t;
    storeRaw(t.path, QStringLiteral("other/key"), QStringLiteral("kept"));
    ScopeSettings s(t.store);
    s.savePreset(QStringLiteral("p"));
    const ino_t before = inode(t.path);
    s.saveLastSession();
    EXPECT_NE(inode(t.path), before) << "a new file renamed over the old one, not rewritten in place";
    EXPECT_EQ(QDir(t.dir.path()).entryList(QDir::Files), QStringList{"Orvalen.conf"}) << "no temporary or lock left";
    EXPECT_EQ(QSettings(t.path, QSettings::IniFormat).value("other/key").toString(), "kept");
    EXPECT_EQ(storedNames(*t.store), QStringList{"p"});
}

TEST(PreferencesStore, CorruptOrUnwritableFilesFailSafely)
{
    TempStore t;
    QFile garbage(t.path);
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray("[General\n\x00\xFF=\"@ByteArray(\n;\\", 20) + QByteArray(1000, '\x7F'));
    garbage.close();
    ScopeSettings s(t.store);
    s.loadLastSession();
    EXPECT_TRUE(s.savedPresets().isEmpty());
    s.savePreset(QStringLiteral("p"));
    EXPECT_EQ(storedNames(*t.store), QStringList{"p"});
    EXPECT_EQ(QSettings(t.path, QSettings::IniFormat).status(), QSettings::NoError) << "rewritten cleanly";

    // A folder that cannot exist: a file stands where it should be.
    QFile blocker(t.dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto unwritable = std::make_shared<QSettingsStore>(t.dir.filePath("blocker/Orvalen.conf"));
    ScopeSettings u(unwritable);
    QElapsedTimer clock;
    clock.start();
    u.savePreset(QStringLiteral("a"));
    u.savePreset(QStringLiteral("b"));
    u.saveLastSession();
    EXPECT_LT(clock.elapsed(), 1000) << "no waiting for a lock that cannot exist";
    EXPECT_EQ(names(u), (QStringList{"a", "b"})) << "kept in memory";
    EXPECT_FALSE(QFile::exists(t.dir.filePath("blocker/Orvalen.conf")));
    EXPECT_FALSE(unwritable->write(kSession, "x"));
}
