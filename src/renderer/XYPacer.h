#pragma once

#include <cstdint>

// How many of the drained frames each display frame draws in XY mode. The
// server hands over blocks that may span several display frames (2048
// frames every 43 ms on PipeWire, five frames at 120 Hz); drawing each whole
// as it comes would make the trace flash, so drained frames are drawn at
// the pace they arrive on average, at most about one block late. A lone
// block is drawn at once. Plain arithmetic on counts: the caller copies the
// frames due out of the history. Main thread only.
class XYPacer {
public:
    // The frames due this frame: the oldest waiting ones, starting `age`
    // frames back from the newest drained.
    struct Due {
        int64_t age = 0;
        int64_t count = 0;
    };

    // maxBacklog: most frames that may wait (what the caller can copy at once).
    explicit XYPacer(int64_t maxBacklog) : m_maxBacklog(maxBacklog) {}

    // One XY frame that drained `drained` new frames.
    Due pace(int64_t drained);
    // A frame without an XY trace: what waited to be drawn is dropped.
    void dropBacklog() { m_backlog = 0; }

private:
    // The pace is the average drain of the last 32 frames (half a second at
    // 60 Hz): steady through the empty frames between blocks, yet soon
    // following a source that changes its block rate.
    static constexpr int64_t kPaceFrames = 32;
    // The block size follows each new block by an eighth: one odd-sized
    // block barely moves it.
    static constexpr int64_t kBlockSmoothing = 8;
    // The pace is nudged by 1/32 of the backlog's distance from one block
    // per frame: enough to hold about a block waiting, gentle enough that
    // the trace does not pulse with each block.
    static constexpr int64_t kCatchUpFrames = 32;
    // Beyond two blocks waiting (a late frame, bigger blocks) the excess is
    // drawn at once rather than caught up slowly.
    static constexpr int64_t kMaxBlocksWaiting = 2;

    int64_t m_maxBacklog;
    int64_t m_backlog = 0;     // drained, not yet drawn: the newest of the history
    double m_perFrame = 0;     // frames drained per frame, averaged
    int64_t m_framesSeen = 0;  // since the first block, up to kPaceFrames
    double m_block = 0;        // frames per delivered block, smoothed
};
