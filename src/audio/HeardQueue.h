#pragma once

#include "audio/AudioBackend.h"
#include "audio/SampleFifo.h"

#include <atomic>
#include <functional>
#include <thread>

// Frames on their way to the speakers, handed on as they are heard:
// the producer (an audio thread) says when the first frame of each block
// will leave the speakers, and a thread of its own passes every frame whose
// time has come to `heard`, every kReleaseIntervalMs while busy. So the
// scope draws what the listener hears now, not what was just queued for later.
class HeardQueue {
public:
    static constexpr int kReleaseIntervalMs = 2;
    // Once empty for kIdleRounds looks, it looks every kIdleIntervalMs.
    static constexpr int kIdleRounds = 50;
    static constexpr int kIdleIntervalMs = 20;

    // `heard` runs on the queue's thread with interleaved blocks of
    // `channels` channels (those pushed), in order.
    HeardQueue(double sampleRate, double maxSeconds, AudioStreamCallbacks& heard, int channels = 2);
    ~HeardQueue();  // stops the thread; frames not yet heard are dropped

    HeardQueue(const HeardQueue&) = delete;
    HeardQueue& operator=(const HeardQueue&) = delete;

    // Producer thread. The first of `frames` is heard `heardInNs` from now;
    // the others follow at the sample rate. Frames beyond the queue's room
    // are dropped (the producer is then far ahead of the speakers).
    void push(const float* interleaved, int64_t frames, int64_t heardInNs) noexcept;

    int64_t pushed() const { return m_fifo.framesWritten(); }
    // Frames passed on so far (by the queue's thread).
    int64_t released() const { return m_released.load(std::memory_order_acquire); }

private:
    bool anchor(int64_t& frame, int64_t& ns) const;
    void releaseLoop();

    const double m_rate;
    AudioStreamCallbacks& m_heard;
    SampleFifo m_fifo;
    // The frame index and the time it is heard, of the last block pushed:
    // a sequence lock, odd while being written.
    std::atomic<uint64_t> m_anchorSeq{0};
    std::atomic<int64_t> m_anchorFrame{0};
    std::atomic<int64_t> m_anchorNs{0};
    std::atomic<int64_t> m_released{0};
    std::atomic<bool> m_quit{false};
    std::thread m_thread;
};
