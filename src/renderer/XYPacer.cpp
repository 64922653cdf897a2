#include "renderer/XYPacer.h"

#include <algorithm>
#include <cmath>

XYPacer::Due XYPacer::pace(int64_t drained)
{
    // Averages over the frames seen, up to the last kPaceFrames: the first
    // block sets the pace at once.
    if (drained > 0 || m_framesSeen > 0) {
        m_framesSeen = std::min(m_framesSeen + 1, kPaceFrames);
        m_perFrame += (static_cast<double>(drained) - m_perFrame) / static_cast<double>(m_framesSeen);
    }
    if (drained > 0)
        m_block = m_block > 0 ? m_block + (static_cast<double>(drained) - m_block) / kBlockSmoothing
                              : static_cast<double>(drained);
    m_backlog = std::min(m_backlog + drained, m_maxBacklog);
    // The average pace, nudged to keep about one block waiting so that the
    // trace never runs dry between blocks; far behind, the excess is drawn
    // at once.
    const double wanted = m_perFrame + (static_cast<double>(m_backlog) - m_block) / kCatchUpFrames;
    const auto behind = m_backlog - kMaxBlocksWaiting * static_cast<int64_t>(m_block);
    const int64_t count =
        std::clamp(std::max(static_cast<int64_t>(std::llround(wanted)), behind), int64_t{0}, m_backlog);
    const Due due{m_backlog, count};
    m_backlog -= count;
    return due;
}
