#pragma once

#include <QWidget>

class AudioEngine;
class QComboBox;
class QLabel;
class QToolButton;
class RecentFiles;

// "Source:", a picker over the engine's sources and the recent files bound to
// its selection, with "Open File…" last, and a refresh button. Choosing a source only changes the selection: a running
// capture goes on with the old source until the next start.
class DeviceSelector : public QWidget {
    Q_OBJECT
public:
    explicit DeviceSelector(AudioEngine& engine, QWidget* parent = nullptr);

    QComboBox* picker() const { return m_picker; }
    QToolButton* refreshButton() const { return m_refresh; }

    // The files listed below the devices; none until this is called.
    void setRecentFiles(RecentFiles* recent);

    // Re-reads the engine's list (and the selection), or its selection alone.
    void rebuild();
    void showSelection();
    // The source's tooltip as it reads now: a file's path, or system
    // audio's delay.
    QString sourceTip() const;

signals:
    // A listed file was picked, or "Open File…".
    void fileChosen(const QString& path);
    void openFileRequested();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Entry { device, file, openFile };
    static constexpr int kEntryRole = Qt::UserRole + 1;
    void add(const QString& text, const QVariant& value, Entry entry);

    AudioEngine& m_engine;
    RecentFiles* m_recent = nullptr;
    QLabel* m_caption;
    QComboBox* m_picker;
    QToolButton* m_refresh;
};
