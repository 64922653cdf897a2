#include "analysis/RhythmAnalyzer.h"

#include "analysis/Signals.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace {

constexpr double kRate = 48000.0;
constexpr int64_t kThreeSeconds = 144000;

// Raw expansion, seen through a fresh hold: from 0 the hold rises to 0.35 * raw.
float rawExpansion(const std::vector<float>& x, int64_t count, double rate)
{
    RhythmAnalyzer analyzer;
    return analyzer.analyzeExpansion(x.data(), count, rate) / 0.35f;
}

float curvature(const std::vector<float>& x, int64_t count, double rate)
{
    RhythmAnalyzer analyzer;
    return analyzer.analyzeEnvelopeCurvature(x.data(), count, rate);
}

// An amplitude-modulated 1 kHz tone: every analysis finds structure in it.
std::vector<float> pulsingTone(int64_t count, double rate)
{
    return signals::generate(count, rate, [](double t) {
        return (0.2 + 0.8 * std::fabs(std::sin(2 * signals::kPi * 15 * t))) *
               std::sin(2 * signals::kPi * 1000 * t);
    });
}

}  // namespace

TEST(RhythmAnalysis, GuardsAreExactAtTheirEdges)
{
    RhythmAnalyzer analyzer;
    RhythmTrace trace;
    // At 8 kHz the 40-sample block is raised to 64, so 4001 samples already
    // make 62 blocks: only the sample-count guard separates 4000 from 4001.
    auto slow = signals::clickTrain(4001, 8000, 0.05);
    EXPECT_EQ(analyzer.analyze(slow.data(), 4000, 8000, &trace), 0.0f);
    EXPECT_GT(analyzer.analyze(slow.data(), 4001, 8000, &trace), 0.0f);
    EXPECT_EQ(trace.blockSize, 64);
    EXPECT_EQ(trace.blockCount, 62);

    // 14 639 samples at 48 kHz are 60 blocks of 240; 14 640 are 61.
    auto fast = signals::clickTrain(14640, kRate, 0.1);
    EXPECT_EQ(analyzer.analyze(fast.data(), 14639, kRate, &trace), 0.0f);
    EXPECT_EQ(trace.blockCount, 60);
    EXPECT_GT(analyzer.analyze(fast.data(), 14640, kRate, &trace), 0.0f);
    EXPECT_TRUE(trace.passedGuards);
}

TEST(RhythmAnalysis, SilenceSteadyToneAndBadRatesGiveExactlyZero)
{
    RhythmAnalyzer analyzer;
    std::vector<float> silence(kThreeSeconds, 0.0f);
    EXPECT_EQ(analyzer.analyze(silence.data(), kThreeSeconds, kRate), 0.0f);
    auto tone = signals::sine(kThreeSeconds, kRate, 1000, 0.5);
    auto clicks = signals::clickTrain(kThreeSeconds, kRate, 0.5);
    for (double rate : {0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(), 1e300}) {
        EXPECT_EQ(analyzer.analyze(clicks.data(), kThreeSeconds, rate), 0.0f) << rate;
        EXPECT_EQ(analyzer.analyzeExpansion(clicks.data(), kThreeSeconds, rate), 0.0f) << rate;
        EXPECT_EQ(analyzer.analyzeEnvelopeCurvature(clicks.data(), kThreeSeconds, rate), 0.0f) << rate;
    }
}

TEST(RhythmAnalysis, HalfSecondClickTrainLocksOntoHundredBlocks)
{
    RhythmAnalyzer analyzer;
    RhythmTrace trace;
    auto clicks = signals::clickTrain(kThreeSeconds, kRate, 0.5);
    const float rate = analyzer.analyze(clicks.data(), kThreeSeconds, kRate, &trace);
    EXPECT_EQ(trace.blockCount, 600);
    EXPECT_EQ(trace.minLag, 6);
    EXPECT_EQ(trace.maxLag, 120);
    EXPECT_EQ(trace.bestLag, 100);
    EXPECT_GT(trace.bestCorrelation, 0.08f);
    EXPECT_GT(trace.harmonicSupport, 0.0f);
    EXPECT_GT(trace.consistency, 0.0f);
    EXPECT_LE(trace.consistency, 1.0f);
    EXPECT_GT(rate, 0.5f);
    EXPECT_LT(rate, 1.0f);
}

TEST(RhythmAnalysis, IrregularMaterialScoresLowButNotZero)
{
    RhythmAnalyzer analyzer;
    RhythmTrace trace;
    auto noise = signals::noise(kThreeSeconds, 0.5, 3);
    const float rate = analyzer.analyze(noise.data(), kThreeSeconds, kRate, &trace);
    EXPECT_TRUE(trace.passedGuards);
    EXPECT_GT(rate, 0.0f);
    EXPECT_LT(rate, 0.2f);
}

TEST(RhythmAnalysis, ResultsDependOnTheInputAloneAsScratchGrows)
{
    auto clicks = signals::clickTrain(kThreeSeconds, kRate, 0.25);
    auto tone = pulsingTone(kThreeSeconds, kRate);
    RhythmAnalyzer used;
    // Fill the scratch arrays with a long window of something else first.
    used.analyze(tone.data(), kThreeSeconds, kRate);
    used.analyzeExpansion(tone.data(), kThreeSeconds, kRate);
    used.analyzeEnvelopeCurvature(tone.data(), kThreeSeconds, kRate);
    used.heldExpansion = 0.0f;

    RhythmAnalyzer fresh;
    const int64_t shorter = 100000;
    EXPECT_EQ(std::bit_cast<uint32_t>(used.analyze(clicks.data(), shorter, kRate)),
              std::bit_cast<uint32_t>(fresh.analyze(clicks.data(), shorter, kRate)));
    EXPECT_EQ(std::bit_cast<uint32_t>(used.analyzeExpansion(clicks.data(), shorter, kRate)),
              std::bit_cast<uint32_t>(fresh.analyzeExpansion(clicks.data(), shorter, kRate)));
    EXPECT_EQ(std::bit_cast<uint32_t>(used.analyzeEnvelopeCurvature(clicks.data(), shorter, kRate)),
              std::bit_cast<uint32_t>(fresh.analyzeEnvelopeCurvature(clicks.data(), shorter, kRate)));
}

TEST(RhythmAnalysis, NonFiniteSamplesNeverReachTheMeters)
{
    auto tone = pulsingTone(kThreeSeconds, kRate);
    tone[5000] = std::numeric_limits<float>::quiet_NaN();
    tone[90000] = std::numeric_limits<float>::infinity();
    RhythmAnalyzer analyzer;
    analyzer.heldExpansion = 0.5f;
    EXPECT_TRUE(std::isfinite(analyzer.analyze(tone.data(), kThreeSeconds, kRate)));
    EXPECT_TRUE(std::isfinite(analyzer.analyzeExpansion(tone.data(), kThreeSeconds, kRate)));
    EXPECT_TRUE(std::isfinite(analyzer.analyzeEnvelopeCurvature(tone.data(), kThreeSeconds, kRate)));
    EXPECT_TRUE(std::isfinite(analyzer.heldExpansion));
}

TEST(ExpansionAnalysis, GuardsAreExactAtTheirEdges)
{
    // 2000 samples never suffice; at 8 kHz the 16-sample block is raised to 32,
    // so 2001 samples already make 62 blocks.
    auto slow = pulsingTone(2001, 8000);
    EXPECT_EQ(rawExpansion(slow, 2000, 8000), 0.0f);
    EXPECT_GT(rawExpansion(slow, 2001, 8000), 0.0f);
    // At 48 kHz: 40 blocks of 96 samples (3935) are too few, 41 (3936) enough.
    auto fast = pulsingTone(3936, kRate);
    EXPECT_EQ(rawExpansion(fast, 3935, kRate), 0.0f);
    EXPECT_GT(rawExpansion(fast, 3936, kRate), 0.0f);
}

TEST(ExpansionAnalysis, FlatOrQuietEnvelopesHaveNoPressure)
{
    // Whole periods of 1 kHz in every 2 ms block: a flat envelope, no force.
    auto steady = signals::sine(kThreeSeconds, kRate, 1000, 0.8);
    EXPECT_EQ(rawExpansion(steady, kThreeSeconds, kRate), 0.0f);
    // Plenty of movement, but no 2 ms block above 0.01 RMS.
    auto quiet = pulsingTone(kThreeSeconds, kRate);
    for (auto& x : quiet)
        x *= 0.0125f;
    EXPECT_EQ(rawExpansion(quiet, kThreeSeconds, kRate), 0.0f);
    // The same material at full level does push.
    auto loud = pulsingTone(kThreeSeconds, kRate);
    const float pressure = rawExpansion(loud, kThreeSeconds, kRate);
    EXPECT_GT(pressure, 0.0f);
    EXPECT_LT(pressure, 1.0f);
}

TEST(ExpansionAnalysis, HoldAttacksFastAndReleasesSlowly)
{
    EXPECT_NEAR(RhythmAnalyzer::nextHeldExpansion(0.7f, 0.2f), 0.685f, 1e-6f);
    EXPECT_NEAR(RhythmAnalyzer::nextHeldExpansion(0.5f, 0.2f), 0.479f, 1e-6f);
    EXPECT_NEAR(RhythmAnalyzer::nextHeldExpansion(0.2f, 0.6f), 0.34f, 1e-6f);
    EXPECT_EQ(RhythmAnalyzer::nextHeldExpansion(0.4f, 0.4f), 0.4f);  // equal counts as falling

    // A guard's 0 makes the held value decay rather than drop.
    RhythmAnalyzer analyzer;
    std::vector<float> silence(kThreeSeconds, 0.0f);
    analyzer.heldExpansion = 0.8f;
    EXPECT_NEAR(analyzer.analyzeExpansion(silence.data(), kThreeSeconds, kRate), 0.8f * 0.97f, 1e-6f);
    analyzer.heldExpansion = 0.5f;
    EXPECT_NEAR(analyzer.analyzeExpansion(silence.data(), 100, kRate), 0.5f * 0.93f, 1e-6f);
}

TEST(CurvatureAnalysis, GuardsAreExactAtTheirEdges)
{
    // Bursts of 5 ms every 10 ms: several qualifying bursts in 50 ms.
    auto fast = signals::flatBursts(2424, kRate, 0.01, 0.005);
    EXPECT_EQ(curvature(fast, 2423, kRate), 0.0f);  // 100 blocks of 24
    EXPECT_GT(curvature(fast, 2424, kRate), 0.0f);  // 101 blocks
    // At 8 kHz the 4-sample block is raised to 16: 2001 samples make 125 blocks.
    auto slow = signals::flatBursts(2001, 8000, 0.04, 0.02);
    EXPECT_EQ(curvature(slow, 2000, 8000), 0.0f);
    EXPECT_GT(curvature(slow, 2001, 8000), 0.0f);
}

TEST(CurvatureAnalysis, FlatToppedBurstsAreNearOneAndDecayingBurstsNearATenth)
{
    // Block edges fall on the tone's zero crossings, so a flat burst has a
    // flat block envelope.
    auto flat = signals::flatBursts(kThreeSeconds, kRate, 0.1, 0.04);
    EXPECT_GT(curvature(flat, kThreeSeconds, kRate), 0.9f);
    // From the peak, 80 % is reached after ln(1.25) tau, 10 % after ln(10) tau.
    auto decaying = signals::decayingBursts(kThreeSeconds, kRate, 0.1, 0.015);
    EXPECT_NEAR(curvature(decaying, kThreeSeconds, kRate), 0.1f, 0.04f);
}

TEST(CurvatureAnalysis, OnlyLongAndStrongBurstsCount)
{
    // A single burst is not enough.
    auto single = signals::generate(kThreeSeconds, kRate, [](double t) {
        return t > 1.0 && t < 1.05 ? std::sin(2 * signals::kPi * 1000 * t) : 0.0;
    });
    EXPECT_EQ(curvature(single, kThreeSeconds, kRate), 0.0f);

    // Two decaying bursts (about 0.1 each), among flat bursts that each score
    // 1 but are either 3 blocks (1.5 ms) long or below 20 % of the peak: if
    // those counted, the mean would move far above 0.1.
    auto mixed = signals::generate(kThreeSeconds, kRate, [](double t) {
        const double tone = std::sin(2 * signals::kPi * 1000 * t);
        if (t < 0.25)
            return std::exp(-t / 0.015) * tone;
        if (t >= 0.5 && t < 0.75)
            return std::exp(-(t - 0.5) / 0.015) * tone;
        const double phase = std::fmod(t, 0.05);
        if (t > 1.0 && t < 2.0 && phase < 0.0015)
            return tone;  // 3 blocks of 24 samples
        if (t >= 2.0 && phase < 0.02)
            return 0.15 * tone;  // weak
        return 0.0;
    });
    EXPECT_NEAR(curvature(mixed, kThreeSeconds, kRate), 0.1f, 0.04f);
}
