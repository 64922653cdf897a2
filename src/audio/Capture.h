#pragma once

#include "audio/AudioBackend.h"
#include "audio/RingBuffer.h"
#include "audio/StereoConversion.h"
#include "audio/StreamStatus.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

// The audio-thread half every capture shares: writes each delivered block
// into the engine's ring buffer until stopped, and keeps the stream's status.
class CaptureReceiver final : public AudioStreamCallbacks {
public:
    // `statusChanged` as for StreamStatus.
    CaptureReceiver(std::shared_ptr<RingBuffer> ringBuffer, std::function<void()> statusChanged);

    // Main thread. From now on delivered blocks are ignored.
    void stop() noexcept { m_stopped.store(true, std::memory_order_release); }
    const StreamStatus& status() const noexcept { return m_status; }
    // Main thread. The start failed before a stream opened, for `text`.
    void failStart(std::string text);
    // Main thread. Why the start or the stream failed; empty while it has not.
    std::string failureText() const;

    // AudioStreamCallbacks; audio thread. No lock, no allocation.
    void audioArrived(const AudioBlock& block) noexcept override;
    void streamStarted(double sampleRate) noexcept override { m_status.markRunning(sampleRate); }
    void streamFailed(const char* reason) noexcept override { m_status.markFailed(reason); }

private:
    StereoBlockWriter m_writer;
    const std::shared_ptr<RingBuffer> m_ringBuffer;
    std::atomic<bool> m_stopped{false};
    StreamStatus m_status;
    std::string m_startError;  // main thread
};

// One capture the engine holds: what it records from, and how that went.
// One object per start: start once, stop once, then drop it. Main thread.
class Capture {
public:
    virtual ~Capture() { stop(); }

    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Opens the stream from what `server` lists; returns at once. The outcome
    // arrives through status(): running, or failed with failureText().
    virtual void start(const ServerState& server) = 0;
    // Hz of the frames it writes; valid once start() has not failed.
    virtual double sampleRate() const = 0;

    // No block reaches the ring buffer once this returns.
    void stop()
    {
        m_receiver.stop();
        m_stream.reset();  // no callback runs after this
    }
    const StreamStatus& status() const noexcept { return m_receiver.status(); }
    // Why the start or the stream failed; empty while it has not.
    std::string failureText() const { return m_receiver.failureText(); }

protected:
    // `statusChanged` as for StreamStatus.
    Capture(std::shared_ptr<RingBuffer> ringBuffer, std::function<void()> statusChanged)
        : m_receiver(std::move(ringBuffer), std::move(statusChanged))
    {
    }

    CaptureReceiver m_receiver;
    std::unique_ptr<AudioStream> m_stream;  // after the receiver: closed first
};
