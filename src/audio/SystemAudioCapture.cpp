#include "audio/SystemAudioCapture.h"

#include "audio/AudioDeviceManager.h"

#include <cmath>

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<RingBuffer> ringBuffer,
                                       AudioBackend& backend, std::function<void()> statusChanged)
    : m_ringBuffer(std::move(ringBuffer)), m_backend(backend), m_status(std::move(statusChanged))
{
}

SystemAudioCapture::~SystemAudioCapture() { stop(); }

void SystemAudioCapture::start()
{
    const double rate =
        AudioDeviceManager::defaultOutputSampleRate(m_backend).value_or(kFallbackSampleRate);
    // Servers run at whole rates; a fraction would be cut by the server anyway.
    m_requestedRate = std::trunc(rate) >= 1.0 ? std::trunc(rate) : kFallbackSampleRate;

    OpenResult opened = m_backend.openSystemAudio(m_requestedRate, kFragmentFrames, *this);
    if (!opened.stream) {
        m_startError = opened.error.empty() ? std::string("System Audio could not be started")
                                            : std::move(opened.error);
        m_status.markFailed("start failed");  // the text is m_startError
        return;
    }
    m_stream = std::move(opened.stream);
}

void SystemAudioCapture::stop()
{
    m_stopped.store(true, std::memory_order_release);
    m_stream.reset();
}

double SystemAudioCapture::capturedSampleRate() const
{
    return m_status.state() == StreamStatus::State::running ? m_requestedRate
                                                             : kFallbackSampleRate;
}

std::string SystemAudioCapture::failureText() const
{
    if (!m_startError.empty())
        return m_startError;
    const char* reason = m_status.failureReason();
    return reason ? std::string(reason) : std::string();
}

void SystemAudioCapture::audioArrived(const AudioBlock& block) noexcept
{
    if (m_stopped.load(std::memory_order_acquire))
        return;
    m_writer.write(block, *m_ringBuffer);
}
