// What the beam draws: read back the scope texture and compare it with what
// the light model predicts, with tolerances (half floats, driver rounding).

#include "renderer/GlScopeFixture.h"

#include <cmath>

namespace {

// Light-weighted statistics of the lit texels, in pixel coordinates
// (texel x covers x ... x + 1).
struct Moments {
    double weight = 0, cx = 0, cy = 0;
};

Moments moments(const GlScopeTest::Light& light)
{
    Moments m;
    for (int y = 0; y < light.height; ++y)
        for (int x = 0; x < light.width; ++x) {
            const double w = light.hottest(x, y);
            m.weight += w;
            m.cx += w * (x + 0.5);
            m.cy += w * (y + 0.5);
        }
    m.cx /= m.weight;
    m.cy /= m.weight;
    return m;
}

}  // namespace

using BeamPicture = GlScopeTest;

TEST_F(BeamPicture, SineAndCosineDrawAnEvenCircleAndNothingElse)
{
    renderer->xyRotationAngle = 0.0f;
    renderer->beamWidth = 2.0f;  // sigma 1 px
    // 240 Hz at 48 kHz: 800 samples are four turns of radius 0.5.
    feed(800, [](int64_t i) {
        const double a = 2 * kPi * 240 * double(i) / 48000.0;
        return std::pair{float(0.5 * std::sin(a)), float(0.5 * std::cos(a))};
    });
    frame();
    const Light light = scope();
    const double radius = beam::kXYScale * std::min(kWidth, kHeight) * 0.5;  // 54 px
    const Moments m = moments(light);
    EXPECT_NEAR(m.cx, kWidth / 2.0, 0.25);
    EXPECT_NEAR(m.cy, kHeight / 2.0, 0.25);

    double meanRadius = 0;
    double stray = 0;
    double sectors[8] = {};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double w = light.hottest(x, y);
            const double dx = x + 0.5 - kWidth / 2.0, dy = y + 0.5 - kHeight / 2.0;
            const double r = std::hypot(dx, dy);
            meanRadius += w * r;
            if (std::fabs(r - radius) > 5.0)
                stray += w;
            sectors[int((std::atan2(dy, dx) + kPi) / (2 * kPi) * 8) % 8] += w;
        }
    EXPECT_NEAR(meanRadius / m.weight, radius, 0.3);
    EXPECT_EQ(stray, 0.0);
    // Constant speed, constant brightness all round.
    for (double s : sectors)
        EXPECT_NEAR(s / (m.weight / 8), 1.0, 0.05);
}

TEST_F(BeamPicture, RotationTurnsALeftOnlySignalOntoTheDiagonal)
{
    const double reach = 0.8 * beam::kXYScale * std::min(kWidth, kHeight);  // 86.4 px
    for (float angle : {0.0f, 0.7853981f}) {
        renderer->resize(kWidth + 1, kHeight);  // a fresh black picture each time
        renderer->xyRotationAngle = angle;
        feed(800, [](int64_t i) { return std::pair{float(0.8 * std::sin(2 * kPi * 150 * double(i) / 48000.0)), 0.0f}; });
        frame();
        const Light light = scope();
        const double c = std::cos(angle), s = std::sin(angle);
        double offLine = 0, farthest = 0, weight = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const double w = light.hottest(x, y);
                if (w == 0)
                    continue;
                const double dx = x + 0.5 - kWidth / 2.0, dy = y + 0.5 - kHeight / 2.0;
                offLine += w * std::fabs(-s * dx + c * dy);
                weight += w;
                if (w > 0.05 * light.maximum())
                    farthest = std::max(farthest, c * dx + s * dy);
            }
        EXPECT_LT(offLine / weight, 1.0) << angle;  // on the line through the centre at `angle`
        EXPECT_NEAR(farthest, reach, 3.0) << angle;
    }
}

TEST_F(BeamPicture, EnergyPerSegmentIsConstantAtFullSpeedSensitivity)
{
    renderer->beamWidth = 3.0f;  // sigma 1.5 px
    renderer->intensity = 2.0f;
    renderer->xyRotationAngle = 0.0f;
    const float sigma = beam::sigmaFor(3.0f);
    const double scale = beam::kXYScale * std::min(kWidth, kHeight);
    const double perPixel = 1.0 / scale;  // sample units per pixel

    for (float sensitivity : {10.0f, 5.0f}) {
        renderer->speedSensitivity = sensitivity;
        const float p = beam::speedExponentFor(sensitivity);
        for (double length : {0.0, 1.0 * sigma, 3.0 * sigma, 40.0 * sigma}) {
            renderer->resize(kWidth, kHeight + 1);
            renderer->resize(kWidth, kHeight);
            const float x0 = float(-0.5 * length * perPixel);
            feed({x0, float(x0 + length * perPixel)}, {0.1f, 0.1f});  // one segment
            frame();
            const Light light = scope();
            const double energy = 2.0 * beam::kEnergyScale * sigma * sigma * std::pow(1.0 + length / sigma, 1.0 - p);
            EXPECT_NEAR(light.total(1) / energy, 1.0, 0.01) << sensitivity << " " << length;
            // The bound the frame uses to know when the picture is black holds.
            const beam::Shape shape{sigma, p, 2.0f, 1.0f};
            EXPECT_LE(light.maximum(), beam::xySegmentPeakBound(shape) * 1.001f);
            if (length == 1.0 * sigma) {
                EXPECT_GT(light.maximum(), 0.3f * beam::xySegmentPeakBound(shape));
            }
        }
    }
}

TEST_F(BeamPicture, WaveformStartsAtTheTriggerCrossingAtTheLeftEdge)
{
    renderer->displayMode = 1;
    renderer->displaySampleCount = 960;
    renderer->beamWidth = 2.0f;
    // Starts mid-cycle so that the window has to move to find the crossing.
    feed(4800, [](int64_t i) { return std::pair{float(0.8 * std::sin(2 * kPi * 440 * double(i) / 48000.0 + 2.0)), 0.0f}; });
    frame();
    const Light light = scope();
    const double leftCentre = beam::kWaveformLeftCentre * kHeight;  // upper half on screen
    const double scale = beam::kWaveformScale * kHeight;
    const double radiansPerPixel = 2 * kPi * 440 / 48000.0 * 959.0 / kWidth;
    // The window's first sample is the first at or above 0 after a negative
    // one, so the trace leaves the left edge rising through its centre line
    // (phase 0 ... 0.058 rad there). Where it crosses rows 20 and 30 px
    // above the centre says where it started.
    for (double above : {20.0, 30.0}) {
        const int row = int(leftCentre + above);
        double w = 0, wx = 0;
        for (int x = 0; x < 10; ++x) {
            w += light.hottest(x, row);
            wx += light.hottest(x, row) * (x + 0.5);
        }
        const double expected = (std::asin((row + 0.5 - leftCentre) / (0.8 * scale)) - 0.029) / radiansPerPixel;
        EXPECT_NEAR(wx / w, expected, 0.5) << above;
    }
    const auto centreOfColumn = [&](int x, int fromRow, int toRow) {
        double w = 0, wy = 0;
        for (int y = fromRow; y < toRow; ++y) {
            w += light.hottest(x, y);
            wy += light.hottest(x, y) * (y + 0.5);
        }
        return wy / w;
    };
    // A quarter period in, the beam is at its top.
    EXPECT_NEAR(centreOfColumn(int(kPi / 2 / radiansPerPixel), kHeight / 2, kHeight), leftCentre + 0.8 * scale, 1.5);
    // The silent right channel is a flat line at the lower centre.
    EXPECT_NEAR(centreOfColumn(100, 0, kHeight / 2), beam::kWaveformRightCentre * kHeight, 0.25);
}

TEST_F(BeamPicture, TheSameInputGivesTheSamePicture)
{
    const auto run = [&] {
        renderer->resize(kWidth, kHeight + 1);
        renderer->resize(kWidth, kHeight);
        for (int f = 0; f < 5; ++f) {
            feed(800, [f](int64_t i) {
                const double t = double(f * 800 + i) / 48000.0;
                return std::pair{float(0.7 * std::sin(2 * kPi * 330 * t)), float(0.7 * std::sin(2 * kPi * 220 * t))};
            });
            frame();
        }
        return scope();
    };
    const Light first = run();
    const Light second = run();
    ASSERT_EQ(first.rgba.size(), second.rgba.size());
    double worst = 0;
    for (size_t i = 0; i < first.rgba.size(); ++i)
        worst = std::max(worst, double(std::fabs(first.rgba[i] - second.rgba[i])) / (1e-3 + first.rgba[i]));
    EXPECT_LT(worst, 1e-3);
    EXPECT_GT(first.maximum(), 0.1f);
}

TEST_F(BeamPicture, ASingleFrameOrNoneDrawsNoBeam)
{
    frame();
    EXPECT_EQ(scope().maximum(), 0.0f);
    feed({0.3f}, {0.3f});
    frame();
    EXPECT_EQ(scope().maximum(), 0.0f);
    feed({0.3f, 0.2f}, {0.3f, 0.1f});
    frame();
    EXPECT_GT(scope().maximum(), 0.0f);
}

TEST_F(BeamPicture, LitTracesKeepTheirColourAndTheHottestSpotTurnsWhite)
{
    renderer->xyRotationAngle = 0.0f;
    renderer->intensity = 10.0f;
    // A slow circle, then a beam resting on one spot (0.3, -0.2).
    feed(800, [](int64_t i) {
        const double a = 2 * kPi * 60 * double(i) / 48000.0;
        return std::pair{float(0.8 * std::sin(a)), float(0.8 * std::cos(a))};
    });
    frame();
    const Light circle = scope();
    feed(800, [](int64_t) { return std::pair{0.3f, -0.2f}; });
    frame();
    const Light light = scope();
    const auto pixels = shown();
    const auto at = [&](int x, int y, int c) { return int(pixels[(size_t(y) * kWidth + size_t(x)) * 4 + size_t(c)]); };

    // The present pass shows each texel as the CPU's display mapping says.
    int worst = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const float expected = 255.0f * beam::displayValue(light.at(x, y, c), light.hottest(x, y));
                worst = std::max(worst, int(std::lround(std::fabs(expected - float(at(x, y, c))))));
            }
    EXPECT_LE(worst, 1);

    const double scale = beam::kXYScale * std::min(kWidth, kHeight);
    const int spotX = int(kWidth / 2.0 + 0.3 * scale), spotY = int(kHeight / 2.0 - 0.2 * scale);
    EXPECT_GT(at(spotX, spotY, 0), 240);
    EXPECT_GT(at(spotX, spotY, 2), 240);
    // On the circle, where the light is moderate, green dominates.
    const int ringX = int(kWidth / 2.0), ringY = int(kHeight / 2.0 + 0.8 * scale);
    ASSERT_GT(circle.hottest(ringX, ringY), 0.3f);
    ASSERT_LT(circle.hottest(ringX, ringY), 3.0f);
    EXPECT_GT(at(ringX, ringY, 1), at(ringX, ringY, 0) + 60);
    // Unlit pixels show the background colour.
    EXPECT_EQ(at(5, 5, 0), int(std::lround(255 * beam::kBackground)));
}

TEST_F(BeamPicture, EveryLitTexelIsShownWhereverTheTraceGoes)
{
    // The frame tones only the part of the picture the trace has lit: a
    // turned figure, then one moved elsewhere, must both show in full.
    renderer->xyRotationAngle = 0.6f;
    renderer->decay = 0.9f;
    feed(800, [](int64_t i) {
        const double t = double(i) / 48000.0;
        return std::pair{float(0.8 * std::sin(2 * kPi * 330 * t)), float(0.5 * std::sin(2 * kPi * 220 * t + 1.0))};
    });
    frame();
    feed(800, [](int64_t i) { return std::pair{float(-0.9 + 0.001 * double(i % 7)), 0.7f}; });
    frame();
    const Light light = scope();
    const auto pixels = shown();
    int worst = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                const float expected = 255.0f * beam::displayValue(light.at(x, y, c), light.hottest(x, y));
                const float got = float(pixels[(size_t(y) * kWidth + size_t(x)) * 4 + size_t(c)]);
                worst = std::max(worst, int(std::lround(std::fabs(expected - got))));
            }
    EXPECT_LE(worst, 1);
    EXPECT_GT(light.maximum(), 1.0f);
}
