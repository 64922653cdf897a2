#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QOpenGLWindow>
#include <QPointer>
#include <QTimer>

#include "settings/SettingsTable.h"

#include <array>
#include <memory>
#include <optional>

class AudioEngine;
class RingBuffer;
class ScopeRenderer;
class ScopeSettings;

// The scope picture: a native GL window (placed in the widget window with a
// window container) that owns the renderer, drives its frames at the chosen
// rate and copies the settings and the engine's state into it.
//
// Main thread only. Without an OpenGL 4.3 core context there is no renderer:
// the area stays empty and everything else keeps working.
class ScopeView : public QOpenGLWindow {
    Q_OBJECT
public:
    // Frame rates outside this range (0, negative, absurd) are held to it.
    static constexpr int kMinFrameRate = 1;
    static constexpr int kMaxFrameRate = 240;

    ScopeView(AudioEngine& engine, ScopeSettings& settings);
    ~ScopeView() override;

    ScopeRenderer* renderer() const { return m_renderer.get(); }

    // The rate frames are requested at, after holding it to the sane range.
    int frameRate() const { return m_frameRate; }
    void setFrameRate(long long requested);

    // Copies every display setting and the engine's ring buffer and rate into
    // the renderer; wakes the frames when any of them changed.
    void syncRenderer();

    // True while frames are being requested. With capture stopped they stop
    // once nothing on screen can change: the picture is black to the display
    // (or, redrawn from the held samples in waveform mode, steady: at the
    // latest after beam::framesToFade frames) and the meters, still
    // analysing the held samples, have settled (at the latest after
    // kMeterFrameLimit frames).
    bool isAnimating() const { return m_frameTimer.isActive(); }
    // Frames after which meters that still move count as settled: the
    // slowest, the KX hold releasing 3 % a run, is then within 0.97^500 of
    // its end. A bound only for values that never quite converge.
    static constexpr int64_t kMeterFrameLimit = 3000;

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
    bool atRest();
    void noteMeter(size_t meter, float value);
    void wake();
    void releaseRenderer();

    AudioEngine& m_engine;
    ScopeSettings& m_settings;
    std::unique_ptr<ScopeRenderer> m_renderer;
    QTimer m_frameTimer;
    QElapsedTimer m_clock;
    qint64 m_nextFrameNs = 0;
    int m_frameRate = 120;
    int64_t m_stoppedFrames = 0;     // since capture stopped or the view woke
    int64_t m_meterQuietFrames = 0;  // since a published meter value last moved
    std::array<float, 4> m_meters;   // last published; NaN: none yet
    bool m_syncPending = false;
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
