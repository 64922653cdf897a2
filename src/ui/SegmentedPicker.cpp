#include "ui/SegmentedPicker.h"

#include "ui/UiStyle.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>

SegmentedPicker::SegmentedPicker(const QStringList& labels, int width, QWidget* parent)
    : QWidget(parent), m_labels(labels), m_group(new QButtonGroup(this))
{
    setFixedWidth(width);
    setFixedHeight(20);
    setFocusPolicy(Qt::TabFocus);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    m_group->setExclusive(true);
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QToolButton(this);
        button->setText(labels[i]);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        button->setFont(ui::monoFont(10));
        const bool first = i == 0, last = i == labels.size() - 1;
        button->setStyleSheet(QStringLiteral(
            "QToolButton { background: #3a3a3c; color: #d8d8da; border: none; padding: 0 2px;"
            " border-top-left-radius: %1px; border-bottom-left-radius: %1px;"
            " border-top-right-radius: %2px; border-bottom-right-radius: %2px; }"
            "QToolButton:hover { background: #48484a; }"
            "QToolButton:checked { background: #6c6c70; color: white; }")
                                  .arg(first ? 5 : 0)
                                  .arg(last ? 5 : 0));
        m_group->addButton(button, i);
        row->addWidget(button);
    }
    connect(m_group, &QButtonGroup::idClicked, this, &SegmentedPicker::activated);
}

void SegmentedPicker::setCurrentIndex(int index)
{
    if (index == currentIndex())
        return;
    const QSignalBlocker block(m_group);
    if (auto* button = m_group->button(index)) {
        button->setChecked(true);
        return;
    }
    // Nothing matches (a value outside the options): show no selection.
    m_group->setExclusive(false);
    for (auto* button : m_group->buttons())
        button->setChecked(false);
    m_group->setExclusive(true);
}

int SegmentedPicker::currentIndex() const { return m_group->checkedId(); }

QAbstractButton* SegmentedPicker::button(int index) const { return m_group->button(index); }

void SegmentedPicker::keyPressEvent(QKeyEvent* event)
{
    const int current = currentIndex();
    int next;
    switch (event->key()) {
    case Qt::Key_Left: next = std::max(current - 1, 0); break;
    case Qt::Key_Right: next = std::min(current + 1, count() - 1); break;
    case Qt::Key_Home: next = 0; break;
    case Qt::Key_End: next = count() - 1; break;
    default: QWidget::keyPressEvent(event); return;  // Space, Tab: the window's
    }
    if (next != current)
        m_group->button(next)->click();
}
