#include "ui/panel/SliderRow.h"

#include "ui/SettingControls.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

namespace {

QString formatUpsampling(int64_t factor)
{
    return factor <= 1 ? QStringLiteral("OFF") : QStringLiteral("%1\u00d7").arg(factor);
}

}  // namespace

SliderRow::SliderRow(ScopeSettings& settings, QWidget* parent)
    : QWidget(parent),
      m_decay(ui::makeSlider(settings, settings::decay, this)),
      m_intensity(ui::makeSlider(settings, settings::intensity, this)),
      m_beamWidth(ui::makeSlider(settings, settings::beamWidth, this)),
      m_speed(ui::makeSlider(settings, settings::speedSensitivity, this)),
      m_glow(ui::makeSlider(settings, settings::glow, this)),
      m_upsampling(ui::makePopup(settings, settings::upsampling, 64, formatUpsampling,
                                 QStringLiteral("Upsampling"), this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    for (ParamSlider* slider : {m_decay, m_intensity, m_beamWidth, m_speed, m_glow})
        row->addWidget(slider, 1);
    auto* caption = ui::grayLabel(ui::text(settings::upsampling.caption), 9, QFont::Medium, this);
    m_upsampling->setToolTip(QStringLiteral("Draw the beam on the band-limited signal between samples"));
    auto* group = new QHBoxLayout;
    group->setSpacing(6);
    group->addWidget(caption);
    group->addWidget(m_upsampling);
    row->addLayout(group);
}

void SliderRow::showSettings(const DisplaySettings& values)
{
    m_decay->setValue(values.decay);
    m_intensity->setValue(values.intensity);
    m_beamWidth->setValue(values.beamWidth);
    m_speed->setValue(values.speedSensitivity);
    m_glow->setValue(values.glow);
    ui::showValue(m_upsampling, settings::upsampling, values.upsampling);
}

ParamSlider* SliderRow::slider(const QString& label) const
{
    for (ParamSlider* s : {m_decay, m_intensity, m_beamWidth, m_speed, m_glow})
        if (s->label() == label)
            return s;
    return nullptr;
}
