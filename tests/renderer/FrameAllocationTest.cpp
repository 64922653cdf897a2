// The frame's CPU half allocates nothing once warm: every operator new in
// this binary is counted (bench/AllocationCounter.cpp).

#include "AllocationCounter.h"
#include "analysis/Signals.h"
#include "renderer/CoreProbe.h"

#include <gtest/gtest.h>

TEST(FrameAllocations, SteadyFramesAllocateNothingInEitherMode)
{
    CoreProbe core;
    core.kxScaleMode = 2;  // every analysis runs
    core.displayFilterType = 3;
    // The same material before and during the measurement: the analysers'
    // scratch grows with what the material asks for (once), like the window.
    const auto music = signals::clickTrain(800, 48000.0, 0.005);
    std::vector<float> block(1600);
    for (size_t i = 0; i < 800; ++i)
        block[2 * i] = block[2 * i + 1] = music[i];
    std::vector<float> history;
    for (int i = 0; i < 250; ++i)
        history.insert(history.end(), music.begin(), music.end());
    core.fill(history);

    const auto frame = [&](bool xy) {
        core.ringBuffer->write(block.data(), 800);
        const int64_t n = core.drainAndTick();
        if (xy)
            core.applyDisplayFilterXY(n);
        else
            core.prepareWaveformData();
    };
    // Warm-up: the first analysis makes its window buffer and scratch.
    for (int i = 0; i < 12; ++i)
        frame(i % 2 == 0);

    const int64_t before = allocationCount();
    for (int i = 0; i < 60; ++i)
        frame(true);
    core.displaySampleCount = 65536;
    for (int i = 0; i < 60; ++i)
        frame(false);
    EXPECT_EQ(allocationCount() - before, 0);
}
