#pragma once

#include "settings/SettingsTable.h"

#include <QWidget>

class ParamSlider;
class QComboBox;
class ScopeSettings;

// The beam's sliders, sharing the row's width: DECAY, INTENSITY, BEAM, SPEED,
// GLOW;
// then UPSAMPLE, how finely the beam follows the signal between samples, and
// Z, what a third channel does to the beam's brightness.
class SliderRow : public QWidget {
    Q_OBJECT
public:
    explicit SliderRow(ScopeSettings& settings, QWidget* parent = nullptr);

    void showSettings(const DisplaySettings& values);
    // The slider captioned `label`, or nullptr.
    ParamSlider* slider(const QString& label) const;
    QComboBox* upsamplingPopup() const { return m_upsampling; }
    QComboBox* zInputPopup() const { return m_zInput; }

private:
    ParamSlider* m_decay;
    ParamSlider* m_intensity;
    ParamSlider* m_beamWidth;
    ParamSlider* m_speed;
    ParamSlider* m_glow;
    QComboBox* m_upsampling;
    QComboBox* m_zInput;
};
