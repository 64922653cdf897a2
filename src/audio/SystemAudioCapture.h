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

    // At the default sink's rate in whole Hz (kFallbackSampleRate when it
    // cannot be read).
    void start(const ServerState& server) override;
    double sampleRate() const override { return m_requestedRate; }

    // The sink whose monitor start() chose; empty before.
    const std::string& sink() const { return m_sink; }

private:
    AudioBackend& m_backend;
    double m_requestedRate = kFallbackSampleRate;
    std::string m_sink;
};
