#include "ui/panel/MeterRow.h"

#include "ui/Formatting.h"
#include "ui/MeterBar.h"
#include "ui/SettingControls.h"
#include "ui/panel/PresetControls.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace {

// Sets a label's text colour through its style sheet, only when it changes:
// a new style sheet repolishes the widget.
void setColorStyle(QLabel* label, const QColor& color)
{
    const QString sheet = QStringLiteral("color: %1;").arg(ui::css(color));
    if (label->styleSheet() != sheet)
        label->setStyleSheet(sheet);
}

}  // namespace

MeterRow::MeterRow(ScopeSettings& settings, QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->setAlignment(Qt::AlignBottom);

    // Fixed sizes: a new percentage then repaints its label without laying
    // out the whole panel again, 20 times a second.
    const auto addMeter = [&](const QString& name, MeterBar*& bar, QLabel*& text) {
        row->addWidget(ui::grayLabel(name, 9, QFont::Normal, this), 0, Qt::AlignBottom);
        bar = new MeterBar(this);
        row->addWidget(bar, 0, Qt::AlignBottom);
        text = new QLabel(this);
        text->setFont(ui::monoFont(10));
        text->setFixedSize(36, text->fontMetrics().height());
        row->addWidget(text, 0, Qt::AlignBottom);
    };
    addMeter(QStringLiteral("RHYTHM:"), m_rhythmBar, m_rhythmText);
    row->addSpacing(10);
    addMeter(QStringLiteral("KX:"), m_kxBar, m_kxText);

    m_meterReset = new QToolButton(this);
    m_meterReset->setAutoRaise(true);
    m_meterReset->setIconSize(QSize(10, 10));
    m_meterReset->setToolTip(QStringLiteral("Reset RHYTHM / KX meters"));
    m_meterReset->setAccessibleName(QStringLiteral("Reset meters"));
    m_meterReset->setFocusPolicy(Qt::TabFocus);
    connect(m_meterReset, &QToolButton::clicked, this, [&settings] {
        if (settings.onResetAnalysis)
            settings.onResetAnalysis();
    });
    row->addWidget(m_meterReset);
    row->addStretch(1);

    m_presets = new PresetControls(settings, this);
    row->addWidget(m_presets);
    row->addStretch(1);

    const auto addPicker = [&](SegmentedPicker*& picker, const auto& setting, int width, const char* name) {
        row->addWidget(ui::grayLabel(ui::text(setting.caption), 9, QFont::Medium, this));
        picker = ui::makePicker(settings, setting, width, QString::fromLatin1(name), this);
        row->addWidget(picker);
    };
    addPicker(m_scale, settings::kxScaleMode, 130, "KX scale");
    addPicker(m_frameRate, settings::frameRate, 100, "Frame rate");
    addPicker(m_buffer, settings::audioBufferSize, 170, "Audio buffer size");
    row->addSpacing(20);
}

void MeterRow::showSettings(const DisplaySettings& v)
{
    ui::showValue(m_scale, settings::kxScaleMode, v.kxScaleMode);
    ui::showValue(m_frameRate, settings::frameRate, v.frameRate);
    ui::showValue(m_buffer, settings::audioBufferSize, v.audioBufferSize);
}

void MeterRow::showMeters(float rhythm, float kx)
{
    m_rhythmBar->setValue(rhythm, ui::toneColor(rhythmTone(rhythm)));
    m_rhythmText->setText(formatPercent(rhythm));
    setColorStyle(m_rhythmText, ui::toneColor(rhythmTone(rhythm)));
    m_kxBar->setValue(kx, ui::toneColor(kxBarTone(kx)));
    m_kxText->setText(formatPercent(kx));
    setColorStyle(m_kxText, ui::toneColor(kxTextTone(kx)));
}

void MeterRow::applyIcons(qreal ratio)
{
    m_meterReset->setIcon(ui::templateIcon(QStringLiteral("arrow.counterclockwise"), ui::kGray, 10, ratio));
    m_presets->applyIcons(ratio);
}
