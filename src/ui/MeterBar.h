#pragma once

#include <QColor>
#include <QWidget>

// A meter: a gray track at 30 % opacity and a fill of width × value, both with
// corners of radius 2. The fill is not clamped above 1, as the meters allow.
class MeterBar : public QWidget {
    Q_OBJECT
public:
    explicit MeterBar(QWidget* parent = nullptr);

    void setValue(double value, const QColor& fill);
    double value() const { return m_value; }
    QColor fillColor() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_value = 0.0;
    QColor m_fill;
};
