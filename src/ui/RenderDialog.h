#pragma once

#include "video/VideoRender.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;

// "Render Video…": which file, where to, at what size and frame rate. The
// picture's settings are the scope's current ones. Accepting it asks before
// replacing an existing file.
class RenderDialog : public QDialog {
    Q_OBJECT
public:
    // `input` may be empty: the user picks the file here.
    RenderDialog(const QString& input, const DisplaySettings& settings, QWidget* parent = nullptr);

    // The render the fields describe.
    VideoRenderJob job() const;

    QLineEdit* inputField() const { return m_input; }
    QLineEdit* outputField() const { return m_output; }
    QComboBox* sizePicker() const { return m_size; }
    QComboBox* ratePicker() const { return m_fps; }

    // Where a video of `input` goes unless the user says otherwise: the
    // Videos folder, the file's name with .mp4.
    static QString defaultOutput(const QString& input);

    void accept() override;

private:
    DisplaySettings m_settings;
    QLineEdit* m_input;
    QLineEdit* m_output;
    QComboBox* m_size;
    QComboBox* m_fps;
    QLabel* m_problem;
    bool m_overwrite = false;
};
