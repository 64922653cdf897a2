#pragma once

#include "renderer/FramePacer.h"
#include "ui/CoalescedCall.h"

#include <QElapsedTimer>
#include <QImage>
#include <QOpenGLWindow>
#include <QPointer>
#include <QTimer>

#include "settings/SettingsTable.h"

#include <memory>
#include <optional>

class AudioEngine;
class RingBuffer;
class ScopeRenderer;
class ScopeSettings;

// The scope picture: a native GL window (placed in the widget window with a
// window container) that owns the renderer, drives its frames on the display's
// timer as its FramePacer says and copies the settings and the engine's state
// into it.
//
// Main thread only. Without an OpenGL 4.3 core context there is no renderer:
// the area stays empty and everything else keeps working.
class ScopeView : public QOpenGLWindow {
    Q_OBJECT
public:
    ScopeView(AudioEngine& engine, ScopeSettings& settings);
    ~ScopeView() override;

    ScopeRenderer* renderer() const { return m_renderer.get(); }

    // The rate frames are requested at, after holding it to the sane range.
    int frameRate() const { return m_pacer.frameRate(); }
    void setFrameRate(long long requested);

    // Copies every display setting and the engine's ring buffer and rate into
    // the renderer; wakes the frames when any of them changed.
    void syncRenderer();

    // True while frames are being requested. With capture stopped they stop
    // once nothing on screen can change (FramePacer::keepGoing).
    bool isAnimating() const { return m_frameTimer.isActive(); }

    // What the scope area shows now (the picture as displayed, not its
    // light), at its size in device pixels; null without a renderer.
    QImage grabPicture();

signals:
    void doubleClicked();
    // The renderer exists (initializeGL succeeded) or could not be made.
    void rendererReady(bool ok);

protected:
    void initializeGL() override;
    void paintGL() override;
    void resizeGL(int width, int height) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;

private:
    void scheduleSync();
    void onFrameTick();
    bool keepGoing();
    void wake();
    void releaseRenderer();

    AudioEngine& m_engine;
    ScopeSettings& m_settings;
    std::unique_ptr<ScopeRenderer> m_renderer;
    QTimer m_frameTimer;
    QElapsedTimer m_clock;
    FramePacer m_pacer;
    CoalescedCall m_syncCall{this, [this] { syncRenderer(); }};
    // What the renderer was last given.
    struct SyncedInputs {
        DisplaySettings values;
        bool scopeVisible;
        std::shared_ptr<RingBuffer> ring;
        double sampleRate;
        bool operator==(const SyncedInputs&) const = default;
    };
    std::optional<SyncedInputs> m_synced;
};
