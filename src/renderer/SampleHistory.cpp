#include "renderer/SampleHistory.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int64_t C = SampleHistory::capacity;

}  // namespace

SampleHistory::SampleHistory() : m_left(new float[C]()), m_right(new float[C]()), m_z(new float[C])
{
    std::fill(m_z.get(), m_z.get() + C, 1.0f);
}

void SampleHistory::append(const float* left, const float* right, int64_t count, const float* z)
{
    // count <= capacity: at most one wrap.
    const int64_t first = std::min(count, C - m_writePos);
    const int64_t rest = count - first;
    std::memcpy(m_left.get() + m_writePos, left, static_cast<size_t>(first) * sizeof(float));
    std::memcpy(m_right.get() + m_writePos, right, static_cast<size_t>(first) * sizeof(float));
    std::memcpy(m_left.get(), left + first, static_cast<size_t>(rest) * sizeof(float));
    std::memcpy(m_right.get(), right + first, static_cast<size_t>(rest) * sizeof(float));
    if (z != nullptr) {
        std::memcpy(m_z.get() + m_writePos, z, static_cast<size_t>(first) * sizeof(float));
        std::memcpy(m_z.get(), z + first, static_cast<size_t>(rest) * sizeof(float));
    } else {
        std::fill(m_z.get() + m_writePos, m_z.get() + m_writePos + first, 1.0f);
        std::fill(m_z.get(), m_z.get() + rest, 1.0f);
    }
    m_writePos = wrap(m_writePos + count);
    m_count = std::min(m_count + count, C);
}

void SampleHistory::copy(const float* channel, int64_t start, int64_t count, float* dst)
{
    const int64_t first = std::min(count, C - start);
    std::memcpy(dst, channel + start, static_cast<size_t>(first) * sizeof(float));
    std::memcpy(dst + first, channel, static_cast<size_t>(count - first) * sizeof(float));
}

std::optional<int64_t> SampleHistory::findRisingEdge(const float* channel, float level, int64_t m) const
{
    if (m < 1 || m_count < m)
        return std::nullopt;
    const int64_t span = std::min(2 * m, m_count);
    // From the oldest candidate (distance span-1) toward distance m; nearer
    // crossings would leave fewer than m samples after the trigger. Indices
    // step forward instead of being reduced modulo C each time.
    int64_t idx = startOfNewest(span - 1);
    float previous = channel[idx == 0 ? C - 1 : idx - 1];
    for (int64_t i = span - 1; i >= m; --i) {
        const float current = channel[idx];
        if (previous < level && current >= level)
            return idx;
        previous = current;
        if (++idx == C)
            idx = 0;
    }
    return std::nullopt;
}
