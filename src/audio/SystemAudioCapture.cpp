#include "audio/SystemAudioCapture.h"

#include "audio/AudioDeviceManager.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

// The stream's side, on the server's audio thread: each block goes to the
// queue stamped with when it is heard.
class SystemAudioCapture::Delay final : public AudioStreamCallbacks {
public:
    explicit Delay(SystemAudioCapture& owner) : m_owner(owner) {}

    void audioArrived(const AudioBlock& block) noexcept override
    {
        SystemAudioCapture& o = m_owner;
        if (block.channels != 2 || block.nonInterleaved)
            return;  // the stream is asked for interleaved stereo
        const int64_t frames = block.floatCount / 2;
        if (block.timed) {
            // The wait of the block's last frame: what the listener notices.
            const int64_t last = block.heardInNs + static_cast<int64_t>(1e9 * double(frames) / o.m_requestedRate);
            const int64_t wait = std::clamp<int64_t>(last, 0, static_cast<int64_t>(kMaxDelaySeconds * 1e9));
            if (std::llabs(wait - m_wait) >= kDelayStepNs) {
                m_wait = wait;
                o.m_delayNs.store(wait, std::memory_order_relaxed);
            }
        }
        // Nothing to wait for and nothing waiting: straight on, as recorded.
        if (m_wait == 0 && o.m_heard->released() == o.m_heard->pushed())
            return o.m_receiver.audioArrived(block);
        const int64_t firstHeardIn = m_wait - static_cast<int64_t>(1e9 * double(frames) / o.m_requestedRate);
        o.m_heard->push(block.data, frames, firstHeardIn);
    }
    void streamStarted(double rate) noexcept override { m_owner.m_receiver.streamStarted(rate); }
    void streamFailed(const char* reason) noexcept override { m_owner.m_receiver.streamFailed(reason); }

private:
    SystemAudioCapture& m_owner;
    int64_t m_wait = 0;  // the delay applied, ns
};

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<RingBuffer> ringBuffer,
                                       AudioBackend& backend, std::function<void()> statusChanged)
    : Capture(std::move(ringBuffer), std::move(statusChanged)), m_backend(backend)
{
}

SystemAudioCapture::~SystemAudioCapture()
{
    stop();  // the stream first: nothing is pushed after this
    m_heard.reset();
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
    // Room for the longest delay and a block's worth on top.
    m_heard = std::make_unique<HeardQueue>(m_requestedRate, kMaxDelaySeconds + 0.5, m_receiver);
    m_delay = std::make_unique<Delay>(*this);
    OpenResult opened = m_backend.openSystemAudio(output.monitor, m_requestedRate, kFragmentFrames, *m_delay);
    if (!opened.stream)
        return m_receiver.failStart(opened.error.empty() ? "System Audio could not be started" : opened.error);
    m_sink = output.sink;
    m_stream = std::move(opened.stream);
}
