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

    void start(const ServerState& server) override;
    double sampleRate() const override { return m_sampleRate; }

private:
    AudioBackend& m_backend;
    const uint32_t m_sourceID;
    const int m_fragmentFrames;
    double m_sampleRate = 0;
};
