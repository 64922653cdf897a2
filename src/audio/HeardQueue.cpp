#include "audio/HeardQueue.h"

#include <chrono>
#include <vector>

namespace {

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

HeardQueue::HeardQueue(double sampleRate, double maxSeconds, AudioStreamCallbacks& heard, int channels)
    : m_rate(sampleRate),
      m_heard(heard),
      m_fifo(std::max<int64_t>(1, static_cast<int64_t>(sampleRate * maxSeconds)), channels),
      m_thread([this] { releaseLoop(); })
{
}

HeardQueue::~HeardQueue()
{
    m_quit.store(true);
    m_thread.join();
}

void HeardQueue::push(const float* interleaved, int64_t frames, int64_t heardInNs) noexcept
{
    if (frames <= 0)
        return;
    // Written before the frames, so the release thread never sees frames
    // without their time.
    m_anchorSeq.fetch_add(1, std::memory_order_acq_rel);
    m_anchorFrame.store(m_fifo.framesWritten(), std::memory_order_release);
    m_anchorNs.store(nowNs() + heardInNs, std::memory_order_release);
    m_anchorSeq.fetch_add(1, std::memory_order_release);
    m_fifo.write(interleaved, frames);
}

bool HeardQueue::anchor(int64_t& frame, int64_t& ns) const
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        // Acquire loads throughout: the second look at the sequence cannot
        // move before the reads it guards.
        const uint64_t before = m_anchorSeq.load(std::memory_order_acquire);
        frame = m_anchorFrame.load(std::memory_order_acquire);
        ns = m_anchorNs.load(std::memory_order_acquire);
        if (before % 2 == 0 && before == m_anchorSeq.load(std::memory_order_acquire))
            return before != 0;
    }
    return false;  // being written: next time
}

void HeardQueue::releaseLoop()
{
    const int channels = m_fifo.channels();
    std::vector<float> block(static_cast<size_t>(m_fifo.capacity() * channels));
    int64_t released = 0;
    int idleRounds = 0;
    while (!m_quit.load()) {
        // Idle for a while: look less often, so an empty queue costs next to nothing.
        const bool idle = idleRounds >= kIdleRounds;
        std::this_thread::sleep_for(std::chrono::milliseconds(idle ? kIdleIntervalMs : kReleaseIntervalMs));
        idleRounds = m_fifo.available() > 0 ? 0 : idleRounds + 1;
        int64_t anchorFrame = 0, anchorNs = 0;
        if (!anchor(anchorFrame, anchorNs))
            continue;
        const int64_t due =
            anchorFrame + static_cast<int64_t>(static_cast<double>(nowNs() - anchorNs) * m_rate / 1e9);
        // A later block may report a longer latency than the one before: its
        // anchor can put `due` behind what was already handed on.
        const int64_t n = m_fifo.read(block.data(), std::min(due - released, m_fifo.available()));
        if (n <= 0)
            continue;
        AudioBlock out;
        out.data = block.data();
        out.floatCount = n * channels;
        out.channels = channels;
        m_heard.audioArrived(out);
        released += n;
        m_released.store(released, std::memory_order_release);
    }
}
