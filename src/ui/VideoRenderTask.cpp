#include "ui/VideoRenderTask.h"

#include <QMetaObject>
#include <QPointer>

#include <chrono>

VideoRenderTask::VideoRenderTask(VideoRenderJob job, QObject* parent) : QObject(parent), m_job(std::move(job)) {}

VideoRenderTask::~VideoRenderTask()
{
    m_cancel.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void VideoRenderTask::start()
{
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this] {
        auto last = std::chrono::steady_clock::time_point{};
        const auto progress = [&](int64_t done, int64_t total) {
            const auto now = std::chrono::steady_clock::now();
            if (now - last < std::chrono::milliseconds(100))
                return;
            last = now;
            QMetaObject::invokeMethod(this, [this, done, total] { emit progressed(done, total); },
                                      Qt::QueuedConnection);
        };
        const RenderOutcome outcome = VideoRender::run(m_job, progress, m_cancel);
        // Queued: whoever listens may delete this object in the slot.
        QMetaObject::invokeMethod(this, [this, outcome] { emit finished(outcome); }, Qt::QueuedConnection);
    });
}
