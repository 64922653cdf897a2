#pragma once

#include "settings/SettingsTable.h"

#include <QWidget>

class MeterBar;
class PresetControls;
class QLabel;
class QToolButton;
class ScopeSettings;
class SegmentedPicker;

// RHYTHM and KX with their reset, the presets, and the KX scale, frame rate
// and buffer size pickers.
class MeterRow : public QWidget {
    Q_OBJECT
public:
    explicit MeterRow(ScopeSettings& settings, QWidget* parent = nullptr);

    void showSettings(const DisplaySettings& values);
    // `kx` as the scale shows it.
    void showMeters(float rhythm, float kx);
    void applyIcons(qreal ratio);

    MeterBar* rhythmBar() const { return m_rhythmBar; }
    QLabel* rhythmText() const { return m_rhythmText; }
    MeterBar* kxBar() const { return m_kxBar; }
    QLabel* kxText() const { return m_kxText; }
    QToolButton* meterResetButton() const { return m_meterReset; }
    PresetControls* presets() const { return m_presets; }
    SegmentedPicker* scalePicker() const { return m_scale; }
    SegmentedPicker* frameRatePicker() const { return m_frameRate; }
    SegmentedPicker* bufferPicker() const { return m_buffer; }

private:
    MeterBar* m_rhythmBar = nullptr;
    QLabel* m_rhythmText = nullptr;
    MeterBar* m_kxBar = nullptr;
    QLabel* m_kxText = nullptr;
    QToolButton* m_meterReset = nullptr;
    PresetControls* m_presets = nullptr;
    SegmentedPicker* m_scale = nullptr;
    SegmentedPicker* m_frameRate = nullptr;
    SegmentedPicker* m_buffer = nullptr;
};
