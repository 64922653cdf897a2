#include "ui/ScopeView.h"

#include "audio/AudioEngine.h"
#include "renderer/BeamModel.h"
#include "renderer/ScopeRenderer.h"
#include "settings/ScopeSettings.h"
#include "ui/UiStyle.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

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

// A change of a published meter value below this is taken for settled: the
// slowest meter (the KX hold, 3 % a run) then has less than 3.4e-4 left to
// go, a thirtieth of a displayed percent.
constexpr float kMeterSettled = 1e-5f;

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
    m_meters.fill(std::numeric_limits<float>::quiet_NaN());
    setFrameRate(m_settings.frameRate());

    m_settings.onFrameRateChanged = [view = QPointer<ScopeView>(this)](long long rate) {
        if (view)
            view->setFrameRate(rate);
    };
    connect(&m_settings, &ScopeSettings::willChange, this, &ScopeView::scheduleSync, Qt::QueuedConnection);
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
                view->noteMeter(meter, value);
            write(value);
        };
    };
    m_renderer->core().meters().onRhythmAnalysis = publish(0, &ScopeSettings::setRhythmMatchRate);
    m_renderer->core().meters().onPressureAnalysis = publish(1, &ScopeSettings::setExpansionPressure);
    m_renderer->core().meters().onDensityAnalysis = publish(2, &ScopeSettings::setSignalDensity);
    m_renderer->core().meters().onCurvatureAnalysis = publish(3, &ScopeSettings::setEnvelopeCurvature);
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
    if (!m_renderer)
        return;
    makeCurrent();
    m_renderer.reset();
    doneCurrent();
}

void ScopeView::scheduleSync()
{
    if (m_syncPending)
        return;
    m_syncPending = true;
    QMetaObject::invokeMethod(this, [this] {
        m_syncPending = false;
        syncRenderer();
    }, Qt::QueuedConnection);
}

void ScopeView::syncRenderer()
{
    ScopeRenderer* r = m_renderer.get();
    if (!r)
        return;
    // Frames resume only when what they would draw can change: the meters'
    // own writes (every sixth frame) must not keep a resting scope awake.
    const auto displayed = [r] {
        return std::tuple(r->core().ringBuffer, r->core().sampleRate, r->displayMode, r->decay, r->intensity,
                          r->beamWidth, r->speedSensitivity, r->xyRotationAngle, r->beamColor, r->scopeVisible,
                          r->core().kxScaleMode, r->xyGain, r->waveformGain, r->core().triggerEnabled,
                          r->core().triggerLevel, r->core().triggerChannel, r->timePerDivision,
                          r->core().displaySampleCount, r->core().displayFilterType, r->core().displayFilterFrequency);
    };
    const auto before = displayed();
    const ScopeSettings& s = m_settings;
    r->core().ringBuffer = m_engine.ringBuffer();
    r->core().sampleRate = m_engine.sampleRate();
    r->displayMode = s.displayMode() == DisplayMode::waveform ? 1 : 0;
    r->decay = s.decay();
    r->intensity = s.intensity();
    r->beamWidth = s.beamWidth();
    r->speedSensitivity = s.speedSensitivity();
    r->xyRotationAngle = s.xyRotation() == XYRotation::deg0 ? 0.7853981f : 0.0f;
    const auto color = s.beamColor();
    r->beamColor = {color.red, color.green, color.blue};
    r->scopeVisible = s.scopeVisible();
    r->core().kxScaleMode = static_cast<int64_t>(s.kxScaleMode());  // the case's position: EDM, ROCK, MIX
    r->xyGain = s.xyGain();
    r->waveformGain = s.waveformGain();
    r->core().triggerEnabled = s.triggerEnabled();
    r->core().triggerLevel = s.triggerLevel();
    r->core().triggerChannel = s.triggerChannel();
    r->timePerDivision = s.timePerDivision();
    r->core().displaySampleCount = s.samplesForDisplay(m_engine.sampleRate());
    r->core().displayFilterType = static_cast<int64_t>(s.displayFilterType());  // OFF, LP, HP, BP
    r->core().displayFilterFrequency = s.displayFilterFrequency();

    if (displayed() != before || m_engine.isRunning())
        wake();
}

void ScopeView::setFrameRate(long long requested)
{
    m_frameRate = static_cast<int>(std::clamp<long long>(requested, kMinFrameRate, kMaxFrameRate));
    if (m_frameTimer.isActive()) {
        m_nextFrameNs = m_clock.nsecsElapsed();
        onFrameTick();
    }
}

void ScopeView::noteMeter(size_t meter, float value)
{
    if (!(std::abs(value - m_meters[meter]) < kMeterSettled))
        m_meterQuietFrames = 0;
    m_meters[meter] = value;
}

void ScopeView::wake()
{
    m_stoppedFrames = 0;
    m_meterQuietFrames = 0;
    if (!m_renderer || m_frameTimer.isActive())
        return;
    m_nextFrameNs = m_clock.nsecsElapsed();
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
        static const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
        makeCurrent();
        paintGL();
        if (wayland && isVisible())
            context()->swapBuffers(this);
        doneCurrent();
    }

    // With capture stopped nothing new arrives: once nothing on screen can
    // change, stop asking for frames. Any change of settings or engine, a
    // meter reset, a resize or an expose starts them again.
    if (m_engine.isRunning()) {
        m_stoppedFrames = 0;
    } else if (atRest()) {
        m_frameTimer.stop();
        return;
    }

    const qint64 period = 1'000'000'000LL / m_frameRate;
    const qint64 now = m_clock.nsecsElapsed();
    m_nextFrameNs += period;
    if (m_nextFrameNs < now)  // fell behind (a busy main thread): do not try to catch up
        m_nextFrameNs = now + period;
    m_frameTimer.start(static_cast<int>((m_nextFrameNs - now + 500'000) / 1'000'000));
}

bool ScopeView::atRest()
{
    if (!m_renderer)
        return true;
    // A waveform picture never goes black: redrawn from the same samples, it
    // is steady once any light it held at the stop has faded.
    const bool pictureSteady = !m_renderer->scopeVisible || m_renderer->resting() ||
                               m_stoppedFrames > beam::framesToFade(m_renderer->decay);
    // A whole analysis run without a visible move: the next runs, on the same
    // samples, would not move them either.
    const bool metersSettled =
        m_meterQuietFrames > MeterSchedule::analysisInterval || m_stoppedFrames > kMeterFrameLimit;
    return pictureSteady && metersSettled;
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
            gl->glClearColor(0.04f, 0.04f, 0.04f, 1.0f);
            gl->glClear(GL_COLOR_BUFFER_BIT);
        }
        return;
    }
    const qreal ratio = devicePixelRatio();
    m_renderer->draw(defaultFramebufferObject(), qRound(width() * ratio), qRound(height() * ratio));
    // Frames drawn, not requested: those are what fade the picture and run the analysis.
    ++m_meterQuietFrames;
    if (!m_engine.isRunning())
        ++m_stoppedFrames;
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
