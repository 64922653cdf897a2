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

void ScopeSettings::setDisplayMode(DisplayMode value) { set(settings::displayMode, value); }
void ScopeSettings::setFrameRate(int64_t value) { set(settings::frameRate, value); }
void ScopeSettings::setAudioBufferSize(int64_t value) { set(settings::audioBufferSize, value); }
void ScopeSettings::setDecay(float value) { set(settings::decay, value); }
void ScopeSettings::setIntensity(float value) { set(settings::intensity, value); }
void ScopeSettings::setBeamWidth(float value) { set(settings::beamWidth, value); }
void ScopeSettings::setSpeedSensitivity(float value) { set(settings::speedSensitivity, value); }
void ScopeSettings::setXyRotation(XYRotation value) { set(settings::xyRotation, value); }
void ScopeSettings::setBeamColorMode(BeamColorMode value) { set(settings::beamColorMode, value); }
void ScopeSettings::setXyGain(float value) { set(settings::xyGain, value); }
void ScopeSettings::setTimePerDivision(float value) { set(settings::timePerDivision, value); }
void ScopeSettings::setTriggerLevel(float value) { set(settings::triggerLevel, value); }
void ScopeSettings::setTriggerEnabled(bool value) { set(settings::triggerEnabled, value); }
void ScopeSettings::setTriggerChannel(int64_t value) { set(settings::triggerChannel, value); }
void ScopeSettings::setWaveformGain(float value) { set(settings::waveformGain, value); }
void ScopeSettings::setKxScaleMode(KXScaleMode value) { set(settings::kxScaleMode, value); }
void ScopeSettings::setDisplayFilterType(FilterType value) { set(settings::displayFilterType, value); }
void ScopeSettings::setDisplayFilterFrequency(float value) { set(settings::displayFilterFrequency, value); }
void ScopeSettings::setUpsampling(int64_t value) { set(settings::upsampling, value); }
void ScopeSettings::setGlow(float value) { set(settings::glow, value); }
void ScopeSettings::setZInput(ZInput value) { set(settings::zInput, value); }
void ScopeSettings::setScopeVisible(bool value) { assign(m_scopeVisible, value, &ScopeSettings::displayChanged); }
void ScopeSettings::setRhythmMatchRate(float value) { assign(m_rhythmMatchRate, value, &ScopeSettings::metersChanged); }
void ScopeSettings::setExpansionPressure(float value)
{
    assign(m_expansionPressure, value, &ScopeSettings::metersChanged);
}
void ScopeSettings::setSignalDensity(float value) { assign(m_signalDensity, value, &ScopeSettings::metersChanged); }
void ScopeSettings::setEnvelopeCurvature(float value)
{
    assign(m_envelopeCurvature, value, &ScopeSettings::metersChanged);
}
void ScopeSettings::setPhaseCorrelation(float value)
{
    assign(m_phaseCorrelation, value, &ScopeSettings::metersChanged);
}
void ScopeSettings::setSavedPresets(const QList<Preset>& value)
{
    assign(m_savedPresets, value, &ScopeSettings::presetsChanged);
}

void ScopeSettings::resetToDefaults()
{
    settings::forEach([this](const auto& row) { set(row, row.defaultValue()); });
}

int64_t ScopeSettings::samplesForDisplay(double sampleRate) const
{
    return samplesForDisplay(m_values, sampleRate);
}

int64_t ScopeSettings::samplesForDisplay(const DisplaySettings& values, double sampleRate)
{
    float t = values.timePerDivision * 10.0f;  // ten divisions across the screen
    t = t / 1000.0f;                      // milliseconds to seconds
    t = t * floatconv::narrowToFloat(sampleRate);
    return floatconv::truncateToInt64(t);
}

ScopeSettings::Preset ScopeSettings::snapshot(const QString& name) const
{
    Preset p;
    p.name = name;
    settings::forEach([&](const auto& row) { p.*(row.stored) = settings::toStored(row, m_values.*(row.value)); });
    return p;
}

void ScopeSettings::applyPreset(const Preset& p)
{
    settings::forEach([&](const auto& row) {
        if (const auto value = settings::fromStored(row, p.*(row.stored)))
            set(row, *value);
    });
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
