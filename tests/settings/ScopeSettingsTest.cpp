#include "settings/ScopeSettings.h"

#include "settings/StoreHelpers.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace {

// One published property: an assignment of a value other than the initial
// one, and whether the object holds that value.
struct Property {
    const char* name;
    std::function<void(ScopeSettings&)> assign;
    std::function<bool(const ScopeSettings&)> holdsAssigned;
};

QList<Preset> onePreset()
{
    Preset p;
    p.name = QStringLiteral("p");
    return {p};
}

std::vector<Property> allProperties()
{
#define PROP(getter, setter, value) \
    Property{#getter, [](ScopeSettings& s) { s.setter(value); }, [](const ScopeSettings& s) { return s.getter() == value; }}
    return {
        PROP(displayMode, setDisplayMode, DisplayMode::waveform), PROP(frameRate, setFrameRate, 60),
        PROP(audioBufferSize, setAudioBufferSize, 512), PROP(decay, setDecay, 0.9f),
        PROP(intensity, setIntensity, 2.5f), PROP(beamWidth, setBeamWidth, 1.5f),
        PROP(speedSensitivity, setSpeedSensitivity, 0.5f), PROP(xyRotation, setXyRotation, XYRotation::deg0),
        PROP(beamColorMode, setBeamColorMode, BeamColorMode::amber), PROP(xyGain, setXyGain, 4.0f),
        PROP(timePerDivision, setTimePerDivision, 20.0f), PROP(triggerLevel, setTriggerLevel, -0.25f),
        PROP(triggerEnabled, setTriggerEnabled, false), PROP(triggerChannel, setTriggerChannel, 1),
        PROP(waveformGain, setWaveformGain, 3.0f), PROP(displayFilterType, setDisplayFilterType, FilterType::highpass),
        PROP(displayFilterFrequency, setDisplayFilterFrequency, 5000.0f), PROP(scopeVisible, setScopeVisible, false),
        PROP(rhythmMatchRate, setRhythmMatchRate, 0.7f), PROP(expansionPressure, setExpansionPressure, 0.4f),
        PROP(kxScaleMode, setKxScaleMode, KXScaleMode::mix), PROP(signalDensity, setSignalDensity, 0.3f),
        PROP(envelopeCurvature, setEnvelopeCurvature, 0.2f), PROP(savedPresets, setSavedPresets, onePreset()),
    };
#undef PROP
}

}  // namespace

TEST(ScopeSettings, StartsWithTheInitialValuesAndReadsNothing)
{
    TempStore t;
    ScopeSettings::Preset stored = ScopeSettings(t.store).snapshot(QStringLiteral("_lastSession"));
    stored.decay = 0.9f;
    t.store->write(QStringLiteral("Orvalen.lastSession"), *encodePreset(stored));
    const ScopeSettings s(t.store);
    EXPECT_EQ(*encodePreset(s.snapshot(QStringLiteral("d"))),
              R"({"audioBufferSize":256,"beamColorMode":"Green","beamWidth":3.23,"decay":0.52,"displayFilterFrequency":1000,)"
              R"("displayFilterType":"OFF","displayMode":"XY","frameRate":120,"intensity":10,"kxScaleMode":"EDM","name":"d",)"
              R"("speedSensitivity":8.29,"timePerDivision":2,"triggerChannel":0,"triggerEnabled":true,"triggerLevel":1,)"
              R"("waveformGain":1,"xyGain":1,"xyRotation":"45)" "\xC2\xB0" R"("})");
    EXPECT_TRUE(s.scopeVisible());
    EXPECT_EQ(s.rhythmMatchRate() + s.expansionPressure() + s.signalDensity() + s.envelopeCurvature(), 0.0f);
    EXPECT_TRUE(s.savedPresets().isEmpty());
    EXPECT_FALSE(s.onFrameRateChanged || s.onResetAnalysis || s.autoSaveActive());
}

TEST(ScopeSettings, EveryAssignmentNotifiesOnceBeforeStoringEvenWithTheSameValue)
{
    for (const Property& property : allProperties()) {
        TempStore t;
        ScopeSettings s(t.store);
        int notifications = 0;
        bool storedBeforeNotification = false;
        QObject::connect(&s, &ScopeSettings::willChange, [&] {
            storedBeforeNotification = storedBeforeNotification || (++notifications == 1 && property.holdsAssigned(s));
        });
        // A queued listener, as the bridge and the panel connect, sees the new value.
        bool queuedSawValue = false;
        QObject::connect(&s, &ScopeSettings::willChange, &s, [&] { queuedSawValue = property.holdsAssigned(s); },
                         Qt::QueuedConnection);
        property.assign(s);
        EXPECT_EQ(notifications, 1) << property.name;
        EXPECT_FALSE(storedBeforeNotification) << property.name;
        EXPECT_TRUE(property.holdsAssigned(s)) << property.name;
        property.assign(s);
        EXPECT_EQ(notifications, 2) << property.name << ": same value again";
        QCoreApplication::processEvents();
        EXPECT_TRUE(queuedSawValue) << property.name;
    }
}

TEST(ScopeSettings, FrameRateHookGetsEveryAssignmentFromEveryPath)
{
    TempStore t;
    ScopeSettings s(t.store);
    s.setFrameRate(30);  // no hook: only stored
    EXPECT_EQ(s.frameRate(), 30);

    std::vector<int64_t> rates;
    s.onFrameRateChanged = [&](int64_t rate) {
        EXPECT_EQ(rate, s.frameRate()) << "called after storing";
        rates.push_back(rate);
    };
    s.setFrameRate(60);
    s.setFrameRate(60);
    s.resetToDefaults();
    ScopeSettings::Preset p = s.snapshot(QStringLiteral("p"));
    p.frameRate = 45;  // not one of the offered rates: taken as it is
    s.applyPreset(p);
    EXPECT_EQ(rates, (std::vector<int64_t>{60, 60, 120, 45}));

    bool resetCalled = false;
    s.onResetAnalysis = [&] { resetCalled = true; };
    s.resetToDefaults();
    s.applyPreset(p);
    EXPECT_FALSE(resetCalled) << "only the control panel invokes onResetAnalysis";

    s.onFrameRateChanged = [&](int64_t) { s.onFrameRateChanged = nullptr; };  // replaces itself while running
    s.setFrameRate(30);
    EXPECT_FALSE(s.onFrameRateChanged);
}

TEST(ScopeSettings, ResetToDefaultsRestoresTheSettingsOnly)
{
    TempStore t;
    ScopeSettings s(t.store);
    for (const Property& property : allProperties())
        property.assign(s);
    // Assigned in order: the display mode before the frame rate, the buffer size after.
    bool hookSawOrder = false;
    s.onFrameRateChanged = [&](int64_t rate) {
        hookSawOrder = rate == 120 && s.displayMode() == DisplayMode::xy && s.audioBufferSize() == 512;
    };
    int notifications = 0;
    QObject::connect(&s, &ScopeSettings::willChange, [&] { ++notifications; });
    s.resetToDefaults();
    EXPECT_TRUE(hookSawOrder);
    EXPECT_EQ(notifications, 18);
    EXPECT_EQ(s.snapshot({}), ScopeSettings(t.store).snapshot({}));
    EXPECT_FALSE(s.scopeVisible());
    EXPECT_EQ(s.rhythmMatchRate(), 0.7f);
    EXPECT_EQ(s.envelopeCurvature(), 0.2f);
    EXPECT_EQ(s.savedPresets().size(), 1);
    EXPECT_FALSE(t.store->read(QStringLiteral("Orvalen.lastSession")));
}

TEST(ScopeSettings, SamplesForDisplayCoversTenDivisionsAndSaturates)
{
    TempStore t;
    ScopeSettings s(t.store);
    EXPECT_EQ(s.samplesForDisplay(48000.0), 960);
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float msPerDiv;
        double rate;
        int64_t expected;
    };
    for (const Case& c : std::vector<Case>{{1, 48000, 480}, {5, 48000, 2400}, {10, 48000, 4800},
                                          {500, 48000, 240000}, {1e30f, 48000, kMax},
                                          {2, 1e300, kMax},  // beyond the float range: infinity
                                          {2, 1e21, kMax}, {-1e30f, 48000, kMin}, {-kInf, 48000, kMin},
                                          {2, -1e300, kMin}, {nan, 48000, 0}, {2, std::nan(""), 0},
                                          {kInf, 0, 0},  // inf × 0 is NaN
                                          {-2, 48000, -960}, {2, 0, 0}}) {
        s.setTimePerDivision(c.msPerDiv);
        EXPECT_EQ(s.samplesForDisplay(c.rate), c.expected) << c.msPerDiv << " ms at " << c.rate;
    }
}

TEST(ScopeSettings, OptionTablesHoldEveryDefaultAndTheColourFollowsItsMode)
{
    const auto has = [](const auto& table, auto value) {
        return std::find(table.begin(), table.end(), value) != table.end();
    };
    EXPECT_TRUE(has(ScopeSettings::frameRateOptions, 120));
    EXPECT_TRUE(has(ScopeSettings::bufferSizeOptions, 256));
    EXPECT_TRUE(has(ScopeSettings::timeDivOptions, 2.0f));
    EXPECT_TRUE(has(ScopeSettings::filterFreqOptions, 1000.0f));
    EXPECT_EQ(ScopeSettings::factoryFilterPresets[5].label, "Air (> 12kHz)");

    TempStore t;
    ScopeSettings s(t.store);
    EXPECT_EQ(s.beamColor(), (BeamColor{0.2f, 1.0f, 0.3f}));
    s.setBeamColorMode(BeamColorMode::amber);
    EXPECT_EQ(s.beamColor(), (BeamColor{1.0f, 0.75f, 0.2f}));
    s.setBeamColorMode(BeamColorMode::blue);
    EXPECT_EQ(s.beamColor(), (BeamColor{0.3f, 0.6f, 1.0f}));
}
