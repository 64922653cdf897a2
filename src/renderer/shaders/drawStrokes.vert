// The strokes the column merge left ("mergeWaveform", "sumStrokes"):
// instance i is the stroke of the column whose first instance is the last
// one at or before i.

struct Stroke {
    vec4 ends;
    vec4 energy;
};
layout(std430, binding = 3) readonly buffer Strokes { Stroke strokes[]; };
layout(std430, binding = 4) readonly buffer StrokeDraw {
    uint drawCommand[4];
    uint firstInstance[];
};
layout(location = 0) uniform uint slots;

void main()
{
    const uint i = uint(gl_InstanceID);
    uint lo = 0u, hi = slots - 1u;  // the last column starting at or before i
    while (lo < hi) {
        const uint mid = (lo + hi + 1u) / 2u;
        if (firstInstance[mid] <= i)
            lo = mid;
        else
            hi = mid - 1u;
    }
    const Stroke s = strokes[kStrokesPerColumn * lo + i - firstInstance[lo]];
    if (!(s.energy.x > 0.0)) {
        dropSegment();
        return;
    }
    const vec2 viewport = vec2(float(width), float(height));
    emitSegment(s.ends.xy, s.ends.zw, s.energy.x, vec3(colorRed, colorGreen, colorBlue), beamSigma(beamWidth),
                viewport);
}
