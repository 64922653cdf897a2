#pragma once

#include <QWidget>

class QToolButton;
class ScopeSettings;

// PRESET and SAVE: a menu of the factory filter shortcuts and the saved
// presets (rebuilt each time it opens, so it always shows the stored list),
// with a confirmation before a preset is deleted, and the dialog that saves
// the current settings under a name.
class PresetControls : public QWidget {
    Q_OBJECT
public:
    explicit PresetControls(ScopeSettings& settings, QWidget* parent = nullptr);

    // Opens the "Save Preset" dialog with an empty name.
    void openSaveDialog();
    // Opens the "Delete Preset" confirmation for `name`.
    void confirmDelete(const QString& name);
    // The dialog's "Save": trims spaces and tabs; an empty name does nothing.
    void saveNamedPreset(const QString& typed);
    // Counts saves and deletes made here, for tests.
    int revision() const { return m_revision; }

    void applyIcons(qreal ratio);
    QToolButton* presetButton() const { return m_menuButton; }
    QToolButton* saveButton() const { return m_save; }

private:
    void rebuildMenu();

    ScopeSettings& m_settings;
    QToolButton* m_menuButton;
    QToolButton* m_save;
    int m_revision = 0;
};
