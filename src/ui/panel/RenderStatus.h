#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// While a video renders: which file, how far (with the time left) and a
// Cancel button.
class RenderStatus : public QWidget {
    Q_OBJECT
public:
    explicit RenderStatus(QWidget* parent = nullptr);

    // A render of `output` begins: no progress yet.
    void begin(const QString& output);
    // Frames done of `total` (-1 while unknown).
    void showProgress(qint64 done, qint64 total, double fps);

    QProgressBar* bar() const { return m_bar; }
    QPushButton* cancelButton() const { return m_cancel; }

signals:
    void cancelRequested();

private:
    QLabel* m_name;
    QProgressBar* m_bar;
    QLabel* m_left;
    QPushButton* m_cancel;
};
