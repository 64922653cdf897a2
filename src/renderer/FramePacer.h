#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The scope's frame clock: the rate frames are asked for, when the next one
// is due, and when, with capture stopped, they may stop because nothing on
// screen can change any more. Time is passed in (nanoseconds on any steady
// clock), so a display's timer and a file's time drive the same arithmetic.
class FramePacer {
public:
    // Frame rates outside this range (0, negative, absurd) are held to it.
    static constexpr int kMinFrameRate = 1;
    static constexpr int kMaxFrameRate = 240;
    // Frames after which meters that still move count as settled: the
    // slowest, the KX hold releasing 3 % a run, is then within 0.97^500 of
    // its end. A bound only for values that never quite converge.
    static constexpr int64_t kMeterFrameLimit = 3000;

    FramePacer();

    int frameRate() const { return m_frameRate; }
    void setFrameRate(long long requested);

    // The next frame is due at `nowNs`.
    void startAt(int64_t nowNs) { m_nextFrameNs = nowNs; }
    // After the frame asked for at `nowNs`: the wait until the next one is
    // due. A clock that fell behind (a busy thread) starts over from now
    // instead of catching up with a burst of frames.
    int64_t waitAfterFrame(int64_t nowNs);

    // What the rest rule needs to know of the picture.
    struct Picture {
        bool shown;   // the scope is visible
        bool black;   // it holds no light the display can show
        float decay;  // its fade per frame
    };
    // Asked once per frame tick: false once, with capture stopped, nothing
    // on screen can change. The picture is then black to the display (or,
    // redrawn from the held samples in waveform mode, steady: at the latest
    // after beam::framesToFade frames) and the meters, still analysing the
    // held samples, have settled (at the latest after kMeterFrameLimit).
    bool keepGoing(bool capturing, const Picture& picture);

    // Something on screen may change: the rest counts start over.
    void wake();
    // A frame was drawn. Drawn, not asked for: those are what fade the
    // picture and run the analysis.
    void frameDrawn(bool capturing);
    // A meter (0 ... 4: rhythm, pressure, density, curvature, correlation)
    // published `value`.
    void noteMeter(size_t meter, float value);

private:
    int m_frameRate = 120;
    int64_t m_nextFrameNs = 0;
    int64_t m_stoppedFrames = 0;     // since capture stopped or the last wake
    int64_t m_meterQuietFrames = 0;  // since a published meter value last moved
    std::array<float, 5> m_meters;   // last published by meter; NaN: none yet
};
