// Renders a few typical scope pictures to PNG files, to judge the beam's
// look by eye: scope_pictures <output folder>. Needs an X display with
// OpenGL 4.3 (run it under xvfb-run on a headless machine).

#include "renderer/GlTestContext.h"

#include "audio/RingBuffer.h"
#include "renderer/ScopeRenderer.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QOpenGLFramebufferObject>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr double kPi = std::numbers::pi;
constexpr int kWidth = 1020;
constexpr int kHeight = 580;

struct Scene {
    const char* name;
    std::function<void(ScopeRenderer&)> setUp;
    std::function<std::pair<float, float>(int64_t)> sample;  // frame index -> (left, right)
    QRect zoom;  // shown 4x enlarged in a second file
    int framesPerSecond = 120;
    int frames = 90;
};

// Largest and 99.9th-percentile light in the picture: where the tone curve works.
void printLight(const ScopeRenderer& renderer)
{
    const ScopeTexture* texture = renderer.scopeTexture();
    const std::unique_ptr<GlFunctions> gl = currentGlFunctions();
    std::vector<float> texels(static_cast<size_t>(texture->width) * static_cast<size_t>(texture->height) * 4);
    gl->glBindTexture(GL_TEXTURE_2D, texture->texture);
    gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, texels.data());
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    std::vector<float> lit;
    for (size_t i = 0; i < texels.size(); i += 4) {
        const float hottest = std::max({texels[i], texels[i + 1], texels[i + 2]});
        if (hottest > 0.01f)
            lit.push_back(hottest);
    }
    std::sort(lit.begin(), lit.end());
    if (!lit.empty())
        std::printf("  lit texels %zu, max %.3f, 99.9%% %.3f, median %.3f\n", lit.size(), lit.back(),
                    lit[lit.size() * 999 / 1000], lit[lit.size() / 2]);
}

void appDefaults(ScopeRenderer& r)
{
    r.decay = 0.52f;
    r.intensity = 10.0f;
    r.beamWidth = 3.23f;
    r.speedSensitivity = 8.29f;
    r.xyRotationAngle = 0.0f;  // the default "45°" setting turns by 0
}

void render(const Scene& scene, const QString& folder)
{
    auto ring = std::make_shared<RingBuffer>(65536, 2);
    auto renderer = ScopeRenderer::create(ring);
    if (!renderer) {
        std::fprintf(stderr, "no renderer\n");
        return;
    }
    scene.setUp(*renderer);
    QOpenGLFramebufferObject target(kWidth, kHeight);
    const int64_t perFrame = static_cast<int64_t>(kRate) / scene.framesPerSecond;
    std::vector<float> block(static_cast<size_t>(2 * perFrame));
    int64_t t = 0;
    for (int f = 0; f < scene.frames; ++f) {
        for (int64_t i = 0; i < perFrame; ++i, ++t) {
            const auto [l, r] = scene.sample(t);
            block[static_cast<size_t>(2 * i)] = l;
            block[static_cast<size_t>(2 * i + 1)] = r;
        }
        ring->write(block.data(), perFrame);
        renderer->draw(target.handle(), kWidth, kHeight);
    }
    const QString path = folder + '/' + scene.name + ".png";
    const QImage picture = target.toImage();
    picture.save(path);
    if (!scene.zoom.isEmpty())
        picture.copy(scene.zoom)
            .scaled(scene.zoom.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation)
            .save(folder + '/' + scene.name + "_zoom.png");
    std::printf("%s\n", qPrintable(path));
    printLight(*renderer);
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(folder);
    GlTestContext gl;
    if (!gl.available()) {
        std::fprintf(stderr, "%s\n", gl.why().c_str());
        return 1;
    }

    std::mt19937 rng(7);
    std::normal_distribution<float> gauss(0.0f, 0.25f);
    const auto at = [](int64_t t) { return static_cast<double>(t) / kRate; };

    const std::vector<Scene> scenes = {
        {"lissajous_3_2", appDefaults,
         [&](int64_t t) {
             return std::pair{float(0.8 * std::sin(2 * kPi * 330 * at(t))),
                              float(0.8 * std::sin(2 * kPi * 220 * at(t) + kPi / 4))};
         },
         QRect(280, 60, 200, 140)},
        {"lissajous_3_2_renderer_defaults", [](ScopeRenderer& r) { r.xyRotationAngle = 0.0f; },
         [&](int64_t t) {
             return std::pair{float(0.8 * std::sin(2 * kPi * 330 * at(t))),
                              float(0.8 * std::sin(2 * kPi * 220 * at(t) + kPi / 4))};
         },
         QRect(280, 60, 200, 140)},
        {"circle_fast_and_slow", appDefaults,
         [&](int64_t t) {
             const double a = 2 * kPi * 90 * at(t);
             const double b = 2 * kPi * 1500 * at(t);
             return std::pair{float(0.5 * std::sin(a) + 0.25 * std::sin(b)),
                              float(0.5 * std::cos(a) + 0.25 * std::cos(b))};
         },
         QRect(410, 80, 200, 140)},
        {"goniometer_noise",
         [](ScopeRenderer& r) {
             appDefaults(r);
             r.xyRotationAngle = 0.7853981f;
         },
         [&](int64_t) {
             const float mid = gauss(rng);
             const float side = 0.35f * gauss(rng);
             return std::pair{mid + side, mid - side};
         },
         QRect(410, 220, 200, 140)},
        {"goniometer_music",
         [](ScopeRenderer& r) {
             appDefaults(r);
             r.xyRotationAngle = 0.7853981f;
         },
         [&](int64_t t) {
             const double s = at(t);
             const double kick = std::exp(-std::fmod(s, 0.5) / 0.08) * std::sin(2 * kPi * 55 * s);
             const double pad = 0.25 * std::sin(2 * kPi * 220 * s) + 0.15 * std::sin(2 * kPi * 331 * s + 1.0);
             const double wide = 0.2 * std::sin(2 * kPi * 440 * s + 0.3 * std::sin(2 * kPi * 0.7 * s));
             const float hat = 0.05f * gauss(rng);
             return std::pair{float(0.6 * kick + pad + wide) + hat, float(0.6 * kick + pad - wide) - hat};
         },
         QRect(410, 130, 200, 140)},
        {"waveform",
         [](ScopeRenderer& r) {
             appDefaults(r);
             r.displayMode = 1;
             r.core().displaySampleCount = 960;  // 2 ms per division at 48 kHz
         },
         [&](int64_t t) {
             const double s = at(t);
             const double saw = 2.0 * std::fmod(s * 330.0, 1.0) - 1.0;
             return std::pair{float(0.8 * std::sin(2 * kPi * 440 * s)), float(0.6 * saw + 0.02 * gauss(rng))};
         },
         QRect(0, 300, 200, 140)},
    };
    for (const Scene& scene : scenes)
        render(scene, folder);
    return 0;
}
