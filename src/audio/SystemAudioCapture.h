#pragma once

#include "audio/Capture.h"

#include <string>

// Records what the whole system plays (the default sink's monitor). The user
// may move its stream to another source while it runs.
class SystemAudioCapture final : public Capture {
public:
    static constexpr double kFallbackSampleRate = 48000.0;
    // ~10 ms at 48 kHz: steady small blocks instead of bursts.
    static constexpr int kFragmentFrames = 512;

    // `statusChanged` as for StreamStatus. The backend must outlive this object.
    SystemAudioCapture(std::shared_ptr<RingBuffer> ringBuffer, AudioBackend& backend,
                       std::function<void()> statusChanged);
    ~SystemAudioCapture() override { stop(); }

    // At the default sink's rate in whole Hz (kFallbackSampleRate when it
    // cannot be read).
    void start(const ServerState& server) override;
    void stop() override;
    const StreamStatus& status() const noexcept override { return m_receiver.status(); }
    double sampleRate() const override { return m_requestedRate; }
    std::string failureText() const override { return m_receiver.failureText(); }

    // The sink whose monitor start() chose; empty before.
    const std::string& sink() const { return m_sink; }

private:
    CaptureReceiver m_receiver;
    AudioBackend& m_backend;
    double m_requestedRate = kFallbackSampleRate;
    std::string m_sink;
    std::unique_ptr<AudioStream> m_stream;  // last: closed before the rest goes
};
