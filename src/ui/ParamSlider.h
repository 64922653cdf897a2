#pragma once

#include <QWidget>

#include <limits>

class QLabel;
class QSlider;

// A caption line (label, flexible space, "%.2f" value) over a mini slider
// bound to a float over a closed range. The slider is continuous to the eye:
// 10 000 steps across the range.
class ParamSlider : public QWidget {
    Q_OBJECT
public:
    ParamSlider(const QString& label, float minimum, float maximum, QWidget* parent = nullptr);

    // Shows `value` (from the model) without emitting valueEdited.
    void setValue(float value);
    float value() const { return m_value; }
    QString label() const;

signals:
    // The user moved the slider to `value`.
    void valueEdited(float value);

private:
    float m_minimum;
    float m_maximum;
    float m_value = std::numeric_limits<float>::quiet_NaN();  // nothing shown yet
    QLabel* m_label;
    QLabel* m_valueText;
    QSlider* m_slider;
};
