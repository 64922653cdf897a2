#include "audio/SystemAudioCapture.h"

#include "audio/AudioDeviceManager.h"

#include <cmath>

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<RingBuffer> ringBuffer,
                                       AudioBackend& backend, std::function<void()> statusChanged)
    : Capture(std::move(ringBuffer), std::move(statusChanged)), m_backend(backend)
{
}

void SystemAudioCapture::start(const ServerState& server)
{
    if (!server.reachable)
        return m_receiver.failStart(AudioBackend::kServerLost);
    const OutputInfo& output = server.output;
    if (output.sink.empty())
        return m_receiver.failStart(AudioBackend::kNoOutputDevice);
    // Servers run at whole rates; a fraction would be cut by the server anyway.
    const double rate = AudioDeviceManager::usableSampleRate(output.sampleRate).value_or(0.0);
    m_requestedRate = std::trunc(rate) >= 1.0 ? std::trunc(rate) : kFallbackSampleRate;
    OpenResult opened = m_backend.openSystemAudio(output.monitor, m_requestedRate, kFragmentFrames, m_receiver);
    if (!opened.stream)
        return m_receiver.failStart(opened.error.empty() ? "System Audio could not be started" : opened.error);
    m_sink = output.sink;
    m_stream = std::move(opened.stream);
}

