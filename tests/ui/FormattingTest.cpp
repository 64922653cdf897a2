#include "ui/Formatting.h"

#include <gtest/gtest.h>

#include <limits>

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(Formatting, LabelsTruncateAndNeverShowGarbage)
{
    for (const auto& [shown, expected] : std::initializer_list<std::pair<QString, const char*>>{
             {formatFreq(999.9f), "999Hz"}, {formatFreq(1000.0f), "1kHz"}, {formatFreq(1500.0f), "1.5kHz"},
             {formatFreq(12000.0f), "12kHz"}, {formatFreq(kNaN), "–Hz"}, {formatTimeDivision(500), "500ms"},
             {formatTimeDivision(1000), "1s"}, {formatTimeDivision(2500), "2s"}, {formatPercent(0.734f), "73%"},
             {formatPercent(0.69f), "69%"} /* 68.99999976 in double */, {formatPercent(kNaN), "–%"},
             {formatPercent(3e38f), "–%"}, {formatSampleRate(44100.9), "SR: 44100 Hz"},
             {formatCorrelation(0.984f), "+0.98"}, {formatCorrelation(-1.0f), "-1.00"},
             {formatCorrelation(-0.004f), "+0.00"}, {formatCorrelation(kNaN), "–"}})
        EXPECT_EQ(shown, QString::fromUtf8(expected));
}

TEST(Formatting, MeterTonesChangeExactlyAtTheirThresholds)
{
    using enum MeterTone;
    const std::pair<MeterTone, MeterTone> rows[] = {
        {rhythmTone(0.7f), green}, {rhythmTone(0.69f), yellow}, {rhythmTone(0.4f), yellow}, {rhythmTone(0.39f), red},
        {kxTextTone(0.76f), green}, {kxTextTone(0.75f), greenDimmed}, {kxTextTone(0.65f), greenDimmed},
        {kxTextTone(0.64f), yellowDimmed}, {kxTextTone(0.41f), yellowDimmed}, {kxTextTone(0.40f), red},
        {kxTextTone(kNaN), red}, {kxBarTone(0.65f), green}, {kxBarTone(0.64f), yellow}, {kxBarTone(0.41f), yellow},
        {kxBarTone(0.40f), red}, {correlationTone(0.5f), green}, {correlationTone(0.49f), yellow},
        {correlationTone(0.0f), yellow}, {correlationTone(-0.01f), red}, {correlationTone(kNaN), red},
        {correlationTone(-0.001f), yellow} /* reads +0.00 */, {correlationTone(0.495f), green} /* reads +0.50 */};
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(rows[i].first, rows[i].second) << "row " << i;
}
