// The renderer's life cycle and frame rules on a real GL 4.3 core context:
// creation, the parameter blocks as the driver lays them out, resize, fade,
// visibility, bad values and the resting picture.

#include "renderer/GlScopeFixture.h"

#include "renderer/GlProgram.h"
#include "renderer/ScopePasses.h"
#include "renderer/ShaderParams.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <limits>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::pair<float, float> circle(int64_t i)
{
    const double a = 2 * 3.14159265358979 * 240 * double(i) / 48000.0;
    return {float(0.5 * std::sin(a)), float(0.5 * std::cos(a))};
}

bool allFinite(const GlScopeTest::Light& light)
{
    for (float v : light.rgba)
        if (!std::isfinite(v))
            return false;
    return true;
}

// Light may overflow to infinity for a frame (the next fade caps it); NaN
// would never go away.
bool noNaN(const GlScopeTest::Light& light)
{
    for (float v : light.rgba)
        if (std::isnan(v))
            return false;
    return true;
}

}  // namespace

using ScopeRendererGl = GlScopeTest;

TEST_F(ScopeRendererGl, RunsOnACoreProfileAndBlocksMatchTheCppLayout)
{
    EXPECT_EQ(QOpenGLContext::currentContext()->format().profile(), QSurfaceFormat::CoreProfile);
    auto passes = ScopePasses::create(gl, QStringLiteral(":/orvalen/shaders"));
    ASSERT_NE(passes, nullptr);
    for (const char* name : {"applyDecay", "drawBeam", "drawWaveform", "drawGrid", "fullscreenVertex", "displayFragment"})
        EXPECT_NE(passes->program(name), 0u) << name;

    const auto offsetOf = [&](const char* program, const char* member) {
        const GLuint p = passes->program(program);
        const GLuint index = gl->glGetProgramResourceIndex(p, GL_UNIFORM, member);
        if (index == GL_INVALID_INDEX)
            return -1;
        const GLenum property = GL_OFFSET;
        GLint offset = -1;
        gl->glGetProgramResourceiv(p, GL_UNIFORM, index, 1, &property, 1, nullptr, &offset);
        return offset;
    };
    const std::pair<const char*, size_t> beamMembers[] = {
        {"count", offsetof(BeamParams, count)},
        {"width", offsetof(BeamParams, width)},
        {"height", offsetof(BeamParams, height)},
        {"intensity", offsetof(BeamParams, intensity)},
        {"beamWidth", offsetof(BeamParams, beamWidth)},
        {"speedSensitivity", offsetof(BeamParams, speedSensitivity)},
        {"colorRed", offsetof(BeamParams, colorRed)},
        {"colorGreen", offsetof(BeamParams, colorGreen)},
        {"colorBlue", offsetof(BeamParams, colorBlue)},
        {"xyRotationAngle", offsetof(BeamParams, xyRotationAngle)},
        {"xyGain", offsetof(BeamParams, xyGain)}};
    for (auto [member, offset] : beamMembers)
        EXPECT_EQ(offsetOf("drawBeam", member), int(offset)) << member;
    const std::pair<const char*, size_t> waveformMembers[] = {
        {"count", offsetof(WaveformParams, count)},
        {"width", offsetof(WaveformParams, width)},
        {"height", offsetof(WaveformParams, height)},
        {"intensity", offsetof(WaveformParams, intensity)},
        {"beamWidth", offsetof(WaveformParams, beamWidth)},
        {"waveformGain", offsetof(WaveformParams, waveformGain)},
        {"colorRed", offsetof(WaveformParams, colorRed)},
        {"colorGreen", offsetof(WaveformParams, colorGreen)},
        {"colorBlue", offsetof(WaveformParams, colorBlue)},
        {"speedSensitivity", offsetof(WaveformParams, speedSensitivity)}};
    for (auto [member, offset] : waveformMembers)
        EXPECT_EQ(offsetOf("drawWaveform", member), int(offset)) << member;
}

TEST_F(ScopeRendererGl, AnyMissingOrBrokenProgramMeansNoRenderer)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList files = QDir(QStringLiteral(":/orvalen/shaders")).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 9);
    const auto install = [&] {
        for (const QString& f : files) {
            QFile::remove(dir.filePath(f));
            ASSERT_TRUE(QFile::copy(":/orvalen/shaders/" + f, dir.filePath(f)));
            QFile::setPermissions(dir.filePath(f), QFile::ReadOwner | QFile::WriteOwner);
        }
    };
    install();
    EXPECT_NE(ScopeRenderer::create(ring, dir.path()), nullptr);

    // "drawGrid" is never dispatched, but a renderer without it is refused too.
    for (const QString& missing : files) {
        install();
        QFile::remove(dir.filePath(missing));
        EXPECT_EQ(ScopeRenderer::create(ring, dir.path()), nullptr) << missing.toStdString();
    }
    for (const QString& broken : files) {
        install();
        QFile file(dir.filePath(broken));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("\nthis is not GLSL\n");
        file.close();
        QString error;
        EXPECT_EQ(ScopeRenderer::create(ring, dir.path(), &error), nullptr) << broken.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }

    // No current context: no renderer either.
    s_gl->context()->doneCurrent();
    EXPECT_EQ(ScopeRenderer::create(ring), nullptr);
    s_gl->makeCurrent();
}

TEST_F(ScopeRendererGl, ResizeGivesABlackPictureUnlessTheSizeIsTheSame)
{
    feed(800, circle);
    frame();
    ASSERT_GT(scope().maximum(), 0.1f);
    renderer->resize(kWidth, kHeight);  // same size: the picture stays
    EXPECT_GT(scope().maximum(), 0.1f);

    renderer->resize(200, 100);
    const Light light = scope();
    EXPECT_EQ(light.width, 200);
    EXPECT_EQ(light.height, 100);
    EXPECT_EQ(light.maximum(), 0.0f);

    renderer->resize(0, 0);  // nothing below one pixel
    EXPECT_EQ(scope().width, 200);
}

TEST_F(ScopeRendererGl, OneFadeMultipliesEveryTexelByDecay)
{
    renderer->decay = 0.8f;
    feed(800, circle);
    frame();
    const Light before = scope();
    frame();  // nothing new: fade only
    const Light after = scope();
    ASSERT_FALSE(renderer->resting());
    size_t lit = 0;
    for (size_t i = 0; i < before.rgba.size(); ++i) {
        const float expected = 0.8f * before.rgba[i];
        // Half floats keep 11 significant bits.
        ASSERT_NEAR(after.rgba[i], expected, expected * 1.0e-3f + 1e-7f) << i;
        lit += before.rgba[i] > 0.01f;
    }
    EXPECT_GT(lit, 1000u);
}

TEST_F(ScopeRendererGl, HiddenFramesDrainAndAnalyseButDrawNothing)
{
    int analyses = 0;
    renderer->onRhythmAnalysis = [&](float) { ++analyses; };
    renderer->scopeVisible = false;
    feed(5000, circle);
    for (int i = 0; i < 12; ++i)
        frame();
    EXPECT_EQ(analyses, 2);
    EXPECT_EQ(renderer->scopeTexture(), nullptr);
    float left[16], right[16];
    EXPECT_EQ(ring->read(left, right, 16), 0);  // drained

    renderer->scopeVisible = true;
    frame();
    ASSERT_NE(renderer->scopeTexture(), nullptr);
}

TEST_F(ScopeRendererGl, BadValuesNeverPoisonThePicture)
{
    const auto frameWith = [&](const std::function<void()>& change) {
        change();
        feed(800, circle);
        frame();
        EXPECT_TRUE(noNaN(scope()));
    };
    frameWith([&] { feed({kNaN, 0.1f, kInf, 0.2f, -kInf, 0.3f}, {0.1f, kNaN, 0.2f, kInf, 0.3f, 1e38f}); });
    frameWith([&] { renderer->xyGain = kNaN; });
    frameWith([&] { renderer->xyGain = 1e30f; });
    frameWith([&] { renderer->xyGain = kInf; });
    frameWith([&] { renderer->xyGain = 1.0f; renderer->beamWidth = kNaN; });
    frameWith([&] { renderer->beamWidth = 1e30f; });
    frameWith([&] { renderer->beamWidth = 1.5f; renderer->intensity = kInf; });
    frameWith([&] { renderer->intensity = kNaN; });
    frameWith([&] { renderer->intensity = 3.0f; renderer->decay = kNaN; });
    frameWith([&] { renderer->decay = 7.0f; renderer->speedSensitivity = kNaN; renderer->xyRotationAngle = kInf; });
    frameWith([&] { renderer->beamColor = {kNaN, kInf, -1.0f}; });
    frameWith([&] { renderer->beamColor = {0.2f, 1.0f, 0.3f}; renderer->displayFilterType = 7; });
    frameWith([&] { renderer->displayFilterFrequency = kNaN; });
    renderer->displayMode = 1;
    frameWith([&] { renderer->displaySampleCount = 0; });
    frameWith([&] { renderer->displaySampleCount = -1; });
    frameWith([&] { renderer->displaySampleCount = std::numeric_limits<int64_t>::max(); });
    frameWith([&] { renderer->waveformGain = kNaN; });
    frameWith([&] { renderer->waveformGain = kInf; });
    frameWith([&] { renderer->displayMode = std::numeric_limits<int64_t>::min(); renderer->waveformGain = 1.0f; });

    // After all that, an ordinary frame draws an ordinary picture.
    renderer->displayMode = 0;
    renderer->decay = 0.5f;
    renderer->displayFilterType = 0;
    renderer->displayFilterFrequency = 1000.0f;
    renderer->speedSensitivity = 3.0f;
    renderer->xyRotationAngle = 0.0f;
    for (int i = 0; i < 40; ++i) {
        feed(800, circle);
        frame();
    }
    const Light light = scope();
    EXPECT_TRUE(allFinite(light));
    EXPECT_GT(light.maximum(), 0.1f);
    EXPECT_LT(light.maximum(), 100.0f);
}

TEST_F(ScopeRendererGl, DrawablesThatCannotHaveATextureEndTheFrameQuietly)
{
    feed(800, circle);
    frame(0, 0);
    EXPECT_EQ(renderer->scopeTexture(), nullptr);
    frame(-5, 100);
    EXPECT_EQ(renderer->scopeTexture(), nullptr);

    feed(800, circle);
    frame(16384, 16384);  // 2 GiB of half floats: refused
    EXPECT_EQ(renderer->scopeTexture(), nullptr);
    EXPECT_EQ(gl->glGetError(), GLenum(GL_NO_ERROR));
    frame(16384, 16384);  // the same size again: no new attempt, no texture
    EXPECT_EQ(renderer->scopeTexture(), nullptr);

    feed(800, circle);
    frame();
    ASSERT_NE(renderer->scopeTexture(), nullptr);
    EXPECT_GT(scope().maximum(), 0.0f);
}

TEST_F(ScopeRendererGl, APictureFadedBelowVisibilityRestsUntilSamplesArrive)
{
    renderer->decay = 0.5f;
    feed(800, circle);
    frame();
    const auto background = uint8_t(std::lround(255 * beam::kBackground));
    std::vector<uint8_t> lastDrawn;
    int frames = 0;
    for (; frames < 200 && !renderer->resting(); ++frames) {
        lastDrawn = shown();
        frame();
    }
    ASSERT_TRUE(renderer->resting());
    EXPECT_LT(frames, 60);
    // The last frame before resting already showed nothing but background:
    // stopping made no visible difference.
    for (size_t i = 0; i < lastDrawn.size(); ++i)
        ASSERT_EQ(lastDrawn[i], i % 4 == 3 ? 255 : background) << i / 4;
    const Light rested = scope();
    for (int i = 0; i < 5; ++i)
        frame();
    EXPECT_TRUE(renderer->resting());
    EXPECT_EQ(scope().rgba, rested.rgba);  // neither faded nor drawn
    const auto pixels = shown();
    for (size_t i = 0; i < pixels.size(); ++i)
        ASSERT_EQ(pixels[i], i % 4 == 3 ? 255 : background) << i / 4;

    feed(800, circle);
    frame();
    EXPECT_FALSE(renderer->resting());
    EXPECT_GT(scope().maximum(), 0.1f);
}

TEST_F(ScopeRendererGl, LeavesTheTargetFramebufferBound)
{
    feed(800, circle);
    frame();
    GLint bound = -1;
    gl->glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(GLuint(bound), targetFramebuffer);
    GLint viewport[4] = {};
    gl->glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], kWidth);
    EXPECT_EQ(viewport[3], kHeight);
}
