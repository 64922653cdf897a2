#pragma once

#include <QWidget>

class AudioEngine;
class QComboBox;
class QLabel;
class QToolButton;

// "Source:", a picker over the engine's sources bound to its selection, and a
// refresh button. Choosing a source only changes the selection: a running
// capture goes on with the old source until the next start.
class DeviceSelector : public QWidget {
    Q_OBJECT
public:
    explicit DeviceSelector(AudioEngine& engine, QWidget* parent = nullptr);

    QComboBox* picker() const { return m_picker; }
    QToolButton* refreshButton() const { return m_refresh; }

    // Re-reads the engine's list (and the selection), or its selection alone.
    void rebuild();
    void showSelection();

protected:
    bool event(QEvent* event) override;

private:
    AudioEngine& m_engine;
    QLabel* m_caption;
    QComboBox* m_picker;
    QToolButton* m_refresh;
};
