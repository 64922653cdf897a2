#pragma once

#include <cstddef>
#include <cstdint>

// Parameter blocks of the two drawing programs, byte for byte as the shaders
// declare them (std140 blocks of scalars: 4-byte members, no padding). The
// colour is three floats, not a vector, and the two blocks order their
// fields differently: speedSensitivity sits at 20 in one and 36 in the other.
struct BeamParams {
    uint32_t count;            // samples in each buffer
    uint32_t width;            // texture size in pixels
    uint32_t height;
    float intensity;
    float beamWidth;
    float speedSensitivity;
    float colorRed;
    float colorGreen;
    float colorBlue;
    float xyRotationAngle;     // radians
    float xyGain;
    // Points per sample on the path: a segment's energy is that of a step f
    // times as long, shared by its f parts, so the light along a path does
    // not change with the points drawn on it.
    float stepScale;
    // 1: the brightness buffer holds each point's brightness (Z); 0: all full.
    uint32_t useBrightness;
};

struct WaveformParams {
    uint32_t count;
    uint32_t width;
    uint32_t height;
    float intensity;
    float beamWidth;
    float waveformGain;
    float colorRed;
    float colorGreen;
    float colorBlue;
    float speedSensitivity;
    uint32_t useBrightness;
};

static_assert(sizeof(BeamParams) == 52 && offsetof(BeamParams, speedSensitivity) == 20 &&
              offsetof(BeamParams, colorRed) == 24 && offsetof(BeamParams, xyGain) == 40);
static_assert(sizeof(WaveformParams) == 44 && offsetof(WaveformParams, waveformGain) == 20 &&
              offsetof(WaveformParams, colorRed) == 24 && offsetof(WaveformParams, speedSensitivity) == 36);

// Most strokes the column merge leaves per column and channel; the shaders
// get it as the constant of the same name.
constexpr uint32_t kStrokesPerColumn = 16;

// The display fields of the renderer as the frame hands them to the blocks.
struct BeamSettings {
    float intensity;
    float beamWidth;
    float speedSensitivity;
    float beamColor[3];
    float xyRotationAngle;
    float xyGain;
    float waveformGain;
};

// Blocks for a draw of `count` samples into a width x height texture.
// Every light and shape parameter is made finite and bounded here (they
// scale light, and a NaN in the texture would never fade away); the gains
// pass as they are, since a non-finite position drops its segment in the
// shader.
BeamParams makeBeamParams(const BeamSettings& s, int64_t count, int width, int height);
WaveformParams makeWaveformParams(const BeamSettings& s, int64_t count, int width, int height);
