#include "ui/Formatting.h"

#include <gtest/gtest.h>

#include <limits>

TEST(Formatting, FrequencyLabels)
{
    EXPECT_EQ(formatFreq(20.0f), "20Hz");
    EXPECT_EQ(formatFreq(800.0f), "800Hz");
    EXPECT_EQ(formatFreq(999.9f), "999Hz");
    EXPECT_EQ(formatFreq(1000.0f), "1kHz");
    EXPECT_EQ(formatFreq(1500.0f), "1.5kHz");
    EXPECT_EQ(formatFreq(12000.0f), "12kHz");
    EXPECT_EQ(formatFreq(20000.0f), "20kHz");
    // Values no menu offers still give a label, never garbage.
    EXPECT_EQ(formatFreq(std::numeric_limits<float>::quiet_NaN()), "–Hz");
    EXPECT_EQ(formatFreq(std::numeric_limits<float>::infinity()), "infkHz");
}

TEST(Formatting, TimeDivisionLabels)
{
    EXPECT_EQ(formatTimeDivision(1), "1ms");
    EXPECT_EQ(formatTimeDivision(2), "2ms");
    EXPECT_EQ(formatTimeDivision(500), "500ms");
    EXPECT_EQ(formatTimeDivision(1000), "1s");
    EXPECT_EQ(formatTimeDivision(2500), "2s");
}

TEST(Formatting, PercentsTruncateAndSurviveNonFinite)
{
    EXPECT_EQ(formatPercent(0.734f), "73%");
    EXPECT_EQ(formatPercent(0.69f), "69%");  // 68.99999976 in double precision
    EXPECT_EQ(formatPercent(0.0f), "0%");
    EXPECT_EQ(formatPercent(1.0f), "100%");
    EXPECT_EQ(formatPercent(std::numeric_limits<float>::quiet_NaN()), "–%");
    EXPECT_EQ(formatPercent(3e38f), "–%");
    EXPECT_EQ(formatSampleRate(48000.0), "SR: 48000 Hz");
    EXPECT_EQ(formatSampleRate(44100.9), "SR: 44100 Hz");
    EXPECT_EQ(formatSliderValue(0.85), "0.85");
}

TEST(Formatting, MeterTonesFollowTheirThresholds)
{
    EXPECT_EQ(rhythmTone(0.69f), MeterTone::yellow);
    EXPECT_EQ(rhythmTone(0.7f), MeterTone::green);  // compared in float, as stored
    EXPECT_EQ(rhythmTone(0.4), MeterTone::yellow);
    EXPECT_EQ(rhythmTone(0.39), MeterTone::red);

    EXPECT_EQ(kxTextTone(0.76), MeterTone::green);
    EXPECT_EQ(kxTextTone(0.70), MeterTone::greenDimmed);
    EXPECT_EQ(kxBarTone(0.70), MeterTone::green);
    EXPECT_EQ(kxTextTone(0.64), MeterTone::yellowDimmed);
    EXPECT_EQ(kxBarTone(0.64), MeterTone::yellow);
    EXPECT_EQ(kxTextTone(0.40), MeterTone::red);
    EXPECT_EQ(kxBarTone(0.40), MeterTone::red);
    EXPECT_EQ(kxTextTone(std::numeric_limits<float>::quiet_NaN()), MeterTone::red);
}
