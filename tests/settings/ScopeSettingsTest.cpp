#include "settings/ScopeSettings.h"

#include "settings/StoreHelpers.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <string>

namespace {

// One published property: an assignment of a value other than the initial
// one, and whether the object holds that value.
struct Property {
    std::string name;
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
        PROP(envelopeCurvature, setEnvelopeCurvature, 0.2f),
        PROP(savedPresets, setSavedPresets, onePreset()),
    };
#undef PROP
}

// The persisted fields as text, to tell which one an assignment changed.
std::map<std::string, QString> persistedFields(const ScopeSettings& s)
{
    const ScopeSettings::Preset p = s.snapshot({});
    const auto num = [](double v) { return QString::number(v, 'g', 10); };
    return {{"displayMode", p.displayMode}, {"frameRate", num(p.frameRate)},
            {"audioBufferSize", num(p.audioBufferSize)}, {"decay", num(p.decay)},
            {"intensity", num(p.intensity)}, {"beamWidth", num(p.beamWidth)},
            {"speedSensitivity", num(p.speedSensitivity)}, {"xyRotation", p.xyRotation},
            {"beamColorMode", p.beamColorMode}, {"xyGain", num(p.xyGain)},
            {"timePerDivision", num(p.timePerDivision)}, {"triggerLevel", num(p.triggerLevel)},
            {"triggerEnabled", num(p.triggerEnabled)}, {"triggerChannel", num(p.triggerChannel)},
            {"waveformGain", num(p.waveformGain)}, {"kxScaleMode", p.kxScaleMode},
            {"displayFilterType", *p.displayFilterType}, {"displayFilterFrequency", num(*p.displayFilterFrequency)}};
}

// Runs `action` and returns the names of the fields in the order they were
// stored, from a snapshot taken at every (pre-store) notification.
std::vector<std::string> assignmentOrder(ScopeSettings& s, const std::function<void()>& action)
{
    std::vector<std::map<std::string, QString>> states;
    auto c = QObject::connect(&s, &ScopeSettings::willChange, [&] { states.push_back(persistedFields(s)); });
    action();
    QObject::disconnect(c);
    states.push_back(persistedFields(s));
    std::vector<std::string> order;
    for (size_t i = 1; i < states.size(); ++i)
        for (const auto& [name, value] : states[i])
            if (states[i - 1].at(name) != value)
                order.push_back(name);
    return order;
}

const std::vector<std::string> kAssignmentOrder = {
    "displayMode", "frameRate", "audioBufferSize", "decay", "intensity", "beamWidth",
    "speedSensitivity", "xyRotation", "beamColorMode", "xyGain", "timePerDivision", "triggerLevel",
    "triggerEnabled", "triggerChannel", "waveformGain", "kxScaleMode", "displayFilterType",
    "displayFilterFrequency"};

}  // namespace

TEST(ScopeSettings, StartsWithTheInitialValues)
{
    TempStore t;
    const ScopeSettings s(t.store);
    EXPECT_EQ(s.displayMode(), DisplayMode::xy);
    EXPECT_EQ(s.frameRate(), 120);
    EXPECT_EQ(s.audioBufferSize(), 256);
    EXPECT_EQ(s.decay(), 0.52f);
    EXPECT_EQ(s.intensity(), 10.0f);
    EXPECT_EQ(s.beamWidth(), 3.23f);
    EXPECT_EQ(s.speedSensitivity(), 8.29f);
    EXPECT_EQ(s.xyRotation(), XYRotation::deg45);
    EXPECT_EQ(s.beamColorMode(), BeamColorMode::green);
    EXPECT_EQ(s.timePerDivision(), 2.0f);
    EXPECT_EQ(s.triggerLevel(), 1.0f);
    EXPECT_TRUE(s.triggerEnabled());
    EXPECT_EQ(s.triggerChannel(), 0);
    EXPECT_EQ(s.displayFilterType(), FilterType::off);
    EXPECT_EQ(s.displayFilterFrequency(), 1000.0f);
    EXPECT_TRUE(s.scopeVisible());
    EXPECT_EQ(s.kxScaleMode(), KXScaleMode::edm);
    EXPECT_EQ(s.rhythmMatchRate() + s.expansionPressure() + s.signalDensity() + s.envelopeCurvature(), 0.0f);
    EXPECT_TRUE(s.savedPresets().isEmpty());
    EXPECT_FALSE(s.onFrameRateChanged || s.onResetAnalysis || s.autoSaveActive());
    EXPECT_FALSE(t.store->read(QStringLiteral("Orvalen.lastSession"))) << "construction reads and writes nothing";
}

TEST(ScopeSettings, EveryAssignmentNotifiesOnceBeforeStoringEvenWithTheSameValue)
{
    for (const Property& property : allProperties()) {
        TempStore t;
        ScopeSettings s(t.store);
        int notifications = 0;
        bool storedBeforeNotification = false;
        QObject::connect(&s, &ScopeSettings::willChange, [&] {
            ++notifications;
            storedBeforeNotification = storedBeforeNotification || (notifications == 1 && property.holdsAssigned(s));
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

    // A hook that replaces itself while it runs.
    s.onFrameRateChanged = [&](int64_t) { s.onFrameRateChanged = nullptr; };
    s.setFrameRate(30);
    EXPECT_FALSE(s.onFrameRateChanged);
}

TEST(ScopeSettings, ResetToDefaultsAssignsInOrderAndLeavesTheRestAlone)
{
    TempStore t;
    ScopeSettings s(t.store);
    for (const Property& property : allProperties())
        property.assign(s);
    int64_t hookRate = 0;
    s.onFrameRateChanged = [&](int64_t rate) { hookRate = rate; };

    EXPECT_EQ(assignmentOrder(s, [&] { s.resetToDefaults(); }), kAssignmentOrder);
    EXPECT_EQ(hookRate, 120);
    EXPECT_EQ(persistedFields(s), persistedFields(ScopeSettings(t.store)));
    EXPECT_FALSE(s.scopeVisible());
    EXPECT_EQ(s.rhythmMatchRate(), 0.7f);
    EXPECT_EQ(s.envelopeCurvature(), 0.2f);
    EXPECT_EQ(s.savedPresets().size(), 1);
    EXPECT_FALSE(t.store->read(QStringLiteral("Orvalen.lastSession")));
}

TEST(ScopeSettings, SamplesForDisplayCoversTenDivisions)
{
    TempStore t;
    ScopeSettings s(t.store);
    EXPECT_EQ(s.samplesForDisplay(48000.0), 960);
    const std::vector<std::pair<float, int64_t>> cases = {{1, 480}, {5, 2400}, {10, 4800}, {500, 240000}};
    for (auto [msPerDiv, samples] : cases) {
        s.setTimePerDivision(msPerDiv);
        EXPECT_EQ(s.samplesForDisplay(48000.0), samples) << msPerDiv;
    }
}

TEST(ScopeSettings, SamplesForDisplaySaturatesInsteadOfOverflowing)
{
    TempStore t;
    ScopeSettings s(t.store);
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float msPerDiv;
        double rate;
        int64_t expected;
    };
    for (const Case& c : std::vector<Case>{{1e30f, 48000, kMax},
                                          {2, 1e300, kMax},  // beyond the float range: infinity
                                          {2, 1e21, kMax},
                                          {-1e30f, 48000, kMin},
                                          {-kInf, 48000, kMin},
                                          {2, -1e300, kMin},
                                          {nan, 48000, 0},
                                          {2, std::nan(""), 0},
                                          {kInf, 0, 0},  // inf × 0 is NaN
                                          {-2, 48000, -960},
                                          {2, 0, 0}}) {
        s.setTimePerDivision(c.msPerDiv);
        EXPECT_EQ(s.samplesForDisplay(c.rate), c.expected) << c.msPerDiv << " ms at " << c.rate;
    }
}

TEST(ScopeSettings, OptionTablesHoldEveryDefault)
{
    const auto has = [](const auto& table, auto value) {
        return std::find(table.begin(), table.end(), value) != table.end();
    };
    EXPECT_TRUE(has(ScopeSettings::frameRateOptions, 120));
    EXPECT_TRUE(has(ScopeSettings::bufferSizeOptions, 256));
    EXPECT_TRUE(has(ScopeSettings::timeDivOptions, 2.0f));
    EXPECT_TRUE(has(ScopeSettings::filterFreqOptions, 1000.0f));
    EXPECT_TRUE(std::is_sorted(ScopeSettings::filterFreqOptions.begin(), ScopeSettings::filterFreqOptions.end()));
    EXPECT_EQ(ScopeSettings::factoryFilterPresets[0].label, "Sub Bass (< 100Hz)");
    EXPECT_EQ(ScopeSettings::factoryFilterPresets[5].type, FilterType::highpass);
    EXPECT_EQ(ScopeSettings::factoryFilterPresets[5].frequency, 12000.0f);

    TempStore t;
    ScopeSettings s(t.store);
    s.setBeamColorMode(BeamColorMode::blue);
    EXPECT_EQ(s.beamColor(), beamColorFor(BeamColorMode::blue));
}
