// "drawBeam": the XY picture. Instance i is the segment from sample pair i
// to pair i + 1; the left channel steers x, the right channel y, turned by
// xyRotationAngle (counter-clockwise) about the centre.

layout(std430, binding = 0) readonly buffer LeftSamples { float leftSamples[]; };
layout(std430, binding = 1) readonly buffer RightSamples { float rightSamples[]; };
layout(std430, binding = 5) readonly buffer Brightness { float brightness[]; };

layout(std140, binding = 2) uniform BeamParams {
    uint count;
    uint width;
    uint height;
    float intensity;
    float beamWidth;
    float speedSensitivity;
    float colorRed;
    float colorGreen;
    float colorBlue;
    float xyRotationAngle;
    float xyGain;
    float stepScale;
    uint useBrightness;
};

vec2 beamPosition(uint i, vec2 viewport)
{
    const vec2 s = vec2(leftSamples[i], rightSamples[i]) * xyGain;
    const float c = cos(xyRotationAngle);
    const float sn = sin(xyRotationAngle);
    const vec2 turned = vec2(c * s.x - sn * s.y, sn * s.x + c * s.y);
    return 0.5 * viewport + turned * (kXYScale * min(viewport.x, viewport.y));
}

void main()
{
    const uint i = uint(gl_InstanceID);
    if (i + 1u >= count) {
        dropSegment();
        return;
    }
    const vec2 viewport = vec2(float(width), float(height));
    const vec2 p0 = beamPosition(i, viewport);
    const vec2 p1 = beamPosition(i + 1u, viewport);
    const float sigma = beamSigma(beamWidth);
    // Constant energy per segment at full sensitivity: a slow beam piles its
    // light into a short stroke, a fast one spreads it thin.
    // A reconstructed path has stepScale points per sample: each part takes
    // its share of the energy of the sample step it belongs to.
    const float len = length(p1 - p0);
    float energy = intensity * kEnergyScale * sigma * sigma
                 * pow(1.0 + stepScale * len / sigma, 1.0 - speedExponent(speedSensitivity)) / stepScale;
    // Z: the brightness changes linearly along the segment, so it carries
    // its ends' mean.
    if (useBrightness != 0u)
        energy *= 0.5 * (brightness[i] + brightness[i + 1u]);
    emitSegment(p0, p1, energy, vec3(colorRed, colorGreen, colorBlue), sigma, viewport);
}
