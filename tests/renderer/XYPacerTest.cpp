// The XY pace on frame counts alone: the frame core copies what it says.

#include "renderer/XYPacer.h"

#include <gtest/gtest.h>

// PipeWire hands over 2048 frames every 43 ms, one block per five 8.3 ms
// frames: each frame draws its share, in order and at most about a block
// late, instead of the whole block at once and nothing in the next four. A
// late frame (three blocks) draws the excess at once; the pace follows when
// blocks come twice as often.
TEST(XYPacer, BlocksSpanningFramesAreDrawnInSharesInOrder)
{
    XYPacer pacer(16384);
    int64_t written = 0, drawn = 0;
    for (int frame = 0; frame < 260; ++frame) {
        const int blocks = frame < 100 ? frame % 5 == 0 : frame == 100 ? 3 : frame * 2 / 5 != (frame - 1) * 2 / 5;
        written += 2048 * blocks;
        const XYPacer::Due due = pacer.pace(2048 * blocks);
        ASSERT_EQ(written - due.age, drawn) << frame;  // the oldest waiting first
        const int64_t n = due.count;
        drawn += n;
        EXPECT_TRUE(frame > 0 || n == 2048);  // a lone block at once
        EXPECT_TRUE(frame != 100 || n >= 1024) << n;
        if (const double pace = frame < 100 ? 409.6 : 819.2; (frame >= 50 && frame < 100) || frame >= 160) {
            EXPECT_NEAR(double(n), pace, pace / 6) << frame;
            EXPECT_TRUE(written - drawn >= pace / 4 && written - drawn <= 2 * 2048) << frame;  // never runs dry
        }
    }
    pacer.dropBacklog();
    EXPECT_EQ(pacer.pace(0).count, 0);
    XYPacer flood(16384);  // quiet, then a full scratch every frame: never more than the scratch holds
    for (int frame = 0; frame < 140; ++frame)
        ASSERT_LE(flood.pace(frame < 40 ? 400 : 16384).count, 16384) << frame;
}
