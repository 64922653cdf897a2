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

QString formatZInput(ZInput mode)
{
    switch (mode) {
    case ZInput::off: return QStringLiteral("OFF");
    case ZInput::unipolar: return QStringLiteral("0\u20261");
    case ZInput::bipolar: return QStringLiteral("\u22121\u20261");
    }
    return {};
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
                                 QStringLiteral("Upsampling"), this)),
      m_zInput(ui::makePopup(settings, settings::zInput, 64, formatZInput, QStringLiteral("Z input"), this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(16);
    for (ParamSlider* slider : {m_decay, m_intensity, m_beamWidth, m_speed, m_glow})
        row->addWidget(slider, 1);
    m_upsampling->setToolTip(QStringLiteral("Draw the beam on the band-limited signal between samples"));
    m_zInput->setToolTip(QStringLiteral("The source's third channel sets the beam's brightness"));
    const auto addPopup = [&](std::string_view caption, QComboBox* popup) {
        auto* group = new QHBoxLayout;
        group->setSpacing(6);
        group->addWidget(ui::grayLabel(ui::text(caption), 9, QFont::Medium, this));
        group->addWidget(popup);
        row->addLayout(group);
    };
    addPopup(settings::upsampling.caption, m_upsampling);
    addPopup(settings::zInput.caption, m_zInput);
}

void SliderRow::showSettings(const DisplaySettings& values)
{
    m_decay->setValue(values.decay);
    m_intensity->setValue(values.intensity);
    m_beamWidth->setValue(values.beamWidth);
    m_speed->setValue(values.speedSensitivity);
    m_glow->setValue(values.glow);
    ui::showValue(m_upsampling, settings::upsampling, values.upsampling);
    ui::showValue(m_zInput, settings::zInput, values.zInput);
}

ParamSlider* SliderRow::slider(const QString& label) const
{
    for (ParamSlider* s : {m_decay, m_intensity, m_beamWidth, m_speed, m_glow})
        if (s->label() == label)
            return s;
    return nullptr;
}
