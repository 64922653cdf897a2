#include "settings/ScopeSettings.h"

#include "settings/StoreHelpers.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <sys/stat.h>

namespace {

const QString kPresets = QStringLiteral("Orvalen.presets");
const QString kSession = QStringLiteral("Orvalen.lastSession");

QStringList names(const QList<Preset>& presets)
{
    QStringList out;
    for (const auto& p : presets)
        out << p.name;
    return out;
}

QStringList storedNames(PreferencesStore& store)
{
    return names(decodePresetList(store.read(kPresets).value_or("")).value_or(QList<Preset>{}));
}

void storeRaw(const QString& path, const QString& key, const QVariant& value)
{
    QSettings raw(path, QSettings::IniFormat);
    raw.setValue(key, value);
    raw.sync();
    ASSERT_EQ(raw.status(), QSettings::NoError);
}

// Every persisted setting away from its initial value, with awkward Floats.
Preset unusualPreset()
{
    using F = std::numeric_limits<float>;
    return {QStringLiteral("unusual"), QStringLiteral("Scope"), -7, 1'000'000'000'000, F::denorm_min(), -0.0f,
            F::max(), 0.1f, QStringLiteral("0\u00B0"), QStringLiteral("Blue"), 1.0f / 3.0f, 500.0f, -0.999999f,
            false, std::numeric_limits<int64_t>::min(), 9.87654f, QStringLiteral("ROCK"), QStringLiteral("BP"),
            12345.678f};
}

bool sameBits(const Preset& a, const Preset& b)
{
    for (float Preset::*field : {&Preset::decay, &Preset::intensity, &Preset::beamWidth, &Preset::speedSensitivity,
                                 &Preset::xyGain, &Preset::timePerDivision, &Preset::triggerLevel, &Preset::waveformGain})
        if (std::bit_cast<uint32_t>(a.*field) != std::bit_cast<uint32_t>(b.*field))
            return false;
    return a == b && std::bit_cast<uint32_t>(*a.displayFilterFrequency) == std::bit_cast<uint32_t>(*b.displayFilterFrequency);
}

}  // namespace

TEST(Presets, SavingReplacesSameNameAndSortsCaseInsensitivelyAndStably)
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
    EXPECT_EQ(storedNames(*t.store), QStringList{"other"});

    const QByteArray before = *t.store->read(kPresets);
    recording->writes.clear();
    s.deletePreset(QStringLiteral("missing"));
    EXPECT_EQ(recording->writes.size(), 1u) << "rewritten";
    EXPECT_EQ(*t.store->read(kPresets), before) << "unchanged";
}

TEST(Presets, ApplyingTakesNumbersAsTheyAreAndSkipsUnknownCases)
{
    TempStore t;
    ScopeSettings s(t.store);
    s.setScopeVisible(false);
    s.applyPreset(unusualPreset());
    EXPECT_TRUE(sameBits(s.snapshot(QStringLiteral("unusual")), unusualPreset()));
    EXPECT_FALSE(s.scopeVisible());

    Preset odd = unusualPreset();
    odd.displayMode = QStringLiteral("xy");
    odd.xyRotation = QStringLiteral("90\u00B0");
    odd.beamColorMode = QStringLiteral("Purple");
    odd.kxScaleMode = QString();
    odd.displayFilterType = QStringLiteral("bp");
    odd.displayFilterFrequency.reset();
    odd.frameRate = 1'000'000'000;
    ScopeSettings fresh(t.store);
    fresh.applyPreset(odd);
    EXPECT_EQ(fresh.displayMode(), DisplayMode::xy);
    EXPECT_EQ(fresh.xyRotation(), XYRotation::deg45);
    EXPECT_EQ(fresh.beamColorMode(), BeamColorMode::green);
    EXPECT_EQ(fresh.kxScaleMode(), KXScaleMode::edm);
    EXPECT_EQ(fresh.displayFilterType(), FilterType::off) << "an unknown filter turns it off";
    EXPECT_EQ(fresh.displayFilterFrequency(), 1000.0f) << "no frequency: unchanged";
    EXPECT_EQ(fresh.frameRate(), 1'000'000'000);

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
    s.applyPreset(unusualPreset());
    s.savePreset(QStringLiteral("unusual"));
    s.saveLastSession();

    ScopeSettings restored(t.store);
    restored.loadLastSession();
    EXPECT_TRUE(sameBits(restored.snapshot(QStringLiteral("unusual")), unusualPreset()));
    ASSERT_EQ(restored.savedPresets().size(), 1);
    EXPECT_TRUE(sameBits(restored.savedPresets()[0], unusualPreset()));
}

TEST(Presets, AnUnreadableListLeavesMemoryAndTheStoredBlobAlone)
{
    TempStore t;
    ScopeSettings writer(t.store);
    QByteArray withoutGain = *encodePresetList({writer.snapshot(QStringLiteral("one")), writer.snapshot("two")});
    withoutGain.replace("\"xyGain\":1,", "");
    QByteArray tooBig = *encodePresetList({writer.snapshot(QStringLiteral("one"))});
    tooBig.replace("\"decay\":0.52", "\"decay\":1e39");
    for (const QVariant& bad : {QVariant(withoutGain), QVariant(tooBig), QVariant(QByteArray("{\"a\":1e999}")),
                                QVariant(QString::fromUtf8(*encodePresetList({writer.snapshot("string")})))}) {
        storeRaw(t.path, kPresets, bad);
        ScopeSettings s(t.store);
        s.setSavedPresets({s.snapshot(QStringLiteral("in memory"))});
        s.loadLastSession();
        EXPECT_EQ(names(s.savedPresets()), QStringList{"in memory"});
        EXPECT_EQ(QSettings(t.path, QSettings::IniFormat).value(kPresets), bad) << "untouched until the next save";
    }
    ScopeSettings s(t.store);
    s.savePreset(QStringLiteral("new"));
    EXPECT_EQ(storedNames(*t.store), QStringList{"new"});
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
    ASSERT_EQ(names(s.savedPresets()), QStringList{"old"});
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
    writer.applyPreset(unusualPreset());
    QByteArray session = *encodePreset(writer.snapshot(QStringLiteral("_lastSession")));
    for (const QVariant& bad : {QVariant(QByteArray("[]")), QVariant(QByteArray("{")), QVariant(QString::fromUtf8(session)),
                                QVariant(42), QVariant(QByteArray(session).replace("\"name\"", "\"nom\""))}) {
        storeRaw(t.path, kSession, bad);
        ScopeSettings s(t.store);
        s.loadLastSession();
        EXPECT_EQ(names(s.savedPresets()), QStringList{"p"});
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
    EXPECT_EQ(names(s.savedPresets()), (QStringList{"bad", "good"})) << "kept in memory";

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

TEST(PreferencesStore, ValuesAreUtf8JsonByteBlobsInTheUsersOrvalenFile)
{
    // The test main points XDG_CONFIG_HOME at a private folder.
    ASSERT_FALSE(qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty());
    const QString expected = QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("Orvalen/Orvalen.conf");
    EXPECT_EQ(QSettingsStore().fileName(), expected);
    ScopeSettings s;
    s.setXyRotation(XYRotation::deg0);
    s.savePreset(QStringLiteral("\u00C5"));
    s.saveLastSession();

    const QVariant session = QSettings(expected, QSettings::IniFormat).value(kSession);
    ASSERT_EQ(session.typeId(), QMetaType::QByteArray);
    EXPECT_TRUE(session.toByteArray().contains("\"name\":\"_lastSession\""));
    EXPECT_TRUE(session.toByteArray().contains("\"0\xC2\xB0\""));
    EXPECT_TRUE(QSettings(expected, QSettings::IniFormat).value(kPresets).toByteArray().contains("\"\xC3\x85\""));
}

TEST(PreferencesStore, WritesReplaceTheFileAtomicallyAndKeepOtherKeys)
{
    TempStore t;
    storeRaw(t.path, QStringLiteral("other/key"), QStringLiteral("kept"));
    ScopeSettings s(t.store);
    s.savePreset(QStringLiteral("p"));
    const auto inode = [&] {
        struct stat info {};
        return ::stat(QFile::encodeName(t.path).constData(), &info) == 0 ? info.st_ino : 0;
    };
    const ino_t before = inode();
    s.saveLastSession();
    EXPECT_NE(inode(), before) << "a new file put in place of the old one, not rewritten in place";
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
    EXPECT_EQ(names(u.savedPresets()), (QStringList{"a", "b"})) << "kept in memory";
    EXPECT_FALSE(unwritable->write(kSession, "x"));
    EXPECT_FALSE(QFile::exists(t.dir.filePath("blocker/Orvalen.conf")));
}
