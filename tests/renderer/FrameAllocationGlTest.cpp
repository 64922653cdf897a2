// The whole frame function, GL passes included, allocates nothing once warm.
// Every operator new in this binary is counted (bench/AllocationCounter.cpp);
// the GL driver's own C allocations are not ours and not counted.

#include "AllocationCounter.h"
#include "renderer/GlScopeFixture.h"

using FrameAllocationsGl = GlScopeTest;

TEST_F(FrameAllocationsGl, SteadyFramesAllocateNothingInEitherMode)
{
    renderer->displayFilterType = 1;
    renderer->kxScaleMode = 2;
    std::vector<float> block(1600);
    for (size_t i = 0; i < 800; ++i)
        block[2 * i] = block[2 * i + 1] = float(0.5 * std::sin(0.05 * double(i)));
    const auto frames = [&](int count) {
        for (int i = 0; i < count; ++i) {
            ring->write(block.data(), 800);
            frame();
        }
    };
    // Warm-up: the history fills past three seconds (the analysis window
    // grows until then) and the driver compiles what it compiles lazily.
    frames(200);
    renderer->displayMode = 1;
    frames(12);
    renderer->displayMode = 0;
    frames(12);

    const int64_t before = allocationCount();
    frames(30);
    renderer->displayMode = 1;
    frames(30);
    EXPECT_EQ(allocationCount() - before, 0);
}
