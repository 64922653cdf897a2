#pragma once

#include "analysis/BiquadFilter.h"
#include "settings/DisplayEnums.h"
#include "settings/PreferencesStore.h"
#include "settings/Preset.h"
#include "settings/SettingsTable.h"

#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

class AutoSaveSubscription;

// Every user-visible setting, the analysis meters, the saved presets and
// the last-session persistence. One instance, confined to the main thread.
//
// Every setter emits willChange() first and then stores, with no equality
// test: assigning the value already held still notifies once. Listeners that
// read values connect with Qt::QueuedConnection and so see the stored value.
// Nothing is clamped; valid values are those the control panel offers.
class ScopeSettings : public QObject {
    Q_OBJECT

public:
    using Preset = ::Preset;

    // One display-filter shortcut of the control panel.
    struct FilterPreset {
        std::string_view label;
        FilterType type;
        float frequency;
    };

    // Option tables of the control panel's pickers, in the order shown.
    static constexpr auto& timeDivOptions = settings::kTimeDivOptions;
    static constexpr auto& frameRateOptions = settings::kFrameRateOptions;
    static constexpr auto& bufferSizeOptions = settings::kBufferSizeOptions;
    static constexpr auto& filterFreqOptions = settings::kFilterFreqOptions;
    static constexpr std::array<FilterPreset, 6> factoryFilterPresets = {{
        {"Sub Bass (< 100Hz)", FilterType::lowpass, 100},
        {"Bass (< 300Hz)", FilterType::lowpass, 300},
        {"Low-Mid (< 1kHz)", FilterType::lowpass, 1000},
        {"Hi-Mid (> 1kHz)", FilterType::highpass, 1000},
        {"Treble (> 5kHz)", FilterType::highpass, 5000},
        {"Air (> 12kHz)", FilterType::highpass, 12000},
    }};

    static constexpr std::chrono::milliseconds kDefaultAutoSaveInterval{1000};

    // Initial values, empty hooks, no presets, no auto-save. Reads nothing:
    // loading is loadLastSession(). The first form uses the user's store.
    explicit ScopeSettings(QObject* parent = nullptr);
    explicit ScopeSettings(std::shared_ptr<PreferencesStore> store, QObject* parent = nullptr);
    ~ScopeSettings() override;

    // The persisted settings at once, and each by its name.
    const DisplaySettings& values() const { return m_values; }
    DisplayMode displayMode() const { return m_values.displayMode; }
    int64_t frameRate() const { return m_values.frameRate; }
    int64_t audioBufferSize() const { return m_values.audioBufferSize; }
    float decay() const { return m_values.decay; }
    float intensity() const { return m_values.intensity; }
    float beamWidth() const { return m_values.beamWidth; }
    float speedSensitivity() const { return m_values.speedSensitivity; }
    XYRotation xyRotation() const { return m_values.xyRotation; }
    BeamColorMode beamColorMode() const { return m_values.beamColorMode; }
    float xyGain() const { return m_values.xyGain; }
    float timePerDivision() const { return m_values.timePerDivision; }
    float triggerLevel() const { return m_values.triggerLevel; }
    bool triggerEnabled() const { return m_values.triggerEnabled; }
    int64_t triggerChannel() const { return m_values.triggerChannel; }
    float waveformGain() const { return m_values.waveformGain; }
    FilterType displayFilterType() const { return m_values.displayFilterType; }
    float displayFilterFrequency() const { return m_values.displayFilterFrequency; }
    int64_t upsampling() const { return m_values.upsampling; }
    float glow() const { return m_values.glow; }
    ZInput zInput() const { return m_values.zInput; }
    bool scopeVisible() const { return m_scopeVisible; }
    float rhythmMatchRate() const { return m_rhythmMatchRate; }
    float expansionPressure() const { return m_expansionPressure; }
    KXScaleMode kxScaleMode() const { return m_values.kxScaleMode; }
    float signalDensity() const { return m_signalDensity; }
    float envelopeCurvature() const { return m_envelopeCurvature; }
    float phaseCorrelation() const { return m_phaseCorrelation; }
    const QList<Preset>& savedPresets() const { return m_savedPresets; }

    void setDisplayMode(DisplayMode value);
    // Stores, then calls onFrameRateChanged with the stored value.
    void setFrameRate(int64_t value);
    void setAudioBufferSize(int64_t value);
    void setDecay(float value);
    void setIntensity(float value);
    void setBeamWidth(float value);
    void setSpeedSensitivity(float value);
    void setXyRotation(XYRotation value);
    void setBeamColorMode(BeamColorMode value);
    void setXyGain(float value);
    void setTimePerDivision(float value);
    void setTriggerLevel(float value);
    void setTriggerEnabled(bool value);
    void setTriggerChannel(int64_t value);
    void setWaveformGain(float value);
    void setDisplayFilterType(FilterType value);
    void setDisplayFilterFrequency(float value);
    void setUpsampling(int64_t value);
    void setGlow(float value);
    void setZInput(ZInput value);
    void setScopeVisible(bool value);
    void setRhythmMatchRate(float value);
    void setExpansionPressure(float value);
    void setKxScaleMode(KXScaleMode value);
    void setSignalDensity(float value);
    void setEnvelopeCurvature(float value);
    void setPhaseCorrelation(float value);
    void setSavedPresets(const QList<Preset>& value);

    // Any persisted setting by its row of the table, as its named setter does.
    template <typename T, typename Stored>
    void set(const settings::Setting<T, Stored>& row, T value);

    // Installed by the scope view bridge. onFrameRateChanged receives the new
    // rate after every assignment of frameRate; onResetAnalysis is invoked by
    // the control panel's meter reset, never by this object.
    std::function<void(int64_t)> onFrameRateChanged;
    std::function<void()> onResetAnalysis;

    // Puts the persisted settings back to their initial values, each
    // through its setter. Leaves scopeVisible, the meters, the hooks, the
    // presets and the auto-save alone; writes nothing itself.
    void resetToDefaults();

    BeamColor beamColor() const { return beamColorFor(m_values.beamColorMode); }

    // Samples across the ten divisions of the Scope screen, computed in 32-bit
    // floats and truncated. A product beyond the int64 range saturates at its
    // limit and a NaN product gives 0, so huge or broken inputs ask for the
    // whole window or for nothing rather than for garbage.
    int64_t samplesForDisplay(double sampleRate) const;
    static int64_t samplesForDisplay(const DisplaySettings& values, double sampleRate);

    // --- Presets and the last session (stored as JSON, see Preset.h) ---

    // The current persisted settings under `name`; both filter fields filled.
    Preset snapshot(const QString& name) const;

    // Stores the current settings under `name` (replacing presets of that
    // name), sorts the list by name (locale-aware, case-insensitive, stable)
    // and persists it. Presets another running instance stored meanwhile are
    // kept: the stored list, when readable, is the base the change is made to.
    void savePreset(const QString& name);

    // Makes the preset's values current, in a fixed order, each through its
    // setter. Unknown enumeration raw values leave that setting unchanged; an
    // absent or unknown filter type turns the filter off; an absent filter
    // frequency leaves it unchanged. Numbers are taken as they are.
    void applyPreset(const Preset& preset);

    // Removes every preset of that name and persists the list (also when
    // nothing was removed).
    void deletePreset(const QString& name);

    // Loads the stored preset list, then applies the stored last session.
    // Unreadable data changes nothing.
    void loadLastSession();

    // Saves the last session one debounce interval after the last change
    // notification (meters included). Replaces an earlier subscription; ends
    // with this object.
    void startAutoSave();
    bool autoSaveActive() const { return m_saveCancellable != nullptr; }

    // Where presets and the last session are kept.
    const std::shared_ptr<PreferencesStore>& store() const { return m_store; }

    // The debounce interval, 1 s unless changed (tests shorten it).
    std::chrono::milliseconds autoSaveInterval() const { return m_autoSaveInterval; }
    void setAutoSaveInterval(std::chrono::milliseconds interval);

    // Encodes savedPresets and writes it; does nothing when encoding fails.
    void persistPresets();
    // Replaces savedPresets with the stored list in stored order, when there
    // is one and it reads completely.
    void loadPresets();
    // Writes snapshot("_lastSession"); does nothing when encoding fails.
    void saveLastSession();

signals:
    // Emitted by every setter before the value is stored.
    void willChange();
    // Emitted after a store that changed something, by what it changed:
    // a persisted setting or the scope's visibility (what the picture and
    // the controls show), a meter, the preset list.
    void displayChanged();
    void metersChanged();
    void presetsChanged();

private:
    bool writePresets(const QList<Preset>& presets);
    QList<Preset> presetsToUpdate();

    template <typename T>
    void assign(T& field, T value, void (ScopeSettings::*changed)());

    DisplaySettings m_values;
    bool m_scopeVisible = true;
    float m_rhythmMatchRate = 0.0f;
    float m_expansionPressure = 0.0f;
    float m_signalDensity = 0.0f;
    float m_envelopeCurvature = 0.0f;
    float m_phaseCorrelation = 0.0f;
    QList<Preset> m_savedPresets;

    std::shared_ptr<PreferencesStore> m_store;
    std::chrono::milliseconds m_autoSaveInterval = kDefaultAutoSaveInterval;
    std::unique_ptr<AutoSaveSubscription> m_saveCancellable;
    // Set while the in-memory list holds changes the store does not have (the
    // last write failed); the in-memory list is then the base of the next
    // save or delete instead of the stored one.
    bool m_presetsUnsaved = false;
};

template <typename T>
void ScopeSettings::assign(T& field, T value, void (ScopeSettings::*changed)())
{
    emit willChange();
    const bool differs = !settings::same(field, value);
    field = value;
    if (differs)
        emit (this->*changed)();
}

template <typename T, typename Stored>
void ScopeSettings::set(const settings::Setting<T, Stored>& row, T value)
{
    assign(m_values.*(row.value), value, &ScopeSettings::displayChanged);
    if constexpr (std::is_same_v<T, int64_t>) {
        // A copy: the hook may replace itself while it runs.
        if (row.value == &DisplaySettings::frameRate)
            if (const std::function<void(int64_t)> hook = onFrameRateChanged)
                hook(m_values.frameRate);
    }
}
