#pragma once

#include <cstdint>
#include <memory>
#include <optional>

// The newest 8.192 s of both channels and of Z, in a ring the frame appends to as it
// drains the ring buffer. The waveform window, its trigger, the XY trace and
// the meters all read from here. Indices are positions in the ring: the
// newest n samples start at startOfNewest(n) and may wrap past the end.
// Main thread only.
class SampleHistory {
public:
    static constexpr int64_t capacity = 393216;  // 8.192 s at 48 kHz, per channel

    SampleHistory();

    // Appends count <= capacity frames, overwriting the oldest; without z
    // their Z is full brightness (1).
    void append(const float* left, const float* right, int64_t count, const float* z = nullptr);
    // Samples held, at most capacity.
    int64_t count() const { return m_count; }
    // Index of the first of the newest n samples (n <= capacity).
    int64_t startOfNewest(int64_t n) const { return wrap(m_writePos - n); }
    // The ring index of any position, negative ones included.
    static int64_t wrap(int64_t index)
    {
        index %= capacity;
        return index < 0 ? index + capacity : index;
    }
    // 0 = left, anything else = right.
    const float* channel(int64_t which) const { return which == 0 ? m_left.get() : m_right.get(); }
    const float* zChannel() const { return m_z.get(); }

    // dst[k] = channel[(start + k) mod capacity], k < count <= capacity.
    static void copy(const float* channel, int64_t start, int64_t count, float* dst);
    // Index of the oldest rising crossing of level (a sample below it, then
    // one at or above it) that leaves at least m samples from it on, among
    // the newest 2m; none with fewer than m samples held.
    std::optional<int64_t> findRisingEdge(const float* channel, float level, int64_t m) const;

private:
    std::unique_ptr<float[]> m_left;
    std::unique_ptr<float[]> m_right;
    std::unique_ptr<float[]> m_z;
    int64_t m_writePos = 0;  // where the next sample goes
    int64_t m_count = 0;
};
