#pragma once

#include "audio/Capture.h"
#include "audio/HeardQueue.h"

#include <string>

// Records what the whole system plays (the default sink's monitor). The user
// may move its stream to another source while it runs. Each sample reaches
// the scope when the output plays it: the monitor has it earlier by the
// output's latency (a Bluetooth headset's 200 ms), which is waited out.
class SystemAudioCapture final : public Capture {
public:
    static constexpr double kFallbackSampleRate = 48000.0;
    // ~10 ms at 48 kHz: steady small blocks instead of bursts.
    static constexpr int kFragmentFrames = 512;

    // `statusChanged` as for StreamStatus. The backend must outlive this object.
    SystemAudioCapture(std::shared_ptr<RingBuffer> ringBuffer, AudioBackend& backend,
                       std::function<void()> statusChanged);

    // At the default sink's rate in whole Hz (kFallbackSampleRate when it
    // cannot be read).
    void start(const ServerState& server) override;
    double sampleRate() const override { return m_requestedRate; }

    // The sink whose monitor start() chose; empty before.
    const std::string& sink() const { return m_sink; }
    // How long each sample is held back for its output's latency.
    int64_t delayNs() const { return m_delayNs; }
    // Below this, samples go to the scope as they come.
    static constexpr int64_t kMinDelayNs = 2'000'000;

    ~SystemAudioCapture() override;

private:
    class Delay;

    AudioBackend& m_backend;
    double m_requestedRate = kFallbackSampleRate;
    std::string m_sink;
    int64_t m_delayNs = 0;
    std::unique_ptr<Delay> m_delay;  // the stream's callbacks while samples are held back
};
