#include "ui/ScopeView.h"

#include "audio/AudioEngine.h"
#include "renderer/BeamModel.h"
#include "renderer/ScopeRenderer.h"
#include "settings/ScopeSettings.h"
#include "ui/UiStyle.h"
#include "video/RendererSettings.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>


namespace {

QSurfaceFormat scopeFormat()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(4, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    // Without asking, Mesa's Wayland EGL hands out RGB565: a banded glow.
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setDepthBufferSize(0);
    format.setStencilBufferSize(0);
    // Frames are paced by our own timer; a blocking swap would hold the
    // whole interface thread whenever the rate exceeds the display's.
    format.setSwapInterval(0);
    return format;
}

// Schedules `apply(value)` on the settings' thread, later, and only while the
// settings object still exists: meters are never written inside a frame.
template <typename Setter>
std::function<void(float)> deferredWrite(ScopeSettings& settings, Setter apply)
{
    return [guard = QPointer<ScopeSettings>(&settings), apply](float value) {
        if (ScopeSettings* s = guard.data())
            QMetaObject::invokeMethod(s, [s, apply, value] { (s->*apply)(value); }, Qt::QueuedConnection);
    };
}

}  // namespace

ScopeView::ScopeView(AudioEngine& engine, ScopeSettings& settings)
    : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate), m_engine(engine), m_settings(settings)
{
    setFormat(scopeFormat());
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &ScopeView::onFrameTick);
    m_clock.start();
    setFrameRate(m_settings.frameRate());

    m_settings.onFrameRateChanged = [view = QPointer<ScopeView>(this)](long long rate) {
        if (view)
            view->setFrameRate(rate);
    };
    connect(&m_settings, &ScopeSettings::displayChanged, this, &ScopeView::scheduleSync, Qt::QueuedConnection);
    connect(&m_engine, &AudioEngine::willChange, this, &ScopeView::scheduleSync, Qt::QueuedConnection);
}

ScopeView::~ScopeView()
{
    m_frameTimer.stop();
    // GL objects must go while their context is current.
    if (m_renderer && context()) {
        makeCurrent();
        m_renderer.reset();
        doneCurrent();
    }
}

void ScopeView::initializeGL()
{
    QOpenGLContext* ctx = context();
    const QSurfaceFormat actual = ctx ? ctx->format() : QSurfaceFormat();
    const bool core43 = ctx && actual.profile() == QSurfaceFormat::CoreProfile &&
                        (actual.majorVersion() > 4 || (actual.majorVersion() == 4 && actual.minorVersion() >= 3));
    if (core43)
        m_renderer = ScopeRenderer::create(m_engine.ringBuffer());
    if (!m_renderer) {
        emit rendererReady(false);
        return;
    }
    connect(ctx, &QOpenGLContext::aboutToBeDestroyed, this, &ScopeView::releaseRenderer, Qt::DirectConnection);

    // The view (while it exists) hears of each value at once, to know when they settle.
    const auto publish = [this](size_t meter, auto apply) -> std::function<void(float)> {
        return [view = QPointer<ScopeView>(this), meter, write = deferredWrite(m_settings, apply)](float value) {
            if (view)
                view->m_pacer.noteMeter(meter, value);
            write(value);
        };
    };
    m_renderer->core().meters().onRhythmAnalysis = publish(0, &ScopeSettings::setRhythmMatchRate);
    m_renderer->core().meters().onPressureAnalysis = publish(1, &ScopeSettings::setExpansionPressure);
    m_renderer->core().meters().onDensityAnalysis = publish(2, &ScopeSettings::setSignalDensity);
    m_renderer->core().meters().onCurvatureAnalysis = publish(3, &ScopeSettings::setEnvelopeCurvature);
    m_renderer->core().meters().onCorrelationAnalysis = publish(4, &ScopeSettings::setPhaseCorrelation);
    m_settings.onResetAnalysis = [view = QPointer<ScopeView>(this)] {
        if (view && view->m_renderer) {
            view->m_renderer->core().meters().resetAnalysis();
            view->wake();  // the held samples bring the meters back up
        }
    };
    syncRenderer();
    emit rendererReady(true);
    wake();
}

void ScopeView::releaseRenderer()
{
    m_frameTimer.stop();
    m_synced.reset();
    if (!m_renderer)
        return;
    makeCurrent();
    m_renderer.reset();
    doneCurrent();
}

void ScopeView::scheduleSync()
{
    m_syncCall.request();
}

void ScopeView::syncRenderer()
{
    ScopeRenderer* r = m_renderer.get();
    if (!r)
        return;
    const SyncedInputs now{m_settings.values(), m_settings.scopeVisible(), m_engine.ringBuffer(),
                           m_engine.sampleRate()};
    r->core().ringBuffer = now.ring;
    applyDisplaySettings(*r, now.values, now.sampleRate);
    r->scopeVisible = now.scopeVisible;

    // Frames resume only when what they would draw can change: an engine
    // notification about its device list must not wake a resting scope.
    const bool changed = !(m_synced && *m_synced == now);
    m_synced = now;
    if (changed || m_engine.isRunning())
        wake();
}

void ScopeView::setFrameRate(long long requested)
{
    m_pacer.setFrameRate(requested);
    if (m_frameTimer.isActive()) {
        m_pacer.startAt(m_clock.nsecsElapsed());
        onFrameTick();
    }
}

void ScopeView::wake()
{
    m_pacer.wake();
    if (!m_renderer || m_frameTimer.isActive())
        return;
    m_pacer.startAt(m_clock.nsecsElapsed());
    m_frameTimer.start(0);
}

void ScopeView::onFrameTick()
{
    if (isExposed()) {
        update();
    } else if (m_renderer && context()) {
        // Hidden scope: no picture, but the frame still drains the ring and
        // runs the analysis, so the meters keep moving. On Wayland a visible
        // one is a subsurface that Qt never marks exposed: its frames are
        // shown by swapping here. (On X11 a visible, unexposed window is
        // minimised or covered: nothing to show.)
        static const bool wayland = ui::isWayland();
        makeCurrent();
        paintGL();
        if (wayland && isVisible())
            context()->swapBuffers(this);
        doneCurrent();
    }

    // With capture stopped nothing new arrives: once nothing on screen can
    // change, stop asking for frames. Any change of settings or engine, a
    // meter reset, a resize or an expose starts them again.
    if (!keepGoing()) {
        m_frameTimer.stop();
        return;
    }
    const qint64 waitNs = m_pacer.waitAfterFrame(m_clock.nsecsElapsed());
    m_frameTimer.start(static_cast<int>((waitNs + 500'000) / 1'000'000));
}

bool ScopeView::keepGoing()
{
    if (!m_renderer)
        return m_engine.isRunning();
    return m_pacer.keepGoing(m_engine.isRunning(),
                             {m_renderer->scopeVisible, m_renderer->resting(), m_renderer->decay});
}

QImage ScopeView::grabPicture()
{
    if (!m_renderer || !context())
        return {};
    const qreal ratio = devicePixelRatio();
    const QSize size(qRound(width() * ratio), qRound(height() * ratio));
    makeCurrent();
    QOpenGLFramebufferObject target(size);  // 8 bits a channel, like the display
    m_renderer->presentPicture(target.handle(), size.width(), size.height());
    QImage picture = target.toImage().convertToFormat(QImage::Format_RGB32);
    doneCurrent();
    return picture;
}

void ScopeView::paintGL()
{
    if (!m_renderer) {
        // No renderer (no 4.3 core context): an empty scope area, not garbage.
        if (QOpenGLContext* ctx = context()) {
            QOpenGLFunctions* gl = ctx->functions();
            gl->glClearColor(beam::kBackground, beam::kBackground, beam::kBackground, 1.0f);
            gl->glClear(GL_COLOR_BUFFER_BIT);
        }
        return;
    }
    const qreal ratio = devicePixelRatio();
    m_renderer->draw(defaultFramebufferObject(), qRound(width() * ratio), qRound(height() * ratio));
    m_pacer.frameDrawn(m_engine.isRunning());
}

void ScopeView::resizeGL(int, int)
{
    // The drawable is in device pixels.
    const qreal ratio = devicePixelRatio();
    // Qt does not always make the context current for this call (a resize
    // that arrives from the window system between frames).
    makeCurrent();
    if (m_renderer)
        m_renderer->resize(qRound(width() * ratio), qRound(height() * ratio));
    wake();
}

void ScopeView::exposeEvent(QExposeEvent* event)
{
    QOpenGLWindow::exposeEvent(event);
    wake();
}

void ScopeView::mouseDoubleClickEvent(QMouseEvent* event)
{
    emit doubleClicked();
    event->accept();
}
