#pragma once

#include "settings/SettingsTable.h"

#include <QWidget>

#include <optional>

class AudioEngine;
class DeviceSelector;
class QLabel;
class QPushButton;
class QTimer;
class QToolButton;
class ScopeSettings;
class SegmentedPicker;

// The panel's first row: display mode, the scope's visibility, snapshot,
// source, logo, snapshot note, sample rate, Start/Stop and the last error.
class HeaderRow : public QWidget {
    Q_OBJECT
public:
    HeaderRow(AudioEngine& engine, ScopeSettings& settings, QWidget* parent = nullptr);

    void showSettings(const DisplaySettings& values, bool scopeVisible);
    // `file`: a file is the source, and the button plays and pauses it.
    void showEngine(double sampleRate, bool running, const QString& error, bool file);
    // The phase correlation, "CORR: +0.98" in its tone, beside the rate
    // (the meter row has no room left at the smallest window).
    void showCorrelation(float value);
    void showSnapshotResult(const std::optional<QString>& path);
    // A note for a few seconds where the snapshot's goes: gray, or red when
    // something failed; `tip` says more.
    void showNote(const QString& text, const QString& tip, bool ok);
    void applyIcons(qreal ratio);

    SegmentedPicker* displayModePicker() const { return m_displayMode; }
    QToolButton* visibilityButton() const { return m_visibility; }
    QToolButton* snapshotButton() const { return m_snapshot; }
    QLabel* snapshotNote() const { return m_snapshotNote; }
    DeviceSelector* deviceSelector() const { return m_devices; }
    QLabel* logo() const { return m_logo; }
    QLabel* sampleRateLabel() const { return m_sampleRate; }
    QPushButton* startStopButton() const { return m_startStop; }
    QLabel* errorLabel() const { return m_error; }

signals:
    void snapshotRequested();

private:
    void showVisibility(bool visible, qreal ratio);

    ScopeSettings& m_settings;
    SegmentedPicker* m_displayMode;
    QToolButton* m_visibility;
    QToolButton* m_snapshot;
    DeviceSelector* m_devices;
    QLabel* m_logo;
    QLabel* m_snapshotNote;
    QTimer* m_snapshotNoteTimer;
    QLabel* m_sampleRate;
    QWidget* m_correlationBox;  // the caption and the reading
    QLabel* m_correlation;
    QPushButton* m_startStop;
    QLabel* m_error;
    std::optional<bool> m_shownVisible;
    qreal m_iconRatio = 1.0;
};
