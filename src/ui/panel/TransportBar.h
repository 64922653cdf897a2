#pragma once

#include <QWidget>

class AudioEngine;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;
class QToolButton;

// While a file is the source: its name, a seek bar with the time heard and
// the whole length, the loop and mute toggles, and "Render Video…". Play and
// pause are the panel's Start/Stop button.
class TransportBar : public QWidget {
    Q_OBJECT
public:
    explicit TransportBar(AudioEngine& engine, QWidget* parent = nullptr);

    // Follows the engine: the file, whether it plays, the toggles.
    void showEngine();

    QSlider* seekBar() const { return m_seek; }
    QLabel* timeLabel() const { return m_time; }
    QToolButton* loopButton() const { return m_loop; }
    QToolButton* muteButton() const { return m_mute; }
    QPushButton* renderButton() const { return m_render; }

signals:
    void renderRequested();

private:
    void showPosition();
    int64_t framesAt(int sliderValue) const;

    AudioEngine& m_engine;
    QLabel* m_name;
    QSlider* m_seek;
    QLabel* m_time;
    QToolButton* m_loop;
    QToolButton* m_mute;
    QPushButton* m_render;
    QTimer* m_clock;  // moves the bar while the file plays
};
