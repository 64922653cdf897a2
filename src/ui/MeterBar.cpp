#include "ui/MeterBar.h"

#include "ui/UiStyle.h"

#include <QPainter>

#include <cmath>

MeterBar::MeterBar(QWidget* parent) : QWidget(parent)
{
    setFixedSize(60, 10);
}

void MeterBar::setValue(double value, const QColor& fill)
{
    if (value == m_value && fill == m_fill)
        return;
    m_value = value;
    m_fill = fill;
    update();
}

void MeterBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor track = ui::kGray;
    track.setAlphaF(0.3f);
    painter.setBrush(track);
    painter.drawRoundedRect(QRectF(rect()), 2, 2);
    // NaN or negative draw nothing; huge values stop at a few bar widths.
    const double v = std::isfinite(m_value) ? std::clamp(m_value, 0.0, 4.0) : 0.0;
    if (v > 0.0) {
        painter.setBrush(m_fill);
        painter.drawRoundedRect(QRectF(0, 0, width() * v, height()), 2, 2);
    }
}
