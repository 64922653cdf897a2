#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

// A bounded single-producer, single-consumer queue of interleaved frames
// (stereo unless told otherwise): unlike the scope's ring it never
// overwrites, so the producer can wait for room. Lock-free; the counters
// only grow.
class SampleFifo {
public:
    explicit SampleFifo(int64_t capacityFrames, int channels = 2)
        : m_capacity(capacityFrames),
          m_channels(std::max(channels, 1)),
          m_buffer(std::make_unique<float[]>(static_cast<size_t>(capacityFrames * m_channels)))
    {
    }

    // Producer. Appends up to `frames` frames (none for a count below 1);
    // returns how many fitted.
    int64_t write(const float* data, int64_t frames)
    {
        const int64_t w = m_written.load(std::memory_order_relaxed);
        const int64_t n = std::clamp<int64_t>(frames, 0, m_capacity - (w - m_read.load(std::memory_order_acquire)));
        put(data, w, n);
        m_written.store(w + n, std::memory_order_release);
        return n;
    }

    // Consumer. Takes up to `frames` of the oldest frames; returns how many.
    int64_t read(float* data, int64_t frames)
    {
        const int64_t r = m_read.load(std::memory_order_relaxed);
        const int64_t n = std::clamp<int64_t>(frames, 0, m_written.load(std::memory_order_acquire) - r);
        take(data, r, n);
        m_read.store(r + n, std::memory_order_release);
        return n;
    }

    int64_t capacity() const { return m_capacity; }
    int channels() const { return m_channels; }
    // Either side; exact on the calling side's own counter.
    int64_t available() const
    {
        return m_written.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire);
    }
    int64_t framesWritten() const { return m_written.load(std::memory_order_acquire); }

private:
    // Calls move(slotPointer, offsetInFrames, frames) for the one or two
    // contiguous pieces of `frames` frames from counter `from`.
    template <typename Move>
    void pieces(int64_t from, int64_t frames, Move move)
    {
        for (int64_t done = 0; done < frames;) {
            const int64_t slot = (from + done) % m_capacity;
            const int64_t piece = std::min(frames - done, m_capacity - slot);
            move(m_buffer.get() + slot * m_channels, done * m_channels,
                 static_cast<size_t>(piece * m_channels) * sizeof(float));
            done += piece;
        }
    }
    void put(const float* src, int64_t from, int64_t frames)
    {
        pieces(from, frames, [src](float* slot, int64_t at, size_t bytes) { std::memcpy(slot, src + at, bytes); });
    }
    void take(float* dst, int64_t from, int64_t frames)
    {
        pieces(from, frames, [dst](float* slot, int64_t at, size_t bytes) { std::memcpy(dst + at, slot, bytes); });
    }

    const int64_t m_capacity;
    const int m_channels;
    std::unique_ptr<float[]> m_buffer;
    alignas(64) std::atomic<int64_t> m_written{0};
    alignas(64) std::atomic<int64_t> m_read{0};
};
