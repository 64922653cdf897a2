#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

// Single-producer / single-consumer FIFO of interleaved 32-bit float frames:
// left, right and, in a ring of three channels, the beam's Z.
//
// The producer (the capture thread) never blocks, never allocates and never
// looks at the read index: when it outruns the consumer, the oldest unread
// frames are overwritten and the consumer then sees the newest
// (unread + written) mod capacity frames, in order. Equal indices mean empty,
// so writing exactly `capacity` frames between two reads reads as empty.
//
// Thread roles: write() on the producer thread only, read() on the consumer
// thread only; one of each at a time. Neither takes a lock or allocates.
class RingBuffer {
public:
    // capacity >= 1 frames of channelCount samples, zero-filled.
    RingBuffer(int64_t capacity, int64_t channelCount);
    ~RingBuffer();

    RingBuffer(const RingBuffer&) = delete;
    RingBuffer& operator=(const RingBuffer&) = delete;

    // Producer thread. `samples` holds frameCount frames interleaved with
    // channelCount() samples each; frameCount >= 0.
    void write(const float* samples, int64_t frameCount);

    // What a source without a Z channel writes as its third sample, and what
    // a ring of two channels reads as Z: full brightness in every Z convention.
    static constexpr float kFullZ = 1.0f;

    // Consumer thread. Copies up to maxFrames of the oldest unread frames,
    // the first two samples of each frame into left and right and, when z
    // is given, the third into z (kFullZ with two channels); returns how
    // many. Needs channelCount() >= 2.
    int64_t read(float* left, float* right, int64_t maxFrames, float* z = nullptr);

    int64_t capacity() const { return m_capacity; }
    int64_t channelCount() const { return m_channelCount; }

private:
    // Each index in its own cache line, so the producer's stores do not keep
    // invalidating the line the consumer polls (and vice versa).
    struct alignas(64) IndexCell {
        std::atomic<int64_t> value{0};
    };

    const int64_t m_capacity;
    const int64_t m_channelCount;
    std::unique_ptr<float[]> m_buffer;
    std::unique_ptr<IndexCell> m_writeIndex;
    std::unique_ptr<IndexCell> m_readIndex;
};

// The two stereo splits read() picks between once at start-up, callable on
// their own so that both can be checked on any machine.
namespace detail {
void deinterleaveStereoSse2(const float* src, float* left, float* right, int64_t count);
// Only where cpuHasAvx2().
void deinterleaveStereoAvx2(const float* src, float* left, float* right, int64_t count);
bool cpuHasAvx2();
}  // namespace detail
