#include "audio/RingBuffer.h"

#include <algorithm>
#include <cassert>
#include <cstring>

RingBuffer::RingBuffer(int64_t capacity, int64_t channelCount)
    : m_capacity(capacity),
      m_channelCount(channelCount),
      m_buffer(new float[static_cast<size_t>(capacity * channelCount)]()),
      m_writeIndex(std::make_unique<IndexCell>()),
      m_readIndex(std::make_unique<IndexCell>())
{
    assert(capacity >= 1 && channelCount >= 1);
}

RingBuffer::~RingBuffer() = default;

void RingBuffer::write(const float* samples, int64_t frameCount)
{
    if (frameCount <= 0)
        return;
    // Acquire: a new producer thread (the engine switched sources) starts from
    // the index its predecessor published.
    const int64_t w = m_writeIndex->value.load(std::memory_order_acquire);

    // Frames older than the last `capacity` of this block would be overwritten
    // within the block itself: copying only the tail leaves the same slots.
    int64_t skip = frameCount > m_capacity ? frameCount - m_capacity : 0;
    int64_t slot = (w + skip) % m_capacity;
    int64_t remaining = frameCount - skip;
    const float* src = samples + skip * m_channelCount;
    while (remaining > 0) {  // at most two contiguous pieces
        const int64_t piece = std::min(remaining, m_capacity - slot);
        std::memcpy(m_buffer.get() + slot * m_channelCount, src,
                    static_cast<size_t>(piece * m_channelCount) * sizeof(float));
        src += piece * m_channelCount;
        remaining -= piece;
        slot = 0;
    }

    // Release: every sample stored above is visible before the new index is.
    m_writeIndex->value.store((w + frameCount) % m_capacity, std::memory_order_release);
}

int64_t RingBuffer::read(float* left, float* right, int64_t maxFrames)
{
    assert(m_channelCount >= 2);
    // Acquire: the slots up to w were written before w was published.
    const int64_t w = m_writeIndex->value.load(std::memory_order_acquire);
    const int64_t r = m_readIndex->value.load(std::memory_order_acquire);

    int64_t available = w - r;
    if (available < 0)
        available += m_capacity;
    const int64_t n = std::min(available, std::max<int64_t>(maxFrames, 0));
    if (n == 0)
        return 0;

    const int64_t ch = m_channelCount;
    int64_t slot = r;
    int64_t done = 0;
    while (done < n) {  // at most two contiguous pieces
        const int64_t piece = std::min(n - done, m_capacity - slot);
        const float* src = m_buffer.get() + slot * ch;
        float* l = left + done;
        float* rr = right + done;
        if (ch == 2) {
            for (int64_t i = 0; i < piece; ++i) {
                l[i] = src[2 * i];
                rr[i] = src[2 * i + 1];
            }
        } else {
            for (int64_t i = 0; i < piece; ++i) {
                l[i] = src[i * ch];
                rr[i] = src[i * ch + 1];
            }
        }
        done += piece;
        slot = 0;
    }

    // Release: our slot reads are finished before the producer may learn the
    // slots are free (it does not look today, but the order costs nothing).
    m_readIndex->value.store((r + n) % m_capacity, std::memory_order_release);
    return n;
}
