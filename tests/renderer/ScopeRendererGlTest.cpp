// The renderer on a real GL 4.3 core context: its life cycle, the frame
// rules, and its pictures read back and compared with what the light model
// predicts, with tolerances (half floats, driver rounding).

#include "renderer/GlScopeFixture.h"

#include "AllocationCounter.h"
#include "renderer/ScopePasses.h"
#include "renderer/ShaderParams.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstddef>
#include <limits>
#include <numeric>

using ScopeRendererGl = GlScopeTest;

TEST_F(ScopeRendererGl, NeedsEveryProgramAndReadsTheBlocksAsTheCodeLaysThemOut)
{
    QTemporaryDir dir;
    for (const QString& f : QDir(QStringLiteral(":/orvalen/shaders")).entryList(QDir::Files))
        if (f != "drawGrid.comp")
            QFile::copy(":/orvalen/shaders/" + f, dir.filePath(f));
    EXPECT_EQ(ScopeRenderer::create(ring, dir.path()), nullptr);  // nothing dispatches "drawGrid", yet it must build
    const auto passes = ScopePasses::create(gl, QStringLiteral(":/orvalen/shaders"));
    using Member = std::tuple<const char*, const char*, size_t>;  // program, member, offset in the C++ block
#define BEAM(m) Member{"drawBeam", #m, offsetof(BeamParams, m)}
#define WAVE(m) Member{"drawWaveform", #m, offsetof(WaveformParams, m)}
    for (auto [program, member, expected] :
         {BEAM(count), BEAM(width), BEAM(height), BEAM(intensity), BEAM(beamWidth), BEAM(speedSensitivity),
          BEAM(colorRed), BEAM(colorGreen), BEAM(colorBlue), BEAM(xyRotationAngle), BEAM(xyGain), BEAM(stepScale), WAVE(count),
          WAVE(width), WAVE(height), WAVE(intensity), WAVE(beamWidth), WAVE(waveformGain), WAVE(colorRed),
          WAVE(colorGreen), WAVE(colorBlue), WAVE(speedSensitivity)}) {
        const GLuint p = passes->program(program), index = gl->glGetProgramResourceIndex(p, GL_UNIFORM, member);
        const GLenum property = GL_OFFSET;
        GLint offset = -1;
        if (index != GL_INVALID_INDEX)
            gl->glGetProgramResourceiv(p, GL_UNIFORM, index, 1, &property, 1, nullptr, &offset);
        EXPECT_EQ(offset, GLint(expected)) << program << "." << member;
    }
#undef BEAM
#undef WAVE
}

TEST_F(ScopeRendererGl, FramesDrainWhileHiddenFadeByDecayAndRestOnceNothingShows)
{
    int analyses = 0;
    renderer->core().meters().onRhythmAnalysis = [&](float) { ++analyses; };
    renderer->scopeVisible = false;
    feedCircle(5000);
    for (int i = 0; i < 12; ++i)
        frame();
    float left[16], right[16];
    EXPECT_EQ(std::tuple(analyses, renderer->scopeTexture(), ring->read(left, right, 16)), std::tuple(2, nullptr, 0));
    renderer->scopeVisible = true;
    frame(0, 0), frame(-5, 100), frame(16384, 16384);  // the last is 2 GiB of half floats: refused
    EXPECT_EQ(renderer->scopeTexture(), nullptr);
    renderer->decay = 0.5f;
    feedCircle(800), frame();
    renderer->resize(kWidth, kHeight);  // the same size keeps the picture
    const Light before = scope();
    frame();  // nothing new: fade only
    const Light after = scope();
    for (size_t i = 0; i < before.rgba.size(); ++i)  // half floats keep 11 bits
        ASSERT_NEAR(after.rgba[i], 0.5f * before.rgba[i], 0.5e-3f * before.rgba[i] + 1e-7f) << i;
    EXPECT_GT(before.maximum(), 1.0f);
    GLint bound = -1, viewport[4] = {};
    gl->glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    gl->glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(std::tuple(GLuint(bound), viewport[2], viewport[3]), std::tuple(target.framebuffer, kWidth, kHeight));
    renderer->intensity /= 256, feed({0, 0.1f}, {0, 0.1f}), frame(), renderer->intensity *= 256;  // a faint trace last
    // Faded below what the display shows, the picture rests: neither faded nor drawn, background only.
    std::vector<uint8_t> background(size_t(kWidth) * kHeight * 4, uint8_t(std::lround(255 * beam::kBackground)));
    for (size_t i = 3; i < background.size(); i += 4)
        background[i] = 255;
    std::vector<uint8_t> lastDrawn;
    int frames = 0;
    for (; frames < 200 && !renderer->resting(); ++frames)
        lastDrawn = shown(), frame();
    EXPECT_LT(frames, 60);
    EXPECT_TRUE(lastDrawn == background);  // so stopping made no visible difference
    const Light rested = scope();
    frame(), frame();
    EXPECT_TRUE(renderer->resting() && scope().rgba == rested.rgba && shown() == background);
    feedCircle(800), frame();
    EXPECT_TRUE(!renderer->resting() && scope().maximum() > 0.1f);
    renderer->resize(200, 100);  // any other size starts black
    renderer->resize(0, 0);
    EXPECT_EQ(std::tuple(scope().width, scope().height, scope().maximum()), std::tuple(200, 100, 0.0f));
}

TEST_F(ScopeRendererGl, BadSamplesAndSettingsNeverPoisonThePicture)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    ScopeRenderer& r = *renderer;
    const std::function<void()> changes[] = {
        [&] { feed({nan, 0.1f, inf, 0.2f, -inf, 0.3f}, {0.1f, nan, 0.2f, inf, 0.3f, 1e38f}); }, [&] { r.xyGain = nan; },
        [&] { r.xyGain = 1e30f; }, [&] { r.xyGain = inf; }, [&] { r.xyGain = 1, r.beamWidth = nan; },
        [&] { r.beamWidth = 1e30f; }, [&] { r.beamWidth = 1.5f, r.intensity = inf; }, [&] { r.intensity = nan; },
        [&] { r.decay = 7, r.speedSensitivity = nan, r.xyRotationAngle = inf; }, [&] { r.beamColor = {nan, inf, -1}; },
        [&] { r.core().displayFilterType = 7, r.core().displayFilterFrequency = nan; },
        [&] { r.intensity = 3, r.decay = nan; },
        [&] { r.displayMode = 1, r.waveformGain = nan; }, [&] { r.waveformGain = inf; }};
    for (size_t i = 0; i < std::size(changes); ++i) {
        changes[i](), feedCircle(800), frame();
        const Light light = scope();  // infinity may last a frame (the next fade caps it); NaN would stay
        EXPECT_TRUE(std::none_of(light.rgba.begin(), light.rgba.end(), [](float v) { return std::isnan(v); })) << i;
    }
}

TEST_F(ScopeRendererGl, EachSegmentLeavesTheEnergyOfTheModel)
{
    renderer->beamWidth = 3.0f, renderer->intensity = 2.0f, renderer->xyRotationAngle = 0.0f;
    const float sigma = beam::sigmaFor(3.0f);
    const double perPixel = 1.0 / (beam::kXYScale * kHeight);  // in sample units
    for (float sensitivity : {10.0f, 5.0f})
        for (double length : {0.0, 1.0 * sigma, 3.0 * sigma, 40.0 * sigma}) {
            renderer->speedSensitivity = sensitivity;
            const float x0 = float(-0.5 * length * perPixel), p = beam::speedExponentFor(sensitivity);
            const Light light = draw({x0, float(x0 + length * perPixel)}, {0.1f, 0.1f});  // one segment
            double green = 0;
            for (size_t i = 1; i < light.rgba.size(); i += 4)
                green += light.rgba[i];
            const double energy = 2.0 * beam::kEnergyScale * sigma * sigma * std::pow(1.0 + length / sigma, 1.0 - p);
            EXPECT_NEAR(green / energy, 1.0, 0.01) << sensitivity << " " << length;
            // The bound by which the frame knows that the picture has faded holds, and is near.
            const float bound = beam::xySegmentPeakBound(beam::Shape{sigma, p, 2.0f, 1.0f});
            EXPECT_TRUE(light.maximum() <= bound * 1.001f && (length != sigma || light.maximum() > 0.3f * bound));
        }
}

// A path drawn on its reconstruction leaves the light of the straight one,
// in either mode, at any speed sensitivity: a trace is as bright at 8 points
// per sample as at one.
TEST_F(ScopeRendererGl, UpsamplingKeepsTheLightAlongThePath)
{
    const auto left = test::sine(2400, 48000, 240, 0.5), right = test::sine(2400, 48000, 240, 0.5, test::kPi / 2);
    renderer->core().triggerEnabled = false;
    renderer->core().displaySampleCount = 2400;
    for (int64_t mode : {0, 1})
        for (float sensitivity : {10.0f, 8.29f, 0.1f}) {
            renderer->displayMode = mode;
            renderer->speedSensitivity = sensitivity;
            renderer->upsampling = 1;
            const double straight = draw(left, right).total(1);
            for (int64_t factor : {2, 4, 8}) {
                renderer->upsampling = factor;
                EXPECT_NEAR(draw(left, right).total(1) / straight, 1.0, 0.05)
                    << "mode " << mode << ", " << sensitivity << " at " << factor;
            }
        }
}

// A third channel dims the beam by its convention, in either mode and on
// the reconstructed path too; with Z off it changes nothing.
TEST_F(ScopeRendererGl, ZDimsTheBeamByItsConvention)
{
    const auto left = test::sine(2400, 48000, 240, 0.5), right = test::sine(2400, 48000, 240, 0.5, test::kPi / 2);
    renderer->core().ringBuffer = ring = std::make_shared<RingBuffer>(65536, 3);
    renderer->core().triggerEnabled = false;
    renderer->core().displaySampleCount = 2400;
    const auto drawWithZ = [&](float z) {
        std::vector<float> frames;
        for (size_t i = 0; i < left.size(); ++i)
            frames.insert(frames.end(), {left[i], right[i], z});
        renderer->resize(kWidth, kHeight + 1);
        renderer->resize(kWidth, kHeight);
        ring->write(frames.data(), int64_t(left.size()));
        frame();
        return scope().total(1);
    };
    const struct { int64_t convention; float z, share; } rows[] = {
        {0, 0.0f, 1.0f}, {1, 1.0f, 1.0f}, {1, 0.5f, 0.5f}, {1, 0.0f, 0.0f}, {1, -3.0f, 0.0f},
        {2, 1.0f, 1.0f}, {2, 0.0f, 0.5f}, {2, -1.0f, 0.0f}, {2, NAN, 0.0f}};
    for (int64_t mode : {0, 1})
        for (int64_t factor : {1, 4}) {
            renderer->displayMode = mode;
            renderer->upsampling = factor;
            renderer->zInput = 0;
            const double full = drawWithZ(1.0f);
            for (const auto& r : rows) {
                renderer->zInput = r.convention;
                EXPECT_NEAR(drawWithZ(r.z) / full, r.share, 0.01)
                    << "mode " << mode << " x" << factor << ", convention " << r.convention << ", z " << r.z;
            }
        }
}

// GLOW lays a soft halo around the light, the stronger the brighter, within
// its reach and nowhere else.
TEST_F(ScopeRendererGl, GlowLaysAHaloAroundTheLightWithinItsReach)
{
    const std::vector<float> still(400, 0.0f);  // a resting spot in the middle
    std::vector<std::vector<uint8_t>> pictures;
    for (float glow : {0.0f, 0.5f, 1.0f}) {
        renderer->glow = glow;
        draw(still, still);
        pictures.push_back(shown());
    }
    const auto green = [](const std::vector<uint8_t>& p, int x, int y) { return p[(size_t(y) * kWidth + x) * 4 + 1]; };
    const int x = kWidth / 2, y = kHeight / 2;
    EXPECT_TRUE(green(pictures[0], x + 12, y) < green(pictures[1], x + 12, y) &&
                green(pictures[1], x + 12, y) < green(pictures[2], x + 12, y));
    for (const auto& picture : pictures)
        EXPECT_EQ(green(picture, x + 60, y), green(pictures[0], 0, 0)) << "beyond the halo: background";
}

TEST_F(ScopeRendererGl, TheWaveformStartsAtTheTriggerCrossingAtTheLeftEdge)
{
    renderer->displayMode = 1, renderer->core().displaySampleCount = 960;
    renderer->beamWidth = 2, renderer->waveformGain = 2;
    // Mid-cycle at first, so that the window has to move to the crossing.
    const Light light = draw(test::sine(4800, 48000, 440, 0.4, 2.0), std::vector<float>(4800, 0.0f));
    const auto rowOf = [&](int x, int y0, int y1) {  // where the light of column x lies between rows y0 and y1
        double w = 0, sum = 0;
        for (int y = y0; y < y1; ++y)
            w += light.hottest(x, y), sum += light.hottest(x, y) * (y + 0.5);
        return sum / w;
    };
    // Left channel in the upper half: it leaves the left edge rising through its centre line, 7.5 px per
    // column, and a quarter period (9 columns) later is at its top. The silent right channel is a line below.
    const double centre = beam::kWaveformLeftCentre * kHeight, peak = 0.8 * beam::kWaveformScale * kHeight;
    EXPECT_NEAR(rowOf(0, kHeight / 2, kHeight), centre + 6, 6);
    EXPECT_NEAR(rowOf(9, kHeight / 2, kHeight), centre + peak, 1.5);
    EXPECT_NEAR(rowOf(100, 0, kHeight / 2), beam::kWaveformRightCentre * kHeight, 0.25);
    EXPECT_LT(displayGap(light), 1.5f);  // shown wherever it went, though only the rows it reaches are presented
}

TEST_F(ScopeRendererGl, EveryTexelShowsAsTheModelSaysWhereverTheTraceWent)
{
    // The frame fades and tones only what the trace has lit: a turned figure,
    // then a spot well away from it, must both show in full.
    const float angle = 0.6f;
    renderer->xyRotationAngle = angle, renderer->xyGain = 2.0f, renderer->intensity = 10.0f, renderer->decay = 0.9f;
    const auto figure = [&] {
        draw(test::sine(800, 48000, 330, 0.25), test::sine(800, 48000, 220, 0.25, 1.0));
        feed(std::vector<float>(800, -0.45f), std::vector<float>(800, 0.35f));
        frame();
        return scope();
    };
    const Light light = figure();
    const auto pixels = shown();
    const auto at = [&](int x, int y, int c) { return pixels[(size_t(y) * kWidth + size_t(x)) * 4 + size_t(c)]; };
    const size_t hottest = size_t(std::max_element(light.rgba.begin(), light.rgba.end()) - light.rgba.begin()) / 4;
    const int hotX = int(hottest % kWidth), hotY = int(hottest / kWidth);
    EXPECT_LT(displayGap(light), 1.5f);  // the display mapping, to within an 8-bit step
    EXPECT_GT(std::min(at(hotX, hotY, 0), at(hotX, hotY, 2)), 240);  // the hottest spot of a green trace turns white
    // Left steers x and right y, turned counter-clockwise: the spot is at R(angle) (-0.9, 0.7) from the centre.
    const double c = std::cos(angle), s = std::sin(angle), scale = beam::kXYScale * kHeight;
    EXPECT_NEAR(hotX + 0.5, kWidth / 2.0 + (-0.9 * c - 0.7 * s) * scale, 1.0);
    EXPECT_NEAR(hotY + 0.5, kHeight / 2.0 + (-0.9 * s + 0.7 * c) * scale, 1.0);
    EXPECT_LT(worstRelativeDifference(light, figure()), 1e-3);  // light adds up the same in any order
}

TEST_F(ScopeRendererGl, SteadyFramesAllocateNothingInEitherMode)
{
    renderer->core().displayFilterType = 1, renderer->core().kxScaleMode = 2;  // every analyser and the filter run
    const auto wave = test::sine(800, 48000, 382, 0.5), block = test::interleave(wave, wave);
    const auto frames = [&](int count, int64_t mode) {
        renderer->displayMode = mode;
        for (int i = 0; i < count; ++i)
            ring->write(block.data(), 800), frame();
    };
    // The history fills past three seconds (the analysis window grows until
    // then) and the driver compiles what it compiles lazily, the capped fade
    // of the waveform's light too.
    frames(200, 0), frames(40, 1), frames(12, 0);
    const int64_t before = allocationCount();  // every operator new in this binary
    frames(30, 0), frames(30, 1);
    EXPECT_EQ(allocationCount() - before, 0);
}

TEST_F(ScopeRendererGl, LongWindowsMergedPerColumnLookAsDrawnSampleBySample)
{
    const auto passes = ScopePasses::create(gl, QStringLiteral(":/orvalen/shaders"));
    const BeamSettings settings{10.0f, 3.23f, 8.29f, {0.2f, 1.0f, 0.3f}, 0.0f, 1.0f, 1.0f};  // the app's defaults
    const auto picture = [&](const std::vector<float>& wave, bool merge) {  // light in all, and what shows
        ScopeTexture t;  // black
        t.create(gl, kWidth, kHeight);
        passes->uploadSamples(wave.data(), wave.data(), int64_t(wave.size()));
        passes->drawWaveform(t, makeWaveformParams(settings, int64_t(wave.size()), kWidth, kHeight), merge);
        passes->present(t, target.framebuffer, kWidth, kHeight);
        const Light light = read(&t);
        t.release(gl);
        return std::pair(std::accumulate(light.rgba.begin(), light.rgba.end(), 0.0), shown());
    };
    // 4.7 and 47 samples per column: 10 and 100 ms per division in the default window.
    for (const auto& [samples, noisy] : {std::pair(1500, false), std::pair(1500, true), std::pair(15000, false),
                                         std::pair(15000, true)}) {
        SCOPED_TRACE(testing::Message() << samples << (noisy ? " noise" : " sine"));
        const auto wave = noisy ? test::noise(samples, 0.3) : test::sine(samples, 48000, 300 * 4800.0 / samples, 0.5);
        ASSERT_TRUE(ScopePasses::mergesColumns(samples, kWidth));
        const auto [mergedLight, merged] = picture(wave, true);
        const auto [exactLight, exact] = picture(wave, false);
        // The same light (half floats lose more in many small additions) and picture, to a few 8-bit steps.
        EXPECT_NEAR(mergedLight / exactLight, 1.0, 0.05);
        EXPECT_TRUE(std::equal(exact.begin(), exact.end(), merged.begin(), [](int a, int b) { return abs(a - b) <= 10; }));
    }
}
