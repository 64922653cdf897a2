#pragma once

#include "settings/SettingsTable.h"

#include <QWidget>

class ParamSlider;
class QCheckBox;
class QComboBox;
class QStackedWidget;
class ScopeSettings;
class SegmentedPicker;

// The mode's own controls (XY: gain and rotation; Scope: gain, trigger,
// level and time per division), then the display filter and the colour.
class ModeRow : public QWidget {
    Q_OBJECT
public:
    explicit ModeRow(ScopeSettings& settings, QWidget* parent = nullptr);

    void showSettings(const DisplaySettings& values);
    // LEVEL, or the GAIN of `mode`.
    ParamSlider* slider(const QString& label, DisplayMode mode) const;

    QStackedWidget* modeControls() const { return m_modeControls; }
    QCheckBox* triggerCheck() const { return m_trigger; }
    QComboBox* timePicker() const { return m_time; }
    SegmentedPicker* rotationPicker() const { return m_rotation; }
    SegmentedPicker* filterPicker() const { return m_filter; }
    QComboBox* filterFrequencyPicker() const { return m_filterFrequency; }
    SegmentedPicker* colorPicker() const { return m_color; }

private:
    QWidget* buildWaveformPage(ScopeSettings& settings);
    QWidget* buildXYPage(ScopeSettings& settings);

    QStackedWidget* m_modeControls;
    ParamSlider* m_waveformGain = nullptr;
    QCheckBox* m_trigger = nullptr;
    ParamSlider* m_triggerLevel = nullptr;
    QComboBox* m_time = nullptr;
    ParamSlider* m_xyGain = nullptr;
    SegmentedPicker* m_rotation = nullptr;
    SegmentedPicker* m_filter = nullptr;
    QComboBox* m_filterFrequency = nullptr;
    SegmentedPicker* m_color = nullptr;
};
