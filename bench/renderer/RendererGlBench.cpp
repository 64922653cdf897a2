// GPU time of each pass at 1020 x 580 (the scope area of the default
// window), measured to completion with glFinish: fade, beam at 800 and 16384
// segments, waveform at 4800 and 65536 samples, present, and a whole frame.
// Needs an X display with OpenGL 4.3 (under xvfb-run: Mesa llvmpipe).

#include "renderer/GlTestContext.h"

#include "analysis/Signals.h"
#include "audio/RingBuffer.h"
#include "renderer/GlProgram.h"
#include "renderer/ScopePasses.h"
#include "renderer/ScopeRenderer.h"
#include "renderer/ScopeTexture.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kWidth = 1020;
constexpr int kHeight = 580;
constexpr double kRate = 48000.0;

std::unique_ptr<GlFunctions> g_functions;
GlFunctions* g_gl = nullptr;

// ORVALEN_SHADERS=<folder> reads the shaders from there instead of the
// embedded copies: trying shader changes needs no rebuild.
QString shaderRoot()
{
    const char* folder = std::getenv("ORVALEN_SHADERS");
    return folder ? QString::fromLocal8Bit(folder) : QStringLiteral(":/orvalen/shaders");
}

// Stereo material with the segment lengths of real music: a kick, tones
// spread in the stereo field and a hiss falling off like music does above a
// few kHz (one-pole low-pass). `white` swaps the hiss for loud white noise,
// the worst case: every segment a long stroke.
void stereoMusic(int64_t n, std::vector<float>& left, std::vector<float>& right, bool white = false)
{
    const auto kick = signals::clickTrain(n, kRate, 0.5);
    const auto tone = signals::sine(n, kRate, 220.0, 0.3);
    const auto wide = signals::sine(n, kRate, 440.0, 0.2);
    const auto noiseL = signals::noise(n, white ? 0.3 : 0.1, 5);
    const auto noiseR = signals::noise(n, white ? 0.3 : 0.1, 6);
    left.resize(size_t(n));
    right.resize(size_t(n));
    float hissL = 0.0f, hissR = 0.0f;
    for (size_t i = 0; i < size_t(n); ++i) {
        if (white) {
            left[i] = noiseL[i];
            right[i] = noiseR[i];
            continue;
        }
        hissL += 0.25f * (noiseL[i] - hissL);  // about 2.3 kHz
        hissR += 0.25f * (noiseR[i] - hissR);
        left[i] = 0.6f * kick[i] + tone[i] + wide[i] + hissL;
        right[i] = 0.6f * kick[i] + tone[i] - wide[i] + hissR;
    }
}

struct Setup {
    Setup()
    {
        passes = ScopePasses::create(g_gl, shaderRoot());
        texture.create(g_gl, kWidth, kHeight);
        g_gl->glGenFramebuffers(1, &target);
        g_gl->glGenTextures(1, &targetTexture);
        g_gl->glBindTexture(GL_TEXTURE_2D, targetTexture);
        g_gl->glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, kWidth, kHeight);
        g_gl->glBindFramebuffer(GL_FRAMEBUFFER, target);
        g_gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, targetTexture, 0);
    }
    ~Setup()
    {
        g_gl->glDeleteFramebuffers(1, &target);
        g_gl->glDeleteTextures(1, &targetTexture);
        texture.release(g_gl);
    }
    std::unique_ptr<ScopePasses> passes;
    ScopeTexture texture;
    GLuint target = 0;
    GLuint targetTexture = 0;
};

BeamSettings appSettings()
{
    // The settings' defaults: intensity 10, beam width 3.23, sensitivity 8.29.
    return BeamSettings{10.0f, 3.23f, 8.29f, {0.2f, 1.0f, 0.3f}, 0.7853981f, 1.0f, 1.0f};
}

// CPU seconds of the whole process: with llvmpipe its rasteriser threads
// do the GPU's work.
double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Times `pass` to completion; the GPU is idle before each run. The counter
// cpu_ms is the process's CPU per run, which on a busy machine says more
// than the time.
template <typename Pass>
void timed(benchmark::State& state, Pass&& pass)
{
    g_gl->glFinish();
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        pass();
        g_gl->glFinish();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["cpu_ms"] = 1000.0 * (processCpuSeconds() - cpuBefore) / double(std::max<int64_t>(1, state.iterations()));
}

void BM_Fade(benchmark::State& state)
{
    Setup s;
    timed(state, [&] { s.passes->fade(s.texture, 0.9f); });
}

void BM_Beam(benchmark::State& state)
{
    Setup s;
    const int64_t n = state.range(0) + 1;  // n samples make n - 1 segments
    std::vector<float> left, right;
    const bool white = state.range(1) == 1;
    stereoMusic(n, left, right, white);
    state.SetLabel(white ? "white noise" : "music");
    const BeamParams params = makeBeamParams(appSettings(), n, kWidth, kHeight);
    timed(state, [&] {
        s.passes->uploadSamples(left.data(), right.data(), n);
        s.passes->drawBeam(s.texture, params);
    });
    state.counters["segments"] = double(n - 1);
}

void BM_Waveform(benchmark::State& state)
{
    Setup s;
    const int64_t n = state.range(0);
    const bool merge = state.range(1) == 1;
    std::vector<float> left, right;
    stereoMusic(n, left, right);
    if (state.range(2) == 1)  // the 3:2 tone of the whole-app benchmarks
        for (size_t i = 0; i < size_t(n); ++i) {
            left[i] = float(0.5 * std::sin(2 * 3.14159265358979 * 300 * double(i) / kRate));
            right[i] = float(0.5 * std::sin(2 * 3.14159265358979 * 200 * double(i) / kRate));
        }
    const WaveformParams params = makeWaveformParams(appSettings(), n, kWidth, kHeight);
    state.SetLabel(std::string(state.range(2) == 1 ? "3:2 tone, " : "music, ") +
                   (!ScopePasses::mergesColumns(n, kWidth) ? "one column or less per sample"
                    : merge                                 ? "merged per column"
                                                            : "segment by segment"));
    timed(state, [&] {
        s.passes->uploadSamples(left.data(), right.data(), n);
        s.passes->drawWaveform(s.texture, params, merge);
    });
}

void BM_Present(benchmark::State& state)
{
    Setup s;
    timed(state, [&] { s.passes->present(s.texture, s.target, kWidth, kHeight); });
}

// The glow over the whole picture: built (argument 0), or shown with it (1).
void BM_Glow(benchmark::State& state)
{
    Setup s;
    ScopeTexture small, across, glow;
    for (ScopeTexture* t : {&small, &across, &glow})
        t->create(g_gl, (kWidth + 3) / 4, (kHeight + 3) / 4);
    g_gl->glBindTexture(GL_TEXTURE_2D, glow.texture);
    g_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    g_gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const beam::PixelRect all{0, 0, kWidth, kHeight};
    if (state.range(0) == 0)
        timed(state, [&] { s.passes->buildGlow(s.texture, small, across, glow, all); });
    else
        timed(state, [&] { s.passes->present(s.texture, s.target, kWidth, kHeight, all, &glow, 1.0f); });
    state.SetLabel(state.range(0) == 0 ? "built" : "shown");
    for (ScopeTexture* t : {&small, &across, &glow})
        t->release(g_gl);
}

// A renderer on `ring` with the app's default look.
std::unique_ptr<ScopeRenderer> defaultRenderer(std::shared_ptr<RingBuffer> ring)
{
    auto renderer = ScopeRenderer::create(std::move(ring), shaderRoot());
    renderer->decay = 0.52f;
    renderer->intensity = 10.0f;
    renderer->beamWidth = 3.23f;
    renderer->speedSensitivity = 8.29f;
    return renderer;
}

// A whole XY frame as the view runs it: drain 800 frames (60 frames/s), fade,
// beam, present, of music-like material or a 3:2 Lissajous figure (the
// picture the app must show cheaply); and once the picture rests. The
// second argument is the glow, in percent.
void BM_FrameXY(benchmark::State& state)
{
    Setup s;
    auto ring = std::make_shared<RingBuffer>(65536, 2);
    auto renderer = defaultRenderer(ring);
    renderer->glow = float(state.range(1)) / 100.0f;
    std::vector<float> left, right, block(1600);
    const bool lissajous = state.range(0) == 2;
    stereoMusic(800, left, right);
    if (lissajous)
        for (size_t i = 0; i < 800; ++i) {
            // 3:2 at 330 / 220 Hz: 800 samples are whole turns.
            const double t = double(i) / kRate;
            left[i] = float(0.8 * std::sin(2 * 3.14159265358979 * 330 * t));
            right[i] = float(0.8 * std::sin(2 * 3.14159265358979 * 220 * t + 3.14159265358979 / 4));
        }
    for (size_t i = 0; i < 800; ++i) {
        block[2 * i] = left[i];
        block[2 * i + 1] = right[i];
    }
    const bool resting = state.range(0) == 1;
    if (resting)
        for (int i = 0; i < 100; ++i)
            renderer->draw(s.target, kWidth, kHeight);
    timed(state, [&] {
        if (!resting)
            ring->write(block.data(), 800);
        renderer->draw(s.target, kWidth, kHeight);
    });
    state.SetLabel(std::string(resting ? "resting" : lissajous ? "3:2 Lissajous, 800 new frames" : "800 new frames") +
                   (renderer->glow > 0.0f ? ", glow" : ""));
}

// A whole Scope frame as the view runs it with the default window (10 ms
// per division: 4800 samples) on the 3:2 tone, 800 new frames each.
void BM_FrameScope(benchmark::State& state)
{
    Setup s;
    auto ring = std::make_shared<RingBuffer>(65536, 2);
    auto renderer = defaultRenderer(ring);
    renderer->displayMode = 1;
    renderer->core().displaySampleCount = state.range(0);
    std::vector<float> block(1600);
    int64_t phase = 0;
    const auto feed = [&] {
        for (size_t i = 0; i < 800; ++i, ++phase) {
            const double t = double(phase) / kRate;
            block[2 * i] = float(0.5 * std::sin(2 * 3.14159265358979 * 300 * t));
            block[2 * i + 1] = float(0.5 * std::sin(2 * 3.14159265358979 * 200 * t));
        }
        ring->write(block.data(), 800);
    };
    for (int i = 0; i < 100; ++i)  // a full window of history
        feed(), renderer->draw(s.target, kWidth, kHeight);
    timed(state, [&] {
        feed();
        renderer->draw(s.target, kWidth, kHeight);
    });
    state.SetLabel("3:2 tone, 800 new frames");
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
    g_functions = currentGlFunctions();
    g_gl = g_functions.get();
    {
        // Registers the embedded shaders with the resource system.
        auto ring = std::make_shared<RingBuffer>(16, 2);
        ScopeRenderer::create(ring);
    }
    std::printf("GL_RENDERER: %s\n", reinterpret_cast<const char*>(g_gl->glGetString(GL_RENDERER)));
    benchmark::RegisterBenchmark("BM_Fade", BM_Fade)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Beam", BM_Beam)->Args({800, 0})->Args({16384, 0})->Args({800, 1})->Args({16384, 1})->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Waveform", BM_Waveform)->ArgsProduct({{960, 4800, 48000}, {0, 1}, {0, 1}})->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Present", BM_Present)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Glow", BM_Glow)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_FrameXY", BM_FrameXY)->ArgsProduct({{0, 1, 2}, {0, 100}})->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_FrameScope", BM_FrameScope)->Arg(960)->Arg(4800)->Arg(48000)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
