// The history ring on plain arrays; its trigger search is tested through
// the frame core's waveform window (FrameCoreTest).

#include "renderer/CoreFeed.h"
#include "renderer/SampleHistory.h"

#include <gtest/gtest.h>

TEST(SampleHistory, KeepsTheNewestOfBothChannelsInOrderAcrossTheWrap)
{
    constexpr int64_t C = SampleHistory::capacity;
    const auto left = test::ramp(C + 100), right = test::ramp(C + 100, 1e6f);
    SampleHistory history;
    int64_t written = 0;
    using Case = std::tuple<int64_t, int64_t, int64_t>;  // appended, then held and where the held start
    for (auto [count, held, start] : {Case{20000, 20000, 0}, {C - 20000, C, 0}, {100, C, 100}, {0, C, 100}}) {
        history.append(left.data() + written, right.data() + written, count);
        written += count;
        EXPECT_EQ(std::pair(history.count(), history.startOfNewest(held)), std::pair(held, start)) << written;
        std::vector<float> l(size_t(held), 0.0f), r(size_t(held), 0.0f);
        SampleHistory::copy(history.channel(0), start, held, l.data());
        SampleHistory::copy(history.channel(7), start, held, r.data());  // anything but 0 is the right channel
        EXPECT_EQ(l, slice(left, written - held, held)) << written;
        EXPECT_EQ(r, slice(right, written - held, held)) << written;
    }
}
