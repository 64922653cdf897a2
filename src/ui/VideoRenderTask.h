#pragma once

#include "video/VideoRender.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>

// One video render in the background, beside the live view: the render
// runs on a thread of its own (with its own headless GL context) and
// reports on this object's thread. Destroying it cancels the render and
// waits for it to end (nothing is left at the output then).
class VideoRenderTask : public QObject {
    Q_OBJECT
public:
    explicit VideoRenderTask(VideoRenderJob job, QObject* parent = nullptr);
    ~VideoRenderTask() override;

    void start();
    void cancel() { m_cancel.store(true); }
    const VideoRenderJob& job() const { return m_job; }

signals:
    // Frames done and the total (-1 while unknown), a few times a second.
    void progressed(qint64 done, qint64 total);
    void finished(const RenderOutcome& outcome);

private:
    const VideoRenderJob m_job;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};
