#include "renderer/BeamModel.h"
#include "renderer/FramePacer.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace {

constexpr int64_t kMs = 1'000'000;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// `frames` frames drawn with capture stopped; the analysis (every sixth
// frame, from the first) publishes meterStep times its run number.
void drawStopped(FramePacer& pacer, int64_t frames, float meterStep)
{
    for (int64_t i = 0; i < frames; ++i) {
        if (i % 6 == 0)
            pacer.noteMeter(0, meterStep * float(i / 6));
        pacer.frameDrawn(false);
    }
}

}  // namespace

TEST(FramePacer, TheRateIsHeldInRangeAndAFrameThatFellBehindStartsOverWithoutCatchingUp)
{
    FramePacer pacer;
    for (auto [asked, used] : {std::pair<long long, int>{0, 1}, {-5, 1}, {1'000'000'000, 240}, {100, 100}}) {
        pacer.setFrameRate(asked);
        EXPECT_EQ(pacer.frameRate(), used) << asked;
    }
    pacer.startAt(0);
    // frame asked for at, wait until the next
    for (auto [now, wait] : {std::pair<int64_t, int64_t>{0, 10 * kMs}, {10 * kMs, 10 * kMs},
                             {23 * kMs, 7 * kMs},      // late: the next stays due at 30
                             {45 * kMs, 10 * kMs},     // 40 passed: due at 55, no frame at once
                             {65 * kMs, 0},            // a whole period late: the next is due now
                             {66 * kMs, 9 * kMs}})
        EXPECT_EQ(pacer.waitAfterFrame(now), wait) << now;
    pacer.setFrameRate(50);
    pacer.startAt(100 * kMs);
    EXPECT_EQ(pacer.waitAfterFrame(101 * kMs), 19 * kMs);
}

TEST(FramePacer, FramesStopOnceThePictureIsSteadyAndTheMetersSettledWithCaptureStopped)
{
    const int64_t fade = beam::framesToFade(0.5f);
    ASSERT_GT(fade, 6);
    const FramePacer::Picture hidden{false, false, 0.99f}, black{true, true, 0.99f}, shown{true, false, 0.5f};
    using Row = std::tuple<const char*, FramePacer::Picture, int64_t, float, bool>;
    for (const auto& [what, picture, frames, meterStep, goesOn] : {
             Row{"hidden, six quiet frames: the next run may still move", hidden, 6, 0.0f, true},
             {"hidden, a whole run quiet", hidden, 7, 0.0f, false},
             {"black: no wait for the slowest fade", black, 7, 0.0f, false},
             {"shown, its light still fading", shown, fade, 0.0f, true},
             {"shown, faded", shown, fade + 1, 0.0f, false},
             {"meters moving less than 1e-5 a run", hidden, 7, 0.5e-5f, false},
             {"meters moving 2e-5 a run", hidden, 7, 2e-5f, true},
             {"meters publishing NaN", hidden, 7, kNaN, true},
             {"meters moving, within the frame limit", hidden, FramePacer::kMeterFrameLimit, 1e-3f, true},
             {"meters moving, past the frame limit", hidden, FramePacer::kMeterFrameLimit + 1, 1e-3f, false}}) {
        FramePacer pacer;
        drawStopped(pacer, frames, meterStep);
        EXPECT_EQ(pacer.keepGoing(false, picture), goesOn) << what;
    }

    // Capture running and a wake start the counts over; frames drawn while capturing do not fade.
    FramePacer pacer;
    drawStopped(pacer, fade + 1, 0.0f);
    ASSERT_FALSE(pacer.keepGoing(false, shown));
    EXPECT_TRUE(pacer.keepGoing(true, shown) && pacer.keepGoing(false, shown));  // capture running
    for (int64_t i = 0; i < fade + 1; ++i)
        pacer.frameDrawn(true);
    EXPECT_TRUE(pacer.keepGoing(false, shown));
    drawStopped(pacer, fade + 1, 0.0f);
    pacer.wake();
    EXPECT_TRUE(pacer.keepGoing(false, {false, false, 0.5f}));  // the meters' quiet count starts over
    drawStopped(pacer, 7, 0.0f);
    EXPECT_TRUE(pacer.keepGoing(false, shown));  // and so does the fade's
}
