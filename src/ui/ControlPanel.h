#pragma once

#include <QString>
#include <QWidget>

class AudioEngine;
class DeviceSelector;
class MeterBar;
class ParamSlider;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;
class ScopeSettings;
class SegmentedPicker;

// The strip of controls under the scope: every user setting, start/stop, the
// sample rate and last error, the RHYTHM and KX meters, presets and the
// source selector. It holds no setting of its own: it reads the settings
// model and the engine whenever they announce a change (queued, so it sees
// the stored values) and writes straight back into them.
class ControlPanel : public QWidget {
    Q_OBJECT
public:
    ControlPanel(AudioEngine& engine, ScopeSettings& settings, QWidget* parent = nullptr);

    // Re-reads everything shown from the model and the engine.
    void refresh();

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

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLayout* buildHeaderRow();
    QLayout* buildSliderRow();
    QLayout* buildModeRow();
    QLayout* buildMeterRow();
    void rebuildPresetMenu();
    void scheduleRefresh();
    void refreshMeters();
    void followBufferSize();
    void placeLogo();

    AudioEngine& m_engine;
    ScopeSettings& m_settings;
    bool m_refreshPending = false;
    int m_presetRevision = 0;
    long long m_appliedBufferSize;
    // The visibility the eye button shows (-1: none yet): its icon and tooltip
    // change with it, not with every meter update.
    int m_shownScopeVisible = -1;

    SegmentedPicker* m_displayMode = nullptr;
    QToolButton* m_visibility = nullptr;
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
