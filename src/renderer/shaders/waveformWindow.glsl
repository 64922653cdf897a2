// The waveform window as "drawWaveform" and the column merge read it: the
// samples, the parameter block, where sample k of a channel lands and the
// energy of a segment. Left channel in the upper half, right in the lower
// half, the window's first sample at the left edge and its last at the right.

layout(std430, binding = 0) readonly buffer LeftSamples { float leftSamples[]; };
layout(std430, binding = 1) readonly buffer RightSamples { float rightSamples[]; };
layout(std430, binding = 5) readonly buffer Brightness { float brightness[]; };

layout(std140, binding = 2) uniform WaveformParams {
    uint count;
    uint width;
    uint height;
    float intensity;
    float beamWidth;
    float waveformGain;
    float colorRed;
    float colorGreen;
    float colorBlue;
    float speedSensitivity;
    uint useBrightness;
};

// Sample k of one channel, with dx px between neighbouring samples.
vec2 waveformPoint(uint k, bool right, vec2 viewport, float dx)
{
    const float centre = (right ? kWaveformRightCentre : kWaveformLeftCentre) * viewport.y;
    const float scale = kWaveformScale * viewport.y * waveformGain;
    const float v = right ? rightSamples[k] : leftSamples[k];
    return vec2(float(k) * dx, centre + v * scale);
}

// Energy per horizontal pixel is fixed, so a flat trace looks the same at
// every window length; steep strokes dim with their slope. Z dims both
// traces alike: a segment carries its ends' mean brightness.
float waveformEnergy(uint k, float len, float dx, float sigma)
{
    const float e = intensity * kEnergyScale * sigma * dx * pow(max(len / dx, 1.0), 1.0 - speedExponent(speedSensitivity));
    return useBrightness != 0u ? e * 0.5 * (brightness[k] + brightness[k + 1u]) : e;
}
