#pragma once

#include "settings/ScopeSettings.h"
#include "ui/ParamSlider.h"
#include "ui/SegmentedPicker.h"
#include "ui/UiStyle.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QString>

#include <type_traits>

// The panel's controls made from rows of the settings table: the caption,
// range and choices come from the row, and a user's edit goes through the
// row's setter. The rows are constants, so the connections may keep them by
// reference.
namespace ui {

inline QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Index of `value` among the row's choices, or -1: a preset may hold a value
// the panel does not offer, and then no choice is shown as selected.
template <typename T, typename S>
int indexOf(const settings::Setting<T, S>& row, T value)
{
    for (size_t i = 0; i < row.options.size(); ++i)
        if (row.options[i] == value)
            return static_cast<int>(i);
    return -1;
}

template <typename T, typename S>
ParamSlider* makeSlider(ScopeSettings& model, const settings::Setting<T, S>& row, QWidget* parent)
{
    auto* slider = new ParamSlider(text(row.caption), row.minimum, row.maximum, parent);
    QObject::connect(slider, &ParamSlider::valueEdited, slider, [&model, &row](float v) { model.set(row, v); });
    return slider;
}

// A segmented picker of every choice: an enumeration's raw values, or numbers.
template <typename T, typename S>
SegmentedPicker* makePicker(ScopeSettings& model, const settings::Setting<T, S>& row, int width,
                            const QString& accessibleName, QWidget* parent)
{
    QStringList labels;
    for (T option : row.options) {
        if constexpr (std::is_enum_v<T>)
            labels << rawValueString(option);
        else
            labels << QString::number(option);
    }
    auto* picker = new SegmentedPicker(labels, width, parent);
    picker->setAccessibleName(accessibleName);
    QObject::connect(picker, &SegmentedPicker::activated, picker,
                     [&model, &row](int i) { model.set(row, row.options[static_cast<size_t>(i)]); });
    return picker;
}

// A small pop-up list of the row's choices, each shown by `format`.
template <typename T, typename S, typename Format>
QComboBox* makePopup(ScopeSettings& model, const settings::Setting<T, S>& row, int width, Format format,
                     const QString& accessibleName, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setFixedWidth(width);
    box->setFont(monoFont(10));
    box->setFocusPolicy(Qt::TabFocus);
    box->setAccessibleName(accessibleName);
    for (T option : row.options)
        box->addItem(format(option));
    QObject::connect(box, &QComboBox::activated, box,
                     [&model, &row](int i) { model.set(row, row.options[static_cast<size_t>(i)]); });
    return box;
}

template <typename T, typename S>
void showValue(SegmentedPicker* picker, const settings::Setting<T, S>& row, T value)
{
    picker->setCurrentIndex(indexOf(row, value));
}

template <typename T, typename S>
void showValue(QComboBox* box, const settings::Setting<T, S>& row, T value)
{
    const QSignalBlocker block(box);
    box->setCurrentIndex(indexOf(row, value));
}

}  // namespace ui
