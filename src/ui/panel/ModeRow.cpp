#include "ui/panel/ModeRow.h"

#include "ui/Formatting.h"
#include "ui/SettingControls.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedWidget>

namespace {

QHBoxLayout* rowOf(QWidget* widget, int spacing)
{
    auto* row = new QHBoxLayout(widget);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    return row;
}

QLabel* caption(std::string_view text, QWidget* parent)
{
    return ui::grayLabel(ui::text(text), 9, QFont::Medium, parent);
}

}  // namespace

ModeRow::ModeRow(ScopeSettings& settings, QWidget* parent) : QWidget(parent)
{
    QHBoxLayout* row = rowOf(this, 8);

    // Two pages of mode controls in a fixed 460-point group.
    m_modeControls = new QStackedWidget(this);
    m_modeControls->setFixedSize(460, 30);
    QWidget* waveform = buildWaveformPage(settings);
    m_modeControls->addWidget(buildXYPage(settings));  // page 0: DisplayMode::xy
    m_modeControls->addWidget(waveform);               // page 1: DisplayMode::waveform
    row->addWidget(m_modeControls);

    row->addWidget(caption(settings::displayFilterType.caption, this));
    m_filter = ui::makePicker(settings, settings::displayFilterType, 140, QStringLiteral("Display filter"), this);
    row->addWidget(m_filter);
    m_filterFrequency = ui::makePopup(settings, settings::displayFilterFrequency, 80, formatFreq,
                                      QStringLiteral("Filter frequency"), this);
    row->addWidget(m_filterFrequency);
    row->addStretch(1);

    row->addWidget(caption(settings::beamColorMode.caption, this));
    m_color = ui::makePicker(settings, settings::beamColorMode, 160, QStringLiteral("Beam colour"), this);
    row->addWidget(m_color);
}

QWidget* ModeRow::buildWaveformPage(ScopeSettings& settings)
{
    auto* page = new QWidget(m_modeControls);
    QHBoxLayout* w = rowOf(page, 8);
    m_waveformGain = ui::makeSlider(settings, settings::waveformGain, page);
    m_waveformGain->setFixedWidth(120);
    m_trigger = new QCheckBox(ui::text(settings::triggerEnabled.caption), page);
    m_trigger->setFont(ui::monoFont(9, QFont::Medium));
    m_trigger->setFocusPolicy(Qt::TabFocus);
    m_trigger->setAccessibleName(QStringLiteral("Trigger"));
    QPalette gray = m_trigger->palette();  // the gray of the other labels, through no style sheet
    gray.setColor(QPalette::WindowText, ui::kGray);
    m_trigger->setPalette(gray);
    connect(m_trigger, &QCheckBox::clicked, this, [&settings](bool on) { settings.setTriggerEnabled(on); });
    m_triggerLevel = ui::makeSlider(settings, settings::triggerLevel, page);
    m_triggerLevel->setFixedWidth(100);
    m_time = ui::makePopup(settings, settings::timePerDivision, 100, formatTimeDivision,
                           QStringLiteral("Time per division"), page);
    w->addWidget(m_waveformGain);
    w->addWidget(m_trigger);
    w->addWidget(m_triggerLevel);
    w->addWidget(caption(settings::timePerDivision.caption, page));
    w->addWidget(m_time);
    w->addStretch(1);
    return page;
}

QWidget* ModeRow::buildXYPage(ScopeSettings& settings)
{
    auto* page = new QWidget(m_modeControls);
    QHBoxLayout* x = rowOf(page, 8);
    m_xyGain = ui::makeSlider(settings, settings::xyGain, page);
    m_xyGain->setFixedWidth(120);
    m_rotation = ui::makePicker(settings, settings::xyRotation, 80, QStringLiteral("XY rotation"), page);
    x->addWidget(m_xyGain);
    x->addWidget(caption(settings::xyRotation.caption, page));
    x->addWidget(m_rotation);
    x->addStretch(1);
    return page;
}

void ModeRow::showSettings(const DisplaySettings& v)
{
    m_modeControls->setCurrentIndex(v.displayMode == DisplayMode::waveform ? 1 : 0);
    m_waveformGain->setValue(v.waveformGain);
    m_trigger->setChecked(v.triggerEnabled);
    m_triggerLevel->setVisible(v.triggerEnabled);
    m_triggerLevel->setValue(v.triggerLevel);
    ui::showValue(m_time, settings::timePerDivision, v.timePerDivision);
    m_xyGain->setValue(v.xyGain);
    ui::showValue(m_rotation, settings::xyRotation, v.xyRotation);

    ui::showValue(m_filter, settings::displayFilterType, v.displayFilterType);
    m_filterFrequency->setVisible(v.displayFilterType != FilterType::off);
    ui::showValue(m_filterFrequency, settings::displayFilterFrequency, v.displayFilterFrequency);
    ui::showValue(m_color, settings::beamColorMode, v.beamColorMode);
}

ParamSlider* ModeRow::slider(const QString& label, DisplayMode mode) const
{
    if (label == ui::text(settings::triggerLevel.caption))
        return m_triggerLevel;
    if (label == ui::text(settings::xyGain.caption))
        return mode == DisplayMode::waveform ? m_waveformGain : m_xyGain;
    return nullptr;
}
