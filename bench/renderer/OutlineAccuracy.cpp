// How far the drawn XY outline lies from the ideal curve: a 3 kHz (left) /
// 2 kHz (right) Lissajous at 48 kHz, drawn at 1020 x 580 without
// upsampling and at 2, 4 and 8 points per sample. For points along the
// ideal curve it fits the light's ridge across the curve (a parabola in the
// logarithm of the texels near the normal, the spot being Gaussian) and
// reports the mean and largest distance in px. Points where another part
// of the figure comes within 5 sigma are left out: there the ridges merge.
// Needs an X display with OpenGL 4.3 (xvfb-run on a headless machine).
//
//   outline_accuracy [amplitude]

#include "renderer/GlTestContext.h"

#include "audio/RingBuffer.h"
#include "renderer/BeamModel.h"
#include "renderer/ScopeRenderer.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {

constexpr int kWidth = 1020;
constexpr int kHeight = 580;
constexpr double kRate = 48000.0;
constexpr double kPi = std::numbers::pi;
constexpr float kBeamWidth = 3.23f;  // the app's default: sigma 1.6 px

struct Light {
    std::vector<float> green;  // row 0 at the bottom
    float at(int x, int y) const { return green[size_t(y) * kWidth + size_t(x)]; }
};

// The figure, left steering x and right y (no rotation, gain 1), at
// theta = 2 pi 1000 t: one turn of theta is one whole figure.
struct Curve {
    double amplitude;
    double scale = beam::kXYScale * std::min(kWidth, kHeight);
    double phase = kPi / 4;
    double left(double theta) const { return amplitude * std::sin(3 * theta); }
    double right(double theta) const { return amplitude * std::sin(2 * theta + phase); }
    double x(double theta) const { return 0.5 * kWidth + left(theta) * scale; }
    double y(double theta) const { return 0.5 * kHeight + right(theta) * scale; }
    double dx(double theta) const { return 3 * amplitude * std::cos(3 * theta) * scale; }
    double dy(double theta) const { return 2 * amplitude * std::cos(2 * theta + phase) * scale; }
};

Light render(const Curve& curve, int64_t factor)
{
    auto ring = std::make_shared<RingBuffer>(65536, 2);
    auto renderer = ScopeRenderer::create(ring);
    renderer->xyRotationAngle = 0.0f;
    renderer->beamWidth = kBeamWidth;
    renderer->intensity = 1.0f;
    renderer->decay = 0.9f;
    renderer->upsampling = factor;
    renderer->core().paced = false;  // each frame draws what it drained, as a video render does
    ScopeTexture target;
    std::unique_ptr<GlFunctions> gl = currentGlFunctions();
    target.create(gl.get(), kWidth, kHeight);
    // 800 samples a frame: 16 2/3 figures, so the step left between frames
    // falls on a different part of the figure each time.
    std::vector<float> block(1600);
    int64_t t = 0;
    for (int frame = 0; frame < 120; ++frame) {
        for (size_t i = 0; i < 800; ++i, ++t) {
            const double theta = 2 * kPi * 1000.0 * double(t) / kRate;
            block[2 * i] = float(curve.left(theta));
            block[2 * i + 1] = float(curve.right(theta));
        }
        ring->write(block.data(), 800);
        renderer->draw(target.framebuffer, kWidth, kHeight);
    }
    const ScopeTexture* picture = renderer->scopeTexture();
    std::vector<float> rgba(size_t(kWidth) * kHeight * 4);
    gl->glBindTexture(GL_TEXTURE_2D, picture->texture);
    gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, rgba.data());
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    target.release(gl.get());
    Light light;
    light.green.resize(size_t(kWidth) * kHeight);
    for (size_t i = 0; i < light.green.size(); ++i)
        light.green[i] = rgba[4 * i + 1];
    return light;
}

// Least squares of log(light) = a + b s + c s^2 + d u over the texels within
// 2.5 px of the curve point across (s) and 1.5 px along (u); the ridge is at
// s = -b / 2c. NaN when it is not a clear maximum.
double ridgeOffset(const Light& light, double px, double py, double nx, double ny)
{
    double m[4][5] = {};
    for (int y = int(py) - 4; y <= int(py) + 4; ++y)
        for (int x = int(px) - 4; x <= int(px) + 4; ++x) {
            if (x < 0 || y < 0 || x >= kWidth || y >= kHeight || light.at(x, y) <= 0.0f)
                continue;
            const double qx = x + 0.5 - px, qy = y + 0.5 - py;
            const double s = qx * nx + qy * ny, u = qx * -ny + qy * nx;
            if (std::fabs(s) > 2.5 || std::fabs(u) > 1.5)
                continue;
            const double row[5] = {1.0, s, s * s, u, std::log(double(light.at(x, y)))};
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 5; ++j)
                    m[i][j] += row[i] * row[j];
        }
    for (int i = 0; i < 4; ++i) {  // Gauss-Jordan on the normal equations
        int pivot = i;
        for (int r = i + 1; r < 4; ++r)
            if (std::fabs(m[r][i]) > std::fabs(m[pivot][i]))
                pivot = r;
        std::swap(m[i], m[pivot]);
        if (std::fabs(m[i][i]) < 1e-9)
            return NAN;
        for (int r = 0; r < 4; ++r)
            if (r != i) {
                const double k = m[r][i] / m[i][i];
                for (int j = i; j < 5; ++j)
                    m[r][j] -= k * m[i][j];
            }
    }
    const double b = m[1][4] / m[1][1], c = m[2][4] / m[2][2];
    return c < 0 ? -b / (2 * c) : NAN;
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
    {
        auto ring = std::make_shared<RingBuffer>(16, 2);
        ScopeRenderer::create(ring);  // registers the embedded shaders
    }
    const Curve curve{argc > 1 ? std::atof(argv[1]) : 0.8};
    const double sigma = beam::sigmaFor(kBeamWidth);
    // Points along the figure, and which of them lie clear of its other parts.
    constexpr int kPoints = 6000;
    std::vector<double> xs(kPoints), ys(kPoints);
    for (int i = 0; i < kPoints; ++i)
        xs[i] = curve.x(2 * kPi * i / kPoints), ys[i] = curve.y(2 * kPi * i / kPoints);
    std::vector<double> arc(kPoints + 1, 0.0);  // path length from the first point
    for (int i = 0; i < kPoints; ++i)
        arc[i + 1] = arc[i] + std::hypot(xs[(i + 1) % kPoints] - xs[i], ys[(i + 1) % kPoints] - ys[i]);
    std::vector<bool> clear(kPoints, true);
    for (int i = 0; i < kPoints; ++i)
        for (int j = 0; j < kPoints && clear[i]; ++j) {
            // Another part of the figure (more than 12 px of path away) within 5 sigma.
            const double along = std::fabs(arc[i] - arc[j]), path = std::min(along, arc[kPoints] - along);
            if (path > 12 && std::hypot(xs[i] - xs[j], ys[i] - ys[j]) < 5 * sigma)
                clear[i] = false;
        }
    std::printf("3 kHz / 2 kHz Lissajous, amplitude %g (%.0f px), %dx%d, sigma %.2f px; %d of %d points clear of crossings\n",
                curve.amplitude, curve.amplitude * curve.scale, kWidth, kHeight, sigma,
                int(std::count(clear.begin(), clear.end(), true)), kPoints);
    for (int64_t factor : {1, 2, 4, 8}) {
        const Light light = render(curve, factor);
        double sum = 0, worst = 0, worstAt = 0;
        int measured = 0, missed = 0;
        for (int i = 0; i < kPoints; ++i) {
            if (!clear[i])
                continue;
            const double theta = 2 * kPi * i / kPoints;
            const double tx = curve.dx(theta), ty = curve.dy(theta), len = std::hypot(tx, ty);
            const double offset = ridgeOffset(light, xs[i], ys[i], -ty / len, tx / len);
            if (std::isnan(offset)) {
                ++missed;
                continue;
            }
            sum += std::fabs(offset), ++measured;
            if (std::fabs(offset) > worst)
                worst = std::fabs(offset), worstAt = theta;
        }
        std::printf("%s: mean %.3f px, max %.3f px (at x %.0f, y %.0f), %d points, %d without a ridge\n",
                    factor == 1 ? "upsampling off" : factor == 2 ? "upsampling 2x " : factor == 4 ? "upsampling 4x "
                                                                                              : "upsampling 8x ",
                    sum / std::max(1, measured), worst, curve.x(worstAt), curve.y(worstAt), measured, missed);
    }
    return 0;
}
