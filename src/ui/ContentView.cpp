#include "ui/ContentView.h"

#include "audio/AudioEngine.h"
#include "settings/RecentFiles.h"
#include "settings/ScopeSettings.h"
#include "ui/ControlPanel.h"
#include "ui/DeviceSelector.h"
#include "ui/RenderDialog.h"
#include "ui/ScopeView.h"
#include "ui/Snapshot.h"
#include "ui/UiStyle.h"
#include "ui/VideoRenderTask.h"
#include "ui/panel/RenderStatus.h"
#include "ui/panel/TransportBar.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

ContentView::ContentView(AudioEngine& engine, ScopeSettings& settings, QWidget* parent)
    : QWidget(parent),
      m_engine(engine),
      m_settings(settings),
      m_recent(new RecentFiles(settings.store(), this)),
      m_scopeView(new ScopeView(engine, settings)),
      m_scopeContainer(QWidget::createWindowContainer(m_scopeView, this)),
      m_panel(new ControlPanel(engine, settings, this)),
      m_leaveFullScreen(new QShortcut(Qt::Key_Escape, this))
{
    setMinimumSize(kDefaultSize);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(30, 30, 30));
    setPalette(palette);

    QSizePolicy keepPlace = m_scopeContainer->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    keepPlace.setVerticalPolicy(QSizePolicy::Expanding);
    m_scopeContainer->setSizePolicy(keepPlace);
    m_scopeContainer->setMinimumHeight(1);

    m_panel->setMinimumHeight(120);
    m_panel->setMaximumHeight(200);
    m_panel->setAutoFillBackground(true);
    QPalette panelPalette = m_panel->palette();
    panelPalette.setColor(QPalette::Window, ui::kPanelBackground);
    m_panel->setPalette(panelPalette);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_scopeContainer, 1);
    column->addWidget(m_panel, 0);

    // The GL window eats its own mouse events; its double clicks are the shell's.
    connect(m_scopeView, &ScopeView::doubleClicked, this, &ContentView::resetWindowSize);
    connect(m_panel, &ControlPanel::backgroundDoubleClicked, this, &ContentView::resetWindowSize);
    connect(m_panel, &ControlPanel::snapshotRequested, this, &ContentView::saveSnapshot);

    // Window shortcuts also reach us while the GL window has the focus. Esc
    // is taken only in full screen, so it never steals a pop-up's Esc. A
    // held F11 or Ctrl+S acts once, not at the keyboard's repeat rate.
    auto* fullScreen = new QShortcut(Qt::Key_F11, this);
    fullScreen->setAutoRepeat(false);
    connect(fullScreen, &QShortcut::activated, this, &ContentView::toggleFullScreen);
    m_leaveFullScreen->setEnabled(false);
    connect(m_leaveFullScreen, &QShortcut::activated, this, [this] {
        window()->setWindowState(window()->windowState() & ~Qt::WindowFullScreen);
    });
    auto* save = new QShortcut(QKeySequence::Save, this);
    save->setAutoRepeat(false);
    connect(save, &QShortcut::activated, this, &ContentView::saveSnapshot);
    connect(new QShortcut(QKeySequence::Quit, this), &QShortcut::activated, this, [this] { window()->close(); });
    auto* open = new QShortcut(QKeySequence::Open, this);
    open->setAutoRepeat(false);
    connect(open, &QShortcut::activated, this, &ContentView::openFileDialog);
    auto* render = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    render->setAutoRepeat(false);
    connect(render, &QShortcut::activated, this, &ContentView::openRenderDialog);
    connect(m_panel->transportBar(), &TransportBar::renderRequested, this, &ContentView::openRenderDialog);
    connect(m_panel->renderStatus(), &RenderStatus::cancelRequested, this, [this] {
        if (m_render)
            m_render->cancel();
    });
    setAcceptDrops(true);
    DeviceSelector* sources = m_panel->deviceSelector();
    sources->setRecentFiles(m_recent);
    connect(sources, &DeviceSelector::fileChosen, this, &ContentView::openFile);
    connect(sources, &DeviceSelector::openFileRequested, this, &ContentView::openFileDialog);
    // Space is no shortcut, so that a focused button keeps it; what nobody
    // takes comes here, from the panel or from the GL window.
    m_scopeView->installEventFilter(this);
    connect(&m_settings, &ScopeSettings::willChange, this, &ContentView::followScopeVisibility,
            Qt::QueuedConnection);
    followScopeVisibility();
}

void ContentView::followScopeVisibility()
{
    m_scopeContainer->setVisible(m_settings.scopeVisible());
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_restored)
        return;
    m_restored = true;
    m_settings.loadLastSession();
    m_settings.startAutoSave();
}

void ContentView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange)
        m_leaveFullScreen->setEnabled(window()->isFullScreen());
    QWidget::changeEvent(event);
}

void ContentView::toggleFullScreen()
{
    // A maximised window comes back maximised.
    window()->setWindowState(window()->windowState() ^ Qt::WindowFullScreen);
}

void ContentView::toggleCapture() { m_panel->startStopButton()->click(); }

void ContentView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && !event->isAutoRepeat()) {
        toggleCapture();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool ContentView::eventFilter(QObject* watched, QEvent* event)
{
    // The scope is a window of its own: a file dropped on it reaches it, not this widget.
    const QEvent::Type type = event->type();
    if (watched == m_scopeView && (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop))
        return takeDrop(static_cast<QDropEvent*>(event), type);
    if (watched == m_scopeView && type == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && !key->isAutoRepeat()) {
            toggleCapture();
            return true;
        }
        if ((key->key() == Qt::Key_Left || key->key() == Qt::Key_Right) && key->modifiers() == Qt::NoModifier &&
            m_engine.selectedDeviceID() == AudioDeviceInfo::kFileID) {
            seekBy(key->key() == Qt::Key_Left ? -kSeekStepSeconds : kSeekStepSeconds);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ContentView::seekBy(double seconds)
{
    const double rate = m_engine.sampleRate();
    if (rate > 0)
        m_engine.seekFile(m_engine.filePosition() + static_cast<int64_t>(seconds * rate));
}

void ContentView::openFile(const QString& path)
{
    if (m_engine.openFile(path))
        m_recent->add(path);
}

void ContentView::openRenderDialog()
{
    if (m_render)
        return;
    const QString input = m_engine.selectedDeviceID() == AudioDeviceInfo::kFileID ? m_engine.filePath() : QString();
    RenderDialog dialog(input, m_settings.values(), this);
    if (dialog.exec() == QDialog::Accepted)
        startRender(dialog.job());
}

bool ContentView::startRender(const VideoRenderJob& job)
{
    if (m_render)
        return false;
    m_render = new VideoRenderTask(job, this);
    RenderStatus* status = m_panel->renderStatus();
    status->begin(QString::fromStdString(job.output));
    status->show();
    m_panel->transportBar()->renderButton()->setEnabled(false);
    m_renderClock.start();
    connect(m_render, &VideoRenderTask::progressed, this, [this, status](qint64 done, qint64 total) {
        status->showProgress(done, total, static_cast<double>(done) * 1000.0 /
                                              static_cast<double>(std::max<qint64>(1, m_renderClock.elapsed())));
    });
    connect(m_render, &VideoRenderTask::finished, this, [this, status](const RenderOutcome& outcome) {
        const QString output = QString::fromStdString(m_render->job().output);
        m_render->deleteLater();
        m_render = nullptr;
        status->hide();
        m_panel->transportBar()->renderButton()->setEnabled(true);
        if (outcome.ok)
            m_panel->showNote(QStringLiteral("Saved ") + QFileInfo(output).fileName(), output, true);
        else if (outcome.cancelled)
            m_panel->showNote(QStringLiteral("Video render cancelled"), output, true);
        else
            m_panel->showNote(QStringLiteral("Video could not be rendered"), QString::fromStdString(outcome.error),
                              false);
    });
    m_render->start();
    return true;
}

void ContentView::openFileDialog()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open File"), QFileInfo(m_engine.filePath()).path(),
        QStringLiteral("Sound files (*.wav *.wave *.aif *.aiff *.aifc *.flac *.mp3 *.ogg *.oga *.opus *.m4a *.aac "
                       "*.mp4 *.mkv *.webm *.mov);;All files (*)"));
    if (!path.isEmpty())
        openFile(path);
}

void ContentView::dragEnterEvent(QDragEnterEvent* event) { takeDrop(event, QEvent::DragEnter); }

void ContentView::dropEvent(QDropEvent* event) { takeDrop(event, QEvent::Drop); }

bool ContentView::takeDrop(QDropEvent* event, QEvent::Type type)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile())
        return false;
    event->acceptProposedAction();
    if (type == QEvent::Drop)
        openFile(urls.first().toLocalFile());
    return true;
}

void ContentView::saveSnapshot()
{
    const QImage picture = m_scopeView->grabPicture();
    m_panel->showSnapshotResult(picture.isNull() ? std::nullopt : ui::saveSnapshot(picture));
}

void ContentView::mouseDoubleClickEvent(QMouseEvent* event)
{
    resetWindowSize();
    event->accept();
}

void ContentView::resetWindowSize()
{
    QWidget* top = window();
    if (!top || !top->isVisible() || top->isMaximized() || top->isFullScreen())
        return;
    // The frame margins do not change, so keeping the content's centre keeps
    // the outer frame's centre too. The content never goes below its minimum.
    const QRect content = top->geometry();
    QRect goal(QPoint(0, 0), kDefaultSize.expandedTo(top->minimumSize()));
    goal.moveCenter(content.center());

    // Wayland clients cannot place their windows (and do not know where they
    // are): there the size alone changes.
    const bool placeable = !ui::isWayland();
    if (!m_resize) {
        m_resize = new QPropertyAnimation(top, placeable ? "geometry" : "size", this);
        m_resize->setDuration(220);
        m_resize->setEasingCurve(QEasingCurve::OutCubic);
    }
    m_resize->stop();
    m_resize->setStartValue(placeable ? QVariant(content) : QVariant(content.size()));
    m_resize->setEndValue(placeable ? QVariant(goal) : QVariant(goal.size()));
    m_resize->start();
}
