#include "ui/panel/SliderRow.h"

#include "ui/SettingControls.h"

#include <QHBoxLayout>

SliderRow::SliderRow(ScopeSettings& settings, QWidget* parent)
    : QWidget(parent),
      m_decay(ui::makeSlider(settings, settings::decay, this)),
      m_intensity(ui::makeSlider(settings, settings::intensity, this)),
      m_beamWidth(ui::makeSlider(settings, settings::beamWidth, this)),
      m_speed(ui::makeSlider(settings, settings::speedSensitivity, this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    for (ParamSlider* slider : {m_decay, m_intensity, m_beamWidth, m_speed})
        row->addWidget(slider, 1);
}

void SliderRow::showSettings(const DisplaySettings& values)
{
    m_decay->setValue(values.decay);
    m_intensity->setValue(values.intensity);
    m_beamWidth->setValue(values.beamWidth);
    m_speed->setValue(values.speedSensitivity);
}

ParamSlider* SliderRow::slider(const QString& label) const
{
    for (ParamSlider* s : {m_decay, m_intensity, m_beamWidth, m_speed})
        if (s->label() == label)
            return s;
    return nullptr;
}
