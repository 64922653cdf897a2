#pragma once

#include "analysis/BiquadFilter.h"
#include "settings/DisplayEnums.h"
#include "settings/SettingsTable.h"
#include "ui/CoalescedCall.h"

#include <QString>
#include <QWidget>

#include <optional>

class AudioEngine;
class DeviceSelector;
class HeaderRow;
class MeterBar;
class MeterRow;
class ModeRow;
class ParamSlider;
class PresetControls;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;
class RenderStatus;
class ScopeSettings;
class SegmentedPicker;
class SliderRow;
class TransportBar;

// The strip of controls under the scope: every user setting, start/stop, the
// sample rate and last error, the RHYTHM, KX and CORR meters, presets and the
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
    // The same place for another note: gray, or red for a failure.
    void showNote(const QString& text, const QString& tip, bool ok);

    // Opens the "Save Preset" dialog with an empty name.
    void openSaveDialog();
    // Opens the "Delete Preset" confirmation for `name`.
    void confirmDelete(const QString& name);
    // The dialog's "Save": trims spaces and tabs; an empty name does nothing.
    void saveNamedPreset(const QString& typed);
    int presetRevision() const;

    // Widgets, for the window's tests.
    SegmentedPicker* displayModePicker() const;
    QToolButton* visibilityButton() const;
    QToolButton* snapshotButton() const;
    QLabel* snapshotNote() const;
    DeviceSelector* deviceSelector() const;
    QLabel* logo() const;
    QLabel* sampleRateLabel() const;
    QPushButton* startStopButton() const;
    QLabel* errorLabel() const;
    TransportBar* transportBar() const { return m_transport; }
    RenderStatus* renderStatus() const { return m_renderStatus; }
    ParamSlider* slider(const QString& label) const;
    QStackedWidget* modeControls() const;
    QCheckBox* triggerCheck() const;
    QComboBox* timePicker() const;
    SegmentedPicker* rotationPicker() const;
    SegmentedPicker* filterPicker() const;
    QComboBox* filterFrequencyPicker() const;
    QComboBox* upsamplingPicker() const;
    QComboBox* zInputPicker() const;
    SegmentedPicker* colorPicker() const;
    MeterBar* rhythmBar() const;
    QLabel* rhythmText() const;
    MeterBar* kxBar() const;
    QLabel* kxText() const;
    QToolButton* meterResetButton() const;
    QToolButton* presetButton() const;
    QToolButton* saveButton() const;
    SegmentedPicker* scalePicker() const;
    SegmentedPicker* frameRatePicker() const;
    SegmentedPicker* bufferPicker() const;

signals:
    // A double click on the panel itself, not on a control.
    void backgroundDoubleClicked();
    // The snapshot button was pressed.
    void snapshotRequested();

protected:
    bool event(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void scheduleRefresh();
    void refreshControls();
    void refreshEngine();
    void refreshMeters();
    void followBufferSize();
    void applyIcons();

    // What the controls, the engine row and the meters last showed: each part
    // is updated only when its inputs differ (NaN always differs, harmlessly).
    struct ShownControls {
        DisplaySettings values;
        bool scopeVisible;
        bool operator==(const ShownControls&) const = default;
    };
    struct ShownEngine {
        double sampleRate;
        bool running;
        QString error;
        bool file;
        QString filePath;
        bool looping, muted;
        bool operator==(const ShownEngine&) const = default;
    };
    struct ShownMeters {
        float rhythm, kx, correlation;
        bool operator==(const ShownMeters&) const = default;
    };

    AudioEngine& m_engine;
    ScopeSettings& m_settings;
    CoalescedCall m_refreshCall{this, [this] { refresh(); }};
    int m_controlUpdates = 0;
    std::optional<ShownControls> m_shownControls;
    std::optional<ShownEngine> m_shownEngine;
    std::optional<ShownMeters> m_shownMeters;
    qreal m_iconRatio = 0;  // the device pixel ratio the icons and logo were drawn for

    HeaderRow* m_header;
    TransportBar* m_transport;
    RenderStatus* m_renderStatus;
    SliderRow* m_sliders;
    ModeRow* m_mode;
    MeterRow* m_meters;
};
