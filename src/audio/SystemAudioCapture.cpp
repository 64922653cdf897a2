#include "audio/SystemAudioCapture.h"

#include "audio/AudioDeviceManager.h"

#include <cmath>
#include <optional>

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<RingBuffer> ringBuffer,
                                       AudioBackend& backend, std::function<void()> statusChanged)
    : m_ringBuffer(std::move(ringBuffer)), m_backend(backend), m_status(std::move(statusChanged))
{
}

SystemAudioCapture::~SystemAudioCapture() { stop(); }

void SystemAudioCapture::start(const ServerState& server)
{
    const std::optional<OutputInfo> output =
        server.reachable ? std::optional(server.output) : std::nullopt;
    if (output && !output->sink.empty()) {
        // Servers run at whole rates; a fraction would be cut by the server anyway.
        const double rate = AudioDeviceManager::usableSampleRate(output->sampleRate).value_or(0.0);
        m_requestedRate = std::trunc(rate) >= 1.0 ? std::trunc(rate) : kFallbackSampleRate;
        OpenResult opened = m_backend.openSystemAudio(output->monitor, m_requestedRate, kFragmentFrames, *this);
        if (opened.stream) {
            m_sink = output->sink;
            m_stream = std::move(opened.stream);
            return;
        }
        m_startError = std::move(opened.error);
    } else {
        m_startError = output ? AudioBackend::kNoOutputDevice : AudioBackend::kServerLost;
    }
    if (m_startError.empty())
        m_startError = "System Audio could not be started";
    m_status.markFailed("start failed");  // the text is m_startError
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
