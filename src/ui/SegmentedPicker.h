#pragma once

#include <QStringList>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;

// A row of joined toggle buttons, one of which is selected: the segmented
// control of the panel. One stop in the Tab order (the buttons take no focus,
// so clicks behave as before); Left/Right/Home/End choose like a click.
class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    SegmentedPicker(const QStringList& labels, int width, QWidget* parent = nullptr);

    // Selects `index` without emitting activated; -1 selects nothing.
    void setCurrentIndex(int index);
    int currentIndex() const;
    int count() const { return m_labels.size(); }
    QString label(int index) const { return m_labels.value(index); }
    QAbstractButton* button(int index) const;

signals:
    // The user picked `index`.
    void activated(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QStringList m_labels;
    QButtonGroup* m_group;
};
