// Renders two seconds of a Lissajous figure and of a music-like signal to
// H.264 at 60 fps, at 1280x720, 1920x1080 and 3840x2160, with a headless
// context (no display needed). Counters: frames per second, the speed
// against real time, and milliseconds per frame spent decoding, drawing,
// reading back, converting colour and encoding.
#include "media/MediaTestSupport.h"
#include "video/VideoRender.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

constexpr int kRate = 48000;
constexpr int kSeconds = 2;

// 0: a 300/200 Hz Lissajous; 1: stereo pink and brown noise mixed to a
// correlation of about 0.6 (pink on both sides, brown in opposite phase).
const std::string& input(int signal)
{
    static mediatest::TempDir dir;
    static std::string paths[2];
    std::string& path = paths[signal];
    if (!path.empty())
        return path;
    std::vector<float> samples;
    std::mt19937 random(7);
    std::normal_distribution<float> white(0.0f, 1.0f);
    float b0 = 0, b1 = 0, b2 = 0, brown = 0;
    for (int i = 0; i < kRate * kSeconds; ++i) {
        const double t = double(i) / kRate;
        if (signal == 0) {
            samples.insert(samples.end(), {float(0.5 * std::sin(2 * M_PI * 300 * t)),
                                           float(0.5 * std::sin(2 * M_PI * 200 * t))});
            continue;
        }
        const float w = white(random);
        b0 = 0.99765f * b0 + w * 0.0990460f;  // pink: Paul Kellet's economy filter
        b1 = 0.96300f * b1 + w * 0.2965164f;
        b2 = 0.57000f * b2 + w * 1.0526913f;
        const float pink = (b0 + b1 + b2 + w * 0.1848f) * 0.05f;
        brown = 0.998f * brown + w * 0.02f;
        samples.insert(samples.end(), {0.6f * pink + 0.12f * brown, 0.6f * pink - 0.12f * brown});
    }
    path = dir.file(signal == 0 ? "lissajous.wav" : "music.wav");
    mediatest::writeFloatWav(path, kRate, samples);
    return path;
}

void renderVideo(benchmark::State& state)
{
    static const int sizes[3][2] = {{1280, 720}, {1920, 1080}, {3840, 2160}};
    static mediatest::TempDir out;
    VideoRenderJob job;
    job.input = input(static_cast<int>(state.range(1)));
    job.output = out.file("bench.mp4");
    job.width = sizes[state.range(0)][0];
    job.height = sizes[state.range(0)][1];
    job.overwrite = true;
    const std::atomic<bool> go{false};
    RenderOutcome outcome;
    RenderTimes sum;
    int64_t frames = 0;
    for (auto _ : state) {
        outcome = VideoRender::run(job, {}, go);
        if (!outcome.ok) {
            state.SkipWithError(outcome.error.c_str());
            return;
        }
        frames += outcome.frames;
        sum.decode += outcome.times.decode, sum.draw += outcome.times.draw;
        sum.readBack += outcome.times.readBack, sum.convert += outcome.times.convert;
        sum.encode += outcome.times.encode;
    }
    const double perFrame = 1000.0 / static_cast<double>(std::max<int64_t>(1, frames));
    state.counters["fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(frames) / job.fps, benchmark::Counter::kIsRate);
    state.counters["decode_ms"] = sum.decode * perFrame;
    state.counters["draw_ms"] = sum.draw * perFrame;
    state.counters["readback_ms"] = sum.readBack * perFrame;
    state.counters["convert_ms"] = sum.convert * perFrame;
    state.counters["encode_ms"] = sum.encode * perFrame;
}

}  // namespace

// Args: size (0 720p, 1 1080p, 2 2160p), signal (0 Lissajous, 1 music-like).
BENCHMARK(renderVideo)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"size", "signal"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
