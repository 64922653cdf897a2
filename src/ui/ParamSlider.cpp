#include "ui/ParamSlider.h"

#include "ui/Formatting.h"
#include "ui/UiStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kSteps = 10000;
}

ParamSlider::ParamSlider(const QString& label, float minimum, float maximum, QWidget* parent)
    : QWidget(parent),
      m_minimum(minimum),
      m_maximum(maximum),
      m_label(new QLabel(label, this)),
      m_valueText(new QLabel(this)),
      m_slider(new QSlider(Qt::Horizontal, this))
{
    setMinimumWidth(80);
    m_label->setFont(ui::monoFont(9, QFont::Medium));
    m_label->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ui::kGray)));
    m_valueText->setFont(ui::monoFont(9));
    m_valueText->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ui::kGreen)));
    m_slider->setRange(0, kSteps);
    m_slider->setFixedHeight(14);
    // A click focuses it too, so the arrows can fine-tune what the mouse set:
    // 1 % of the range a step, 10 % a page.
    m_slider->setFocusPolicy(Qt::StrongFocus);
    m_slider->setSingleStep(kSteps / 100);
    m_slider->setPageStep(kSteps / 10);
    m_slider->setAccessibleName(label.left(1) + label.mid(1).toLower());
    m_slider->setStyleSheet(QStringLiteral(
        "QSlider::groove:horizontal { height: 3px; background: #48484a; border-radius: 1px; }"
        "QSlider::sub-page:horizontal { background: #0a84ff; border-radius: 1px; }"
        "QSlider::handle:horizontal { background: #d8d8da; width: 10px; height: 10px;"
        " margin: -4px 0; border-radius: 5px; }"));

    auto* caption = new QHBoxLayout;
    caption->setContentsMargins(0, 0, 0, 0);
    caption->addWidget(m_label);
    caption->addStretch(1);
    caption->addWidget(m_valueText);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(1);
    column->addLayout(caption);
    column->addWidget(m_slider);

    connect(m_slider, &QSlider::valueChanged, this, [this](int position) {
        const float v = m_minimum + (m_maximum - m_minimum) * static_cast<float>(position) / kSteps;
        m_value = v;
        m_valueText->setText(formatSliderValue(v));
        emit valueEdited(v);
    });
    setValue(minimum);
}

void ParamSlider::setValue(float value)
{
    if (value == m_value)
        return;
    m_value = value;
    m_valueText->setText(formatSliderValue(value));
    // Out-of-range or NaN model values (a hand-edited preset) pin the knob to
    // the nearest end; the caption still tells the truth.
    double t = (static_cast<double>(value) - m_minimum) / (static_cast<double>(m_maximum) - m_minimum);
    if (!std::isfinite(t))
        t = 0.0;
    const QSignalBlocker block(m_slider);
    m_slider->setValue(static_cast<int>(std::lround(std::clamp(t, 0.0, 1.0) * kSteps)));
}

QString ParamSlider::label() const { return m_label->text(); }
