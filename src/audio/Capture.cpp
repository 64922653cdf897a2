#include "audio/Capture.h"

#include "audio/AudioDeviceManager.h"
#include "audio/InputCapture.h"

#include <cmath>

CaptureReceiver::CaptureReceiver(std::shared_ptr<RingBuffer> ringBuffer, std::function<void()> statusChanged)
    : m_ringBuffer(std::move(ringBuffer)), m_status(std::move(statusChanged))
{
}

void CaptureReceiver::audioArrived(const AudioBlock& block) noexcept
{
    if (m_stopped.load(std::memory_order_acquire))
        return;
    m_writer.write(block, *m_ringBuffer);
}

void CaptureReceiver::failStart(std::string text)
{
    m_startError = text.empty() ? std::string("The capture could not be started") : std::move(text);
    m_status.markFailed("start failed");  // the text is m_startError
}

std::string CaptureReceiver::failureText() const
{
    if (!m_startError.empty())
        return m_startError;
    const char* reason = m_status.failureReason();
    return reason ? std::string(reason) : std::string();
}

InputCapture::InputCapture(std::shared_ptr<RingBuffer> ringBuffer, AudioBackend& backend, uint32_t sourceID,
                           int fragmentFrames, std::function<void()> statusChanged)
    : Capture(std::move(ringBuffer), std::move(statusChanged)),
      m_backend(backend),
      m_sourceID(sourceID),
      m_fragmentFrames(fragmentFrames)
{
}

void InputCapture::start(const ServerState& server)
{
    const auto source = AudioDeviceManager::findInputSource(server, m_sourceID);
    if (!source)
        return m_receiver.failStart(server.reachable ? kUnavailable : AudioBackend::kServerLost);
    if (!std::isfinite(source->sampleRate) || source->sampleRate < 1.0)
        return m_receiver.failStart("The input device reports no usable sample rate");
    m_sampleRate = source->sampleRate;
    const InputStreamRequest request{source->name, source->sampleRate, source->channels, m_fragmentFrames};
    OpenResult opened = m_backend.openInput(request, m_receiver);
    if (!opened.stream)
        return m_receiver.failStart(opened.error.empty() ? "The input stream could not be opened" : opened.error);
    m_stream = std::move(opened.stream);
}
