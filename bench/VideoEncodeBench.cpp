// Target: the whole render pipeline keeps up with 1280x720 at 60 fps on two
// cores, which leaves the encoder well under 8 ms a frame there. conv_ms is
// RGBA to YUV, enc_ms encoding and writing (the encoder's last frames
// included), both per frame on the caller's thread; the time column is wall
// time per frame, drawing the picture included; Mbit_s the file's bit rate.
#include "media/MediaTestSupport.h"
#include "media/VideoEncoder.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <vector>

namespace {

// A scope's picture: black, with a bright green trace two pixels wide that
// moves from frame to frame. Only the trace's pixels are redrawn.
class ScopePicture {
public:
    ScopePicture(int width, int height)
        : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height * 4)
    {
        for (size_t i = 3; i < pixels_.size(); i += 4)
            pixels_[i] = 255;
    }

    const uint8_t* next(int frame)
    {
        for (size_t at : lit_)
            pixels_[at] = pixels_[at + 1] = pixels_[at + 2] = 0;
        lit_.clear();
        const double phase = 0.07 * frame;
        int last = -1;
        for (int x = 0; x < width_; ++x) {
            const double t = 2 * std::numbers::pi * x / width_;
            const double v = 0.35 * std::sin(3 * t + phase) + 0.1 * std::sin(11 * t - 2.3 * phase);
            const int y = static_cast<int>((0.5 - v) * (height_ - 2));
            const int from = last < 0 ? y : std::min(last, y), to = last < 0 ? y : std::max(last, y);
            for (int yy = from; yy <= to + 1; ++yy)
                light(x, yy);
            last = y;
        }
        return pixels_.data();
    }

private:
    void light(int x, int y)
    {
        const size_t at = (static_cast<size_t>(y) * width_ + x) * 4;
        pixels_[at] = 120;
        pixels_[at + 1] = 255;
        pixels_[at + 2] = 140;
        lit_.push_back(at);
    }

    int width_, height_;
    std::vector<uint8_t> pixels_;
    std::vector<size_t> lit_;
};

void encode(benchmark::State& state, const char* extension)
{
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    mediatest::TempDir dir;
    std::string error;
    const std::string path = dir.file(std::string("bench.") + extension);
    auto enc = VideoEncoder::open({path, width, height, 60, -1, false, 0, 2}, &error);
    if (!enc) {
        state.SkipWithError(error.c_str());
        return;
    }
    ScopePicture picture(width, height);
    int frame = 0;
    for (auto _ : state)
        if (!enc->writeFrame(picture.next(frame++), width * 4)) {
            state.SkipWithError(enc->error().c_str());
            return;
        }
    if (!enc->finish()) {
        state.SkipWithError(enc->error().c_str());
        return;
    }
    state.counters["conv_ms"] = 1000 * enc->conversionSeconds() / frame;
    state.counters["enc_ms"] = 1000 * enc->encodingSeconds() / frame;
    state.counters["Mbit_s"] = 8e-6 * static_cast<double>(std::filesystem::file_size(path)) * 60 / frame;
}

void BM_EncodeMp4(benchmark::State& state) { encode(state, "mp4"); }
void BM_EncodeWebm(benchmark::State& state) { encode(state, "webm"); }

// Two seconds at 60 fps each: well past the encoders' start-up and look-ahead.
void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({1280, 720})->Args({1920, 1080})->Args({3840, 2160});
}

BENCHMARK(BM_EncodeMp4)->Apply(sizes)->Iterations(120)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeWebm)->Apply(sizes)->Iterations(120)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
