#pragma once

#include "audio/AudioBackend.h"
#include "audio/RingBuffer.h"
#include "audio/StereoConversion.h"
#include "audio/StreamStatus.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

// Records what the whole system plays (the default sink's monitor) into the
// engine's ring buffer. One object per system-audio start: start once, stop
// once, then drop it.
class SystemAudioCapture final : public AudioStreamCallbacks {
public:
    static constexpr double kFallbackSampleRate = 48000.0;
    // ~10 ms at 48 kHz: steady small blocks instead of bursts.
    static constexpr int kFragmentFrames = 512;

    // `statusChanged` as for StreamStatus. The backend must outlive this object.
    SystemAudioCapture(std::shared_ptr<RingBuffer> ringBuffer, AudioBackend& backend,
                       std::function<void()> statusChanged);
    // Closes the stream, if any.
    ~SystemAudioCapture() override;

    SystemAudioCapture(const SystemAudioCapture&) = delete;
    SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

    // Main thread, once. Starts recording the monitor of `server`'s default
    // sink at the sink's rate (kFallbackSampleRate when it cannot be read);
    // returns at once. The outcome arrives through status(): running, or
    // failed with failureText().
    void start(const ServerState& server);

    // Main thread. The sink whose monitor start() chose; empty before.
    const std::string& sink() const { return m_sink; }

    // Main thread. No block reaches the ring buffer once this returns.
    void stop();

    const StreamStatus& status() const noexcept { return m_status; }

    // Main thread. The rate the stream runs at once running; until then
    // kFallbackSampleRate.
    double capturedSampleRate() const;

    // Main thread. Why the start or the stream failed; empty while it has not.
    std::string failureText() const;

    // AudioStreamCallbacks; audio thread.
    void audioArrived(const AudioBlock& block) noexcept override;
    void streamStarted(double sampleRate) noexcept override { m_status.markRunning(sampleRate); }
    void streamFailed(const char* reason) noexcept override { m_status.markFailed(reason); }

private:
    StereoBlockWriter m_writer;
    const std::shared_ptr<RingBuffer> m_ringBuffer;
    AudioBackend& m_backend;
    std::atomic<bool> m_stopped{false};
    StreamStatus m_status;
    double m_requestedRate = kFallbackSampleRate;
    std::string m_startError;
    std::string m_sink;
    std::unique_ptr<AudioStream> m_stream;  // last: closed before the rest goes
};
