#pragma once

#include "settings/SettingsTable.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// What to render: a sound file's picture and sound into a video file or a
// numbered picture sequence (the kind follows the output's extension).
struct VideoRenderJob {
    static constexpr int kMaxWidth = 3840;
    static constexpr int kMaxHeight = 2160;

    std::string input;
    std::string output;
    int width = 1920;
    int height = 1080;
    int fps = 60;
    DisplaySettings settings;
    double from = 0;   // seconds into the file
    double to = -1;    // seconds; below 0: the file's end
    int crf = -1;      // below 0: the codec's own default
    bool overwrite = false;
    bool transparent = false;  // the background left transparent (.webm, .png sequences)
};

// Where the time of a render went, in seconds. Drawing (with decoding and
// reading back) runs on the caller's thread while the frame before is
// converted and encoded on another, so the parts add up to more than the
// render took.
struct RenderTimes {
    double decode = 0;
    double draw = 0;      // the GL passes, waited for
    double readBack = 0;  // the picture from the GPU, rows put top-down
    double convert = 0;   // colour conversion in the encoder
    double encode = 0;    // encoding and writing the pictures
};

struct RenderOutcome {
    bool ok = false;
    bool cancelled = false;
    std::string error;  // why not ok (empty when cancelled)
    int64_t frames = 0; // frames written
    RenderTimes times;
};

// Renders `job` on the calling thread with a headless OpenGL context of its
// own, so it needs no display and may run beside the window's. Frame k shows
// the picture after drawing the samples from floor(k * rate / fps) up to
// floor((k + 1) * rate / fps) of the span, through the same passes as the
// live view at that frame rate; the same job gives the same frames every
// time. On failure or cancellation nothing is left at the output.
class VideoRender {
public:
    // After every frame: frames done, and the total (-1 while unknown).
    using Progress = std::function<void(int64_t done, int64_t total)>;

    static RenderOutcome run(const VideoRenderJob& job, const Progress& progress, const std::atomic<bool>& cancel);

    // Why the job's options cannot be rendered (size, rate, span, output
    // kind), before anything is opened; empty when they can.
    static std::string check(const VideoRenderJob& job);
};
