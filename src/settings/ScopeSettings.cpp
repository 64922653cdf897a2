#include "settings/ScopeSettings.h"

#include "settings/FloatConversion.h"

#include <QCollator>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

const QString kPresetsKey = QStringLiteral("Orvalen.presets");
const QString kLastSessionKey = QStringLiteral("Orvalen.lastSession");
const QString kLastSessionName = QStringLiteral("_lastSession");

}  // namespace

// The debounced auto-save: every change notification restarts a single-shot
// timer, whose timeout saves the last session. Precise timing, because a
// coarse timer may fire up to 5 % early, i.e. while changes still arrive.
class AutoSaveSubscription {
public:
    AutoSaveSubscription(ScopeSettings* settings, std::chrono::milliseconds interval)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(interval);
        QObject::connect(&m_timer, &QTimer::timeout, [weak = QPointer<ScopeSettings>(settings)] {
            if (weak)
                weak->saveLastSession();
        });
        // Direct: the restart must happen at the notification itself. The
        // connection dies with the timer, i.e. with this subscription.
        QObject::connect(settings, &ScopeSettings::willChange, &m_timer, qOverload<>(&QTimer::start));
    }

    void setInterval(std::chrono::milliseconds interval) { m_timer.setInterval(interval); }

private:
    QTimer m_timer;
};

ScopeSettings::ScopeSettings(QObject* parent) : ScopeSettings(std::make_shared<QSettingsStore>(), parent) {}

ScopeSettings::ScopeSettings(std::shared_ptr<PreferencesStore> store, QObject* parent)
    : QObject(parent), m_store(std::move(store))
{
}

ScopeSettings::~ScopeSettings() = default;

void ScopeSettings::setDisplayMode(DisplayMode value) { emit willChange(); m_displayMode = value; }

void ScopeSettings::setFrameRate(int64_t value)
{
    emit willChange();
    m_frameRate = value;
    // A copy: the hook may replace itself while it runs.
    if (const std::function<void(int64_t)> hook = onFrameRateChanged)
        hook(m_frameRate);
}

void ScopeSettings::setAudioBufferSize(int64_t value) { emit willChange(); m_audioBufferSize = value; }
void ScopeSettings::setDecay(float value) { emit willChange(); m_decay = value; }
void ScopeSettings::setIntensity(float value) { emit willChange(); m_intensity = value; }
void ScopeSettings::setBeamWidth(float value) { emit willChange(); m_beamWidth = value; }
void ScopeSettings::setSpeedSensitivity(float value) { emit willChange(); m_speedSensitivity = value; }
void ScopeSettings::setXyRotation(XYRotation value) { emit willChange(); m_xyRotation = value; }
void ScopeSettings::setBeamColorMode(BeamColorMode value) { emit willChange(); m_beamColorMode = value; }
void ScopeSettings::setXyGain(float value) { emit willChange(); m_xyGain = value; }
void ScopeSettings::setTimePerDivision(float value) { emit willChange(); m_timePerDivision = value; }
void ScopeSettings::setTriggerLevel(float value) { emit willChange(); m_triggerLevel = value; }
void ScopeSettings::setTriggerEnabled(bool value) { emit willChange(); m_triggerEnabled = value; }
void ScopeSettings::setTriggerChannel(int64_t value) { emit willChange(); m_triggerChannel = value; }
void ScopeSettings::setWaveformGain(float value) { emit willChange(); m_waveformGain = value; }
void ScopeSettings::setDisplayFilterType(FilterType value) { emit willChange(); m_displayFilterType = value; }
void ScopeSettings::setDisplayFilterFrequency(float value) { emit willChange(); m_displayFilterFrequency = value; }
void ScopeSettings::setScopeVisible(bool value) { emit willChange(); m_scopeVisible = value; }
void ScopeSettings::setRhythmMatchRate(float value) { emit willChange(); m_rhythmMatchRate = value; }
void ScopeSettings::setExpansionPressure(float value) { emit willChange(); m_expansionPressure = value; }
void ScopeSettings::setKxScaleMode(KXScaleMode value) { emit willChange(); m_kxScaleMode = value; }
void ScopeSettings::setSignalDensity(float value) { emit willChange(); m_signalDensity = value; }
void ScopeSettings::setEnvelopeCurvature(float value) { emit willChange(); m_envelopeCurvature = value; }
void ScopeSettings::setSavedPresets(const QList<Preset>& value) { emit willChange(); m_savedPresets = value; }

void ScopeSettings::resetToDefaults()
{
    setDisplayMode(DisplayMode::xy);
    setFrameRate(120);
    setAudioBufferSize(256);
    setDecay(0.52f);
    setIntensity(10.0f);
    setBeamWidth(3.23f);
    setSpeedSensitivity(8.29f);
    setXyRotation(XYRotation::deg45);
    setBeamColorMode(BeamColorMode::green);
    setXyGain(1.0f);
    setTimePerDivision(2.0f);
    setTriggerLevel(1.0f);
    setTriggerEnabled(true);
    setTriggerChannel(0);
    setWaveformGain(1.0f);
    setKxScaleMode(KXScaleMode::edm);
    setDisplayFilterType(FilterType::off);
    setDisplayFilterFrequency(1000.0f);
}

int64_t ScopeSettings::samplesForDisplay(double sampleRate) const
{
    float t = m_timePerDivision * 10.0f;  // ten divisions across the screen
    t = t / 1000.0f;                      // milliseconds to seconds
    t = t * floatconv::narrowToFloat(sampleRate);
    return floatconv::truncateToInt64(t);
}

ScopeSettings::Preset ScopeSettings::snapshot(const QString& name) const
{
    Preset p;
    p.name = name;
    p.displayMode = rawValueString(m_displayMode);
    p.frameRate = m_frameRate;
    p.audioBufferSize = m_audioBufferSize;
    p.decay = m_decay;
    p.intensity = m_intensity;
    p.beamWidth = m_beamWidth;
    p.speedSensitivity = m_speedSensitivity;
    p.xyRotation = rawValueString(m_xyRotation);
    p.beamColorMode = rawValueString(m_beamColorMode);
    p.xyGain = m_xyGain;
    p.timePerDivision = m_timePerDivision;
    p.triggerLevel = m_triggerLevel;
    p.triggerEnabled = m_triggerEnabled;
    p.triggerChannel = m_triggerChannel;
    p.waveformGain = m_waveformGain;
    p.kxScaleMode = rawValueString(m_kxScaleMode);
    p.displayFilterType = rawValueString(m_displayFilterType);
    p.displayFilterFrequency = m_displayFilterFrequency;
    return p;
}

void ScopeSettings::applyPreset(const Preset& p)
{
    if (const auto mode = displayModeFromRawValue(p.displayMode))
        setDisplayMode(*mode);
    setFrameRate(p.frameRate);
    setAudioBufferSize(p.audioBufferSize);
    setDecay(p.decay);
    setIntensity(p.intensity);
    setBeamWidth(p.beamWidth);
    setSpeedSensitivity(p.speedSensitivity);
    if (const auto rotation = xyRotationFromRawValue(p.xyRotation))
        setXyRotation(*rotation);
    if (const auto color = beamColorModeFromRawValue(p.beamColorMode))
        setBeamColorMode(*color);
    setXyGain(p.xyGain);
    setTimePerDivision(p.timePerDivision);
    setTriggerLevel(p.triggerLevel);
    setTriggerEnabled(p.triggerEnabled);
    setTriggerChannel(p.triggerChannel);
    setWaveformGain(p.waveformGain);
    if (const auto scale = kxScaleModeFromRawValue(p.kxScaleMode))
        setKxScaleMode(*scale);
    std::optional<FilterType> filter;
    if (p.displayFilterType)
        filter = filterTypeFromRawValue(QStringView(*p.displayFilterType));
    setDisplayFilterType(filter.value_or(FilterType::off));
    if (p.displayFilterFrequency)
        setDisplayFilterFrequency(*p.displayFilterFrequency);
}

QList<ScopeSettings::Preset> ScopeSettings::presetsToUpdate()
{
    // Another instance of the program may have stored presets since this one
    // loaded the list; changing the stored list keeps them. Unless this
    // instance holds changes it could not store, or the stored list does not
    // read, in which case its own list is the one to keep.
    if (!m_presetsUnsaved) {
        if (const std::optional<QByteArray> blob = m_store->read(kPresetsKey)) {
            if (std::optional<QList<Preset>> stored = decodePresetList(*blob))
                return std::move(*stored);
        }
    }
    return m_savedPresets;
}

bool ScopeSettings::writePresets(const QList<Preset>& presets)
{
    const std::optional<QByteArray> bytes = encodePresetList(presets);
    const bool stored = bytes && m_store->write(kPresetsKey, *bytes);
    m_presetsUnsaved = !stored;
    return stored;
}

void ScopeSettings::savePreset(const QString& name)
{
    const Preset preset = snapshot(name);
    const std::shared_ptr<void> lock = m_store->lockForUpdate();

    QList<Preset> presets = presetsToUpdate();
    presets.removeIf([&](const Preset& p) { return samePresetName(p.name, name); });
    setSavedPresets(presets);
    presets.append(preset);
    setSavedPresets(presets);

    // Stable, so names equal but for case keep the order they were saved in.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(presets.begin(), presets.end(),
                     [&](const Preset& a, const Preset& b) { return collator.compare(a.name, b.name) < 0; });
    setSavedPresets(presets);

    writePresets(m_savedPresets);
}

void ScopeSettings::deletePreset(const QString& name)
{
    const std::shared_ptr<void> lock = m_store->lockForUpdate();
    QList<Preset> presets = presetsToUpdate();
    presets.removeIf([&](const Preset& p) { return samePresetName(p.name, name); });
    setSavedPresets(presets);
    writePresets(m_savedPresets);
}

void ScopeSettings::persistPresets()
{
    writePresets(m_savedPresets);
}

void ScopeSettings::loadPresets()
{
    const std::optional<QByteArray> blob = m_store->read(kPresetsKey);
    if (!blob)
        return;
    std::optional<QList<Preset>> presets = decodePresetList(*blob);
    if (!presets)
        return;
    setSavedPresets(*presets);
    m_presetsUnsaved = false;
}

void ScopeSettings::saveLastSession()
{
    if (const std::optional<QByteArray> bytes = encodePreset(snapshot(kLastSessionName)))
        m_store->write(kLastSessionKey, *bytes);
}

void ScopeSettings::loadLastSession()
{
    loadPresets();
    const std::optional<QByteArray> blob = m_store->read(kLastSessionKey);
    if (!blob)
        return;
    if (const std::optional<Preset> session = decodePreset(*blob))
        applyPreset(*session);
}

void ScopeSettings::startAutoSave()
{
    // Dropping the old subscription first cancels its pending save.
    m_saveCancellable.reset();
    m_saveCancellable = std::make_unique<AutoSaveSubscription>(this, m_autoSaveInterval);
}

void ScopeSettings::setAutoSaveInterval(std::chrono::milliseconds interval)
{
    m_autoSaveInterval = interval;
    if (m_saveCancellable)
        m_saveCancellable->setInterval(interval);
}
