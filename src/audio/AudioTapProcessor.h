#pragma once

#include "audio/AudioBackend.h"
#include "audio/RingBuffer.h"
#include "audio/StereoConversion.h"
#include "audio/StreamStatus.h"

#include <atomic>
#include <functional>
#include <memory>

// The input-device path's receiver: interleaves every block an input stream
// delivers into the engine's ring buffer until it is stopped. One per input
// start; the engine's alone.
class AudioTapProcessor final : public AudioStreamCallbacks {
public:
    // `statusChanged` as for StreamStatus.
    AudioTapProcessor(std::shared_ptr<RingBuffer> ringBuffer, std::function<void()> statusChanged);

    // Audio thread. Writes the block unless stopped. No lock, no allocation.
    void process(const AudioBlock& block) noexcept;

    // Main thread. From now on delivered blocks are ignored.
    void stop() noexcept { m_stopped.store(true, std::memory_order_release); }
    bool isStopped() const noexcept { return m_stopped.load(std::memory_order_acquire); }

    const StreamStatus& status() const noexcept { return m_status; }

    // AudioStreamCallbacks; audio thread.
    void audioArrived(const AudioBlock& block) noexcept override { process(block); }
    void streamStarted(double sampleRate) noexcept override { m_status.markRunning(sampleRate); }
    void streamFailed(const char* reason) noexcept override { m_status.markFailed(reason); }

private:
    StereoBlockWriter m_writer;
    const std::shared_ptr<RingBuffer> m_ringBuffer;
    std::atomic<bool> m_stopped{false};
    StreamStatus m_status;
};
