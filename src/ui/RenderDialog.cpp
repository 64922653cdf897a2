#include "ui/RenderDialog.h"

#include "ui/UiStyle.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

namespace {

// A line edit with a "Choose…" button that fills it from a file dialog.
QWidget* pathRow(QLineEdit* field, const std::function<QString()>& choose, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field, 1);
    auto* button = new QPushButton(QStringLiteral("Choose\u2026"), row);
    QObject::connect(button, &QPushButton::clicked, row, [field, choose] {
        if (const QString path = choose(); !path.isEmpty())
            field->setText(path);
    });
    layout->addWidget(button);
    return row;
}

}  // namespace

RenderDialog::RenderDialog(const QString& input, const DisplaySettings& settings, QWidget* parent)
    : QDialog(parent),
      m_settings(settings),
      m_input(new QLineEdit(input, this)),
      m_output(new QLineEdit(defaultOutput(input), this)),
      m_size(new QComboBox(this)),
      m_fps(new QComboBox(this)),
      m_problem(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Render Video"));
    m_input->setMinimumWidth(360);
    m_input->setAccessibleName(QStringLiteral("Sound file"));
    m_output->setAccessibleName(QStringLiteral("Video file"));
    for (const QSize size : {QSize(1280, 720), QSize(1920, 1080), QSize(3840, 2160)})
        m_size->addItem(QStringLiteral("%1 \u00d7 %2").arg(size.width()).arg(size.height()), size);
    m_size->setCurrentIndex(1);
    for (const int fps : {30, 60, 120})
        m_fps->addItem(QStringLiteral("%1 fps").arg(fps), fps);
    m_fps->setCurrentIndex(1);
    m_problem->setStyleSheet(QStringLiteral("color: %1;").arg(ui::css(ui::kRed)));
    m_problem->setWordWrap(true);
    m_problem->hide();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Sound file:"), pathRow(m_input, [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Render Which File"), m_input->text());
    }, this));
    form->addRow(QStringLiteral("Video file:"), pathRow(m_output, [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save Video As"), m_output->text(),
                                            QStringLiteral("MP4 video (*.mp4);;Matroska video (*.mkv);;"
                                                           "WebM video (*.webm)"));
    }, this));
    form->addRow(QStringLiteral("Size:"), m_size);
    form->addRow(QStringLiteral("Frame rate:"), m_fps);
    connect(m_input, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_output->text().isEmpty())
            m_output->setText(defaultOutput(text));
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->addButton(QStringLiteral("Render"), QDialogButtonBox::AcceptRole)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &RenderDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RenderDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
}

QString RenderDialog::defaultOutput(const QString& input)
{
    if (input.isEmpty())
        return {};
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QFileInfo(input).absolutePath();
    return QDir(folder).filePath(QFileInfo(input).completeBaseName() + QStringLiteral(".mp4"));
}

VideoRenderJob RenderDialog::job() const
{
    VideoRenderJob job;
    job.input = m_input->text().toStdString();
    job.output = m_output->text().toStdString();
    const QSize size = m_size->currentData().toSize();
    job.width = size.width();
    job.height = size.height();
    job.fps = m_fps->currentData().toInt();
    job.settings = m_settings;
    job.overwrite = m_overwrite;
    return job;
}

void RenderDialog::accept()
{
    QString problem;
    if (!QFileInfo(m_input->text()).isFile())
        problem = QStringLiteral("Choose a sound file to render.");
    else if (const std::string why = VideoRender::check(job()); !why.empty())
        problem = QString::fromStdString(why);
    m_problem->setText(problem);
    m_problem->setVisible(!problem.isEmpty());
    if (!problem.isEmpty())
        return;
    m_overwrite = false;
    if (QFileInfo::exists(m_output->text())) {
        const auto answer = QMessageBox::question(
            this, QStringLiteral("Replace File"),
            QStringLiteral("\"%1\" already exists. Replace it?").arg(QFileInfo(m_output->text()).fileName()));
        if (answer != QMessageBox::Yes)
            return;
        m_overwrite = true;
    }
    QDialog::accept();
}
