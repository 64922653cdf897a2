// How far a coarser light field would move the picture: draws the same
// frames at full size and into a field 1/s the size (the beam's width scaled
// alike, so the light per pixel stays), resamples the field to full size on
// the CPU (bilinear, and Catmull-Rom on log light) and reports the largest
// difference of the displayed 8-bit values and how many pixels differ by
// more than 4. light_field_study [frames]. Needs an X display with OpenGL 4.3
// (run it under xvfb-run on a headless machine).

#include "renderer/GlTestContext.h"

#include "audio/RingBuffer.h"
#include "renderer/BeamModel.h"
#include "renderer/ScopeRenderer.h"

#include <QGuiApplication>
#include <QOpenGLFramebufferObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr int kWidth = 1020;
constexpr int kHeight = 580;

struct Light {
    int width = 0, height = 0;
    std::vector<float> rgba;
    float at(int x, int y, int c) const
    {
        x = std::clamp(x, 0, width - 1), y = std::clamp(y, 0, height - 1);
        return rgba[(size_t(y) * size_t(width) + size_t(x)) * 4 + size_t(c)];
    }
};

using Signal = std::function<std::pair<float, float>(int64_t)>;

// The light after `frames` frames of 800 samples at the app's defaults.
Light draw(const Signal& signal, bool scope, float beamWidth, int width, int height, int frames)
{
    auto ring = std::make_shared<RingBuffer>(65536, 2);
    auto renderer = ScopeRenderer::create(ring);
    renderer->decay = 0.52f;
    renderer->intensity = 10.0f;
    renderer->beamWidth = beamWidth;
    renderer->speedSensitivity = 8.29f;
    renderer->xyRotationAngle = 0.0f;
    renderer->displayMode = scope ? 1 : 0;
    renderer->core().displaySampleCount = 960;  // 2 ms per division
    QOpenGLFramebufferObject target(width, height);
    std::vector<float> block(1600);
    int64_t n = 0;
    for (int f = 0; f < frames; ++f) {
        for (size_t i = 0; i < 800; ++i, ++n)
            std::tie(block[2 * i], block[2 * i + 1]) = signal(n);
        ring->write(block.data(), 800);
        renderer->draw(target.handle(), width, height);
    }
    const ScopeTexture* t = renderer->scopeTexture();
    Light light{t->width, t->height, std::vector<float>(size_t(t->width) * size_t(t->height) * 4)};
    const auto gl = currentGlFunctions();
    gl->glBindTexture(GL_TEXTURE_2D, t->texture);
    gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, light.rgba.data());
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    return light;
}

float catmullRom(float t, int tap)
{
    const float a = std::fabs(t - float(tap));
    if (a < 1.0f)
        return 1.5f * a * a * a - 2.5f * a * a + 1.0f;
    if (a < 2.0f)
        return -0.5f * a * a * a + 2.5f * a * a - 4.0f * a + 2.0f;
    return 0.0f;
}

// The field's light at full-size pixel (x, y), channel c.
float resample(const Light& field, int x, int y, int c, bool logCubic)
{
    const float u = (float(x) + 0.5f) * float(field.width) / kWidth - 0.5f;
    const float v = (float(y) + 0.5f) * float(field.height) / kHeight - 0.5f;
    const int i = int(std::floor(u)), j = int(std::floor(v));
    const float fu = u - float(i), fv = v - float(j);
    if (!logCubic)
        return (1 - fv) * ((1 - fu) * field.at(i, j, c) + fu * field.at(i + 1, j, c)) +
               fv * ((1 - fu) * field.at(i, j + 1, c) + fu * field.at(i + 1, j + 1, c));
    constexpr float kFloor = 1e-6f;
    float sum = 0.0f;
    for (int b = -1; b <= 2; ++b)
        for (int a = -1; a <= 2; ++a)
            sum += catmullRom(fu, a) * catmullRom(fv, b) * std::log(std::max(field.at(i + a, j + b, c), 0.0f) + kFloor);
    return std::exp(sum) - kFloor;
}

void compare(const char* what, const Light& full, const Light& field)
{
    for (bool logCubic : {false, true}) {
        int worst = 0;
        int64_t over = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                float want[3], got[3];
                for (int c = 0; c < 3; ++c)
                    want[c] = full.at(x, y, c), got[c] = resample(field, x, y, c, logCubic);
                const float hotWant = std::max({want[0], want[1], want[2]});
                const float hotGot = std::max({got[0], got[1], got[2]});
                int gap = 0;
                for (int c = 0; c < 3; ++c)
                    gap = std::max(gap, std::abs(int(std::lround(255 * beam::displayValue(want[c], hotWant))) -
                                                 int(std::lround(255 * beam::displayValue(got[c], hotGot)))));
                worst = std::max(worst, gap);
                over += gap > 4;
            }
        std::printf("  %-34s %-18s largest %3d/255, %7lld px over 4\n", what,
                    logCubic ? "log Catmull-Rom" : "bilinear", worst, static_cast<long long>(over));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    GlTestContext context;
    if (!context.available()) {
        std::fprintf(stderr, "%s\n", context.why().c_str());
        return 1;
    }
    const int frames = argc > 1 ? std::atoi(argv[1]) : 12;
    constexpr double kPi = std::numbers::pi;
    const Signal lissajous = [](int64_t n) {
        const double t = double(n) / kRate;
        return std::pair{float(0.5 * std::sin(2 * kPi * 300 * t)), float(0.5 * std::sin(2 * kPi * 200 * t))};
    };
    // Pink-ish and brown-ish noise mixed to a correlation near 0.6.
    std::vector<float> musicL(size_t(800 * frames)), musicR(musicL.size());
    std::mt19937 rng(7);
    std::normal_distribution<float> gauss;
    float pink = 0, brown = 0;
    for (size_t i = 0; i < musicL.size(); ++i) {
        pink += 0.3f * (gauss(rng) - pink);
        brown = 0.995f * brown + 0.05f * gauss(rng);
        const float other = 0.3f * gauss(rng) * 0.2f;
        musicL[i] = 0.35f * pink + 0.4f * brown + other;
        musicR[i] = 0.35f * pink + 0.4f * brown - other;
    }
    const Signal music = [&](int64_t n) { return std::pair{musicL[size_t(n)], musicR[size_t(n)]}; };
    const struct { const char* name; const Signal& signal; bool scope; float beamWidth; } scenes[] = {
        {"XY 300/200 Hz", lissajous, false, 3.23f}, {"XY music-like", music, false, 3.23f},
        {"Scope 300/200 Hz", lissajous, true, 3.23f}, {"XY 300/200 Hz, thinnest beam", lissajous, false, 0.5f},
        {"XY 300/200 Hz, widest beam", lissajous, false, 5.0f}};
    for (const auto& scene : scenes) {
        std::printf("%s\n", scene.name);
        const Light full = draw(scene.signal, scene.scope, scene.beamWidth, kWidth, kHeight, frames);
        for (int percent : {80, 50, 40, 25}) {  // field size per axis: 1/1.25, 1/2, 1/2.5, 1/4
            const int w = kWidth * percent / 100, h = kHeight * percent / 100;
            const float s = 100.0f / float(percent);
            const Light field = draw(scene.signal, scene.scope, scene.beamWidth / s, w, h, frames);
            char what[64];
            std::snprintf(what, sizeof what, "field 1/%.2g (%dx%d)", double(s), w, h);
            compare(what, full, field);
        }
    }
    return 0;
}
