#pragma once

#include "analysis/BiquadFilter.h"
#include "settings/DisplayEnums.h"
#include "ui/CoalescedCall.h"

#include <QString>
#include <QWidget>

#include <optional>

class AudioEngine;
class DeviceSelector;
class MeterBar;
class ParamSlider;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
class QToolButton;
class ScopeSettings;
class SegmentedPicker;

// The strip of controls under the scope: every user setting, start/stop, the
// sample rate and last error, the RHYTHM and KX meters, presets and the
// source selector. It holds no setting of its own: it reads the settings
// model and the engine whenever they announce a change (queued, so it sees
// the stored values) and writes straight back into them. Tab walks the
// controls in reading order, and the focused one wears an accent ring.
class ControlPanel : public QWidget {
    Q_OBJECT
public:
    ControlPanel(AudioEngine& engine, ScopeSettings& settings, QWidget* parent = nullptr);

    // Re-reads the model and the engine and updates what changed: a meter
    // update (20 a second) touches the meters alone.
    void refresh();
    // How often the settings controls were brought up to date, for tests.
    int controlUpdates() const { return m_controlUpdates; }

    // Shows "Saved <file name>" (the full path as tooltip) for a few seconds,
    // or that the snapshot could not be saved.
    void showSnapshotResult(const std::optional<QString>& path);

    // Opens the "Save Preset" dialog with an empty name.
    void openSaveDialog();
    // Opens the "Delete Preset" confirmation for `name`.
    void confirmDelete(const QString& name);
    // The dialog's "Save": trims spaces and tabs; an empty name does nothing.
    void saveNamedPreset(const QString& typed);

    int presetRevision() const { return m_presetRevision; }

    // Widgets, for the window's tests.
    SegmentedPicker* displayModePicker() const { return m_displayMode; }
    QToolButton* visibilityButton() const { return m_visibility; }
    QToolButton* snapshotButton() const { return m_snapshot; }
    QLabel* snapshotNote() const { return m_snapshotNote; }
    DeviceSelector* deviceSelector() const { return m_devices; }
    QLabel* sampleRateLabel() const { return m_sampleRate; }
    QPushButton* startStopButton() const { return m_startStop; }
    QLabel* errorLabel() const { return m_error; }
    ParamSlider* slider(const QString& label) const;
    QStackedWidget* modeControls() const { return m_modeControls; }
    QCheckBox* triggerCheck() const { return m_trigger; }
    QComboBox* timePicker() const { return m_time; }
    SegmentedPicker* rotationPicker() const { return m_rotation; }
    SegmentedPicker* filterPicker() const { return m_filter; }
    QComboBox* filterFrequencyPicker() const { return m_filterFrequency; }
    SegmentedPicker* colorPicker() const { return m_color; }
    MeterBar* rhythmBar() const { return m_rhythmBar; }
    QLabel* rhythmText() const { return m_rhythmText; }
    MeterBar* kxBar() const { return m_kxBar; }
    QLabel* kxText() const { return m_kxText; }
    QToolButton* meterResetButton() const { return m_meterReset; }
    QToolButton* presetButton() const { return m_presetMenu; }
    QToolButton* saveButton() const { return m_save; }
    SegmentedPicker* scalePicker() const { return m_scale; }
    SegmentedPicker* frameRatePicker() const { return m_frameRate; }
    SegmentedPicker* bufferPicker() const { return m_buffer; }

signals:
    // A double click on the panel itself, not on a control.
    void backgroundDoubleClicked();
    // The snapshot button was pressed.
    void snapshotRequested();

protected:
    bool event(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLayout* buildHeaderRow();
    QLayout* buildSliderRow();
    QLayout* buildModeRow();
    QLayout* buildMeterRow();
    void rebuildPresetMenu();
    void scheduleRefresh();
    void refreshControls();
    void refreshEngine();
    void refreshMeters();
    void followBufferSize();
    void placeLogo();
    void applyIcons();

    // What the controls, the engine row and the meters last showed: each part
    // is updated only when its inputs differ (NaN always differs, harmlessly).
    struct ShownControls {
        DisplayMode mode;
        bool scopeVisible;
        float decay, intensity, beamWidth, speed, waveformGain;
        bool trigger;
        float triggerLevel, timePerDivision, xyGain;
        XYRotation rotation;
        FilterType filter;
        float filterFrequency;
        BeamColorMode color;
        KXScaleMode scale;
        int64_t frameRate, bufferSize;
        bool operator==(const ShownControls&) const = default;
    };
    struct ShownEngine {
        double sampleRate;
        bool running;
        QString error;
        bool operator==(const ShownEngine&) const = default;
    };
    struct ShownMeters {
        float rhythm, kx;
        bool operator==(const ShownMeters&) const = default;
    };

    AudioEngine& m_engine;
    ScopeSettings& m_settings;
    CoalescedCall m_refreshCall{this, [this] { refresh(); }};
    int m_presetRevision = 0;
    int m_controlUpdates = 0;
    long long m_appliedBufferSize;
    std::optional<ShownControls> m_shownControls;
    std::optional<ShownEngine> m_shownEngine;
    std::optional<ShownMeters> m_shownMeters;
    qreal m_iconRatio = 0;  // the device pixel ratio the icons and logo were drawn for

    SegmentedPicker* m_displayMode = nullptr;
    QToolButton* m_visibility = nullptr;
    QToolButton* m_snapshot = nullptr;
    QLabel* m_snapshotNote = nullptr;
    QTimer* m_snapshotNoteTimer = nullptr;
    DeviceSelector* m_devices = nullptr;
    QWidget* m_logoArea = nullptr;
    QLabel* m_logo = nullptr;
    QLabel* m_sampleRate = nullptr;
    QPushButton* m_startStop = nullptr;
    QLabel* m_error = nullptr;
    ParamSlider* m_decay = nullptr;
    ParamSlider* m_intensity = nullptr;
    ParamSlider* m_beamWidth = nullptr;
    ParamSlider* m_speed = nullptr;
    QStackedWidget* m_modeControls = nullptr;
    ParamSlider* m_waveformGain = nullptr;
    QCheckBox* m_trigger = nullptr;
    ParamSlider* m_triggerLevel = nullptr;
    QComboBox* m_time = nullptr;
    ParamSlider* m_xyGain = nullptr;
    SegmentedPicker* m_rotation = nullptr;
    SegmentedPicker* m_filter = nullptr;
    QComboBox* m_filterFrequency = nullptr;
    SegmentedPicker* m_color = nullptr;
    MeterBar* m_rhythmBar = nullptr;
    QLabel* m_rhythmText = nullptr;
    MeterBar* m_kxBar = nullptr;
    QLabel* m_kxText = nullptr;
    QToolButton* m_meterReset = nullptr;
    QToolButton* m_presetMenu = nullptr;
    QToolButton* m_save = nullptr;
    SegmentedPicker* m_scale = nullptr;
    SegmentedPicker* m_frameRate = nullptr;
    SegmentedPicker* m_buffer = nullptr;
};
