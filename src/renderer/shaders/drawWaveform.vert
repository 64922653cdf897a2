// "drawWaveform": the two channels against time, left in the upper half and
// right in the lower half, the window's first sample at the left edge and its
// last at the right. Instances 0 ... count-2 are the left channel's segments,
// the next count-1 the right channel's.

layout(std430, binding = 0) readonly buffer LeftSamples { float leftSamples[]; };
layout(std430, binding = 1) readonly buffer RightSamples { float rightSamples[]; };

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
};

void main()
{
    const uint segments = count > 1u ? count - 1u : 0u;
    const uint i = uint(gl_InstanceID);
    const bool right = i >= segments;
    const uint k = right ? i - segments : i;
    if (k >= segments) {
        dropSegment();
        return;
    }
    const vec2 viewport = vec2(float(width), float(height));
    const float dx = viewport.x / float(segments);
    const float centre = (right ? kWaveformRightCentre : kWaveformLeftCentre) * viewport.y;
    const float scale = kWaveformScale * viewport.y * waveformGain;
    const float v0 = right ? rightSamples[k] : leftSamples[k];
    const float v1 = right ? rightSamples[k + 1u] : leftSamples[k + 1u];
    const vec2 p0 = vec2(float(k) * dx, centre + v0 * scale);
    const vec2 p1 = vec2(float(k + 1u) * dx, centre + v1 * scale);
    const float sigma = beamSigma(beamWidth);
    // Energy per horizontal pixel is fixed, so a flat trace looks the same
    // at every window length; steep strokes dim with their slope.
    const float len = length(p1 - p0);
    const float energy = intensity * kEnergyScale * sigma * dx
                       * pow(max(len / dx, 1.0), 1.0 - speedExponent(speedSensitivity));
    emitSegment(p0, p1, energy, vec3(colorRed, colorGreen, colorBlue), sigma, viewport);
}
