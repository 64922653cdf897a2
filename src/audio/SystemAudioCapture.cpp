#include "audio/SystemAudioCapture.h"

#include "audio/AudioDeviceManager.h"

#include <cmath>

// Between the stream and the receiver: every block waits in a queue until
// the output plays it. The stream delivers interleaved stereo.
class SystemAudioCapture::Delay final : public AudioStreamCallbacks {
public:
    Delay(double rate, int64_t delayNs, CaptureReceiver& receiver)
        : m_delayNs(delayNs), m_receiver(receiver), m_queue(rate, 1.0 + static_cast<double>(delayNs) / 1e9, receiver)
    {
    }
    void audioArrived(const AudioBlock& block) noexcept override
    {
        if (block.channels == 2 && !block.nonInterleaved)
            m_queue.push(block.data, block.floatCount / 2, m_delayNs);
    }
    void streamStarted(double rate) noexcept override { m_receiver.streamStarted(rate); }
    void streamFailed(const char* reason) noexcept override { m_receiver.streamFailed(reason); }

private:
    const int64_t m_delayNs;
    CaptureReceiver& m_receiver;
    HeardQueue m_queue;
};

SystemAudioCapture::~SystemAudioCapture()
{
    stop();  // the stream first: its callbacks may be the queue's
    m_delay.reset();
}

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
    AudioStreamCallbacks* callbacks = &m_receiver;
    if (output.latencyNs >= kMinDelayNs) {
        m_delayNs = output.latencyNs;
        m_delay = std::make_unique<Delay>(m_requestedRate, m_delayNs, m_receiver);
        callbacks = m_delay.get();
    }
    OpenResult opened = m_backend.openSystemAudio(output.monitor, m_requestedRate, kFragmentFrames, *callbacks);
    if (!opened.stream)
        return m_receiver.failStart(opened.error.empty() ? "System Audio could not be started" : opened.error);
    m_sink = output.sink;
    m_stream = std::move(opened.stream);
}

