#include "audio/RingBuffer.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// (index + count) mod capacity without a division in the common case: a
// 64-bit division costs more than copying a small block.
int64_t advance(int64_t index, int64_t count, int64_t capacity)
{
    if (count >= capacity)
        return (index + count) % capacity;
    const int64_t next = index + count;
    return next >= capacity ? next - capacity : next;
}

// Splits `count` interleaved stereo frames into two channel arrays. Pure data
// movement, so the AVX2 variant (picked at run time, not at build time) gives
// bit-identical results on every machine.
#if defined(__x86_64__)
__attribute__((target("avx2"))) void deinterleaveStereoAvx2(const float* src, float* left,
                                                            float* right, int64_t count)
{
    int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 a = _mm256_loadu_ps(src + 2 * i);      // l0 r0 l1 r1 | l2 r2 l3 r3
        const __m256 b = _mm256_loadu_ps(src + 2 * i + 8);  // l4 r4 l5 r5 | l6 r6 l7 r7
        // In-lane shuffles give l0 l1 l4 l5 | l2 l3 l6 l7; the 64-bit permute
        // restores the order.
        const __m256 l = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 r = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        _mm256_storeu_ps(left + i, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(l), _MM_SHUFFLE(3, 1, 2, 0))));
        _mm256_storeu_ps(right + i, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(r), _MM_SHUFFLE(3, 1, 2, 0))));
    }
    for (; i < count; ++i) {
        left[i] = src[2 * i];
        right[i] = src[2 * i + 1];
    }
}
#endif

void deinterleaveStereoSse2(const float* src, float* left, float* right, int64_t count)
{
    int64_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= count; i += 4) {
        const __m128 a = _mm_loadu_ps(src + 2 * i);      // l0 r0 l1 r1
        const __m128 b = _mm_loadu_ps(src + 2 * i + 4);  // l2 r2 l3 r3
        _mm_storeu_ps(left + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(right + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
#endif
    for (; i < count; ++i) {
        left[i] = src[2 * i];
        right[i] = src[2 * i + 1];
    }
}

using Deinterleave = void (*)(const float*, float*, float*, int64_t);

// Chosen once, during static initialisation, before any audio thread exists.
Deinterleave pickDeinterleave()
{
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2"))
        return deinterleaveStereoAvx2;
#endif
    return deinterleaveStereoSse2;
}

const Deinterleave deinterleaveStereo = pickDeinterleave();

}  // namespace

void detail::deinterleaveStereoSse2(const float* src, float* left, float* right, int64_t count)
{
    ::deinterleaveStereoSse2(src, left, right, count);
}

void detail::deinterleaveStereoAvx2(const float* src, float* left, float* right, int64_t count)
{
#if defined(__x86_64__)
    ::deinterleaveStereoAvx2(src, left, right, count);
#else
    ::deinterleaveStereoSse2(src, left, right, count);
#endif
}

bool detail::cpuHasAvx2()
{
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

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
    int64_t slot = advance(w, skip, m_capacity);
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
    m_writeIndex->value.store(advance(w, frameCount, m_capacity), std::memory_order_release);
}

int64_t RingBuffer::read(float* left, float* right, int64_t maxFrames, float* z)
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
            deinterleaveStereo(src, l, rr, piece);
        } else {
            for (int64_t i = 0; i < piece; ++i) {
                l[i] = src[i * ch];
                rr[i] = src[i * ch + 1];
            }
        }
        if (z != nullptr) {
            if (ch >= 3)
                for (int64_t i = 0; i < piece; ++i)
                    z[done + i] = src[i * ch + 2];
            else
                std::fill(z + done, z + done + piece, kFullZ);
        }
        done += piece;
        slot = 0;
    }

    // Release: our slot reads are finished before the producer may learn the
    // slots are free (it does not look today, but the order costs nothing).
    m_readIndex->value.store(advance(r, n, m_capacity), std::memory_order_release);
    return n;
}
