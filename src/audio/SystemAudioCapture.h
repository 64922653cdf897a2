#pragma once

#include "audio/Capture.h"
#include "audio/HeardQueue.h"

#include <atomic>
#include <memory>
#include <string>

// Records what the whole system plays (the default sink's monitor) and hands
// each frame on when the output plays it: a monitor hears the output before
// the speakers do, by the output's latency (150–250 ms on Bluetooth). The user
// may move its stream to another source while it runs.
class SystemAudioCapture final : public Capture {
public:
    static constexpr double kFallbackSampleRate = 48000.0;
    // ~10 ms at 48 kHz: steady small blocks instead of bursts.
    static constexpr int kFragmentFrames = 512;
    // A delay is followed once it moves this far, so the server's jitter
    // does not shake the picture.
    static constexpr int64_t kDelayStepNs = 5'000'000;
    // Longer than any output's latency; a report beyond it is not believed.
    static constexpr double kMaxDelaySeconds = 2.0;

    // `statusChanged` as for StreamStatus. The backend must outlive this object.
    SystemAudioCapture(std::shared_ptr<RingBuffer> ringBuffer, AudioBackend& backend,
                       std::function<void()> statusChanged);
    ~SystemAudioCapture() override;

    // At the default sink's rate in whole Hz (kFallbackSampleRate when it
    // cannot be read).
    void start(const ServerState& server) override;
    double sampleRate() const override { return m_requestedRate; }

    // The sink whose monitor start() chose; empty before.
    const std::string& sink() const { return m_sink; }
    // How much later than recorded each frame is drawn now, in ns.
    int64_t delayNs() const { return m_delayNs.load(std::memory_order_relaxed); }

private:
    class Delay;

    AudioBackend& m_backend;
    double m_requestedRate = kFallbackSampleRate;
    std::string m_sink;
    std::atomic<int64_t> m_delayNs{0};
    std::unique_ptr<HeardQueue> m_heard;
    std::unique_ptr<Delay> m_delay;
};
