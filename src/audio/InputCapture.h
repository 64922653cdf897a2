#pragma once

#include "audio/Capture.h"

#include <cstdint>

// Records an input device (a source the server lists) at its own rate, with
// all of its channels: the first two reach the picture, never a mix-down.
class InputCapture final : public Capture {
public:
    static constexpr const char* kUnavailable = "The selected input device is not available";

    // `statusChanged` as for StreamStatus. The backend must outlive this object.
    InputCapture(std::shared_ptr<RingBuffer> ringBuffer, AudioBackend& backend, uint32_t sourceID,
                 int fragmentFrames, std::function<void()> statusChanged);
    ~InputCapture() override { stop(); }

    void start(const ServerState& server) override;
    void stop() override;
    const StreamStatus& status() const noexcept override { return m_receiver.status(); }
    double sampleRate() const override { return m_sampleRate; }
    std::string failureText() const override { return m_receiver.failureText(); }

private:
    CaptureReceiver m_receiver;
    AudioBackend& m_backend;
    const uint32_t m_sourceID;
    const int m_fragmentFrames;
    double m_sampleRate = 0;
    std::unique_ptr<AudioStream> m_stream;  // last: closed before the rest goes
};
