// Geometry shared by "drawBeam" and "drawWaveform": one instance per segment
// between two consecutive samples, drawn as a triangle strip of four corners
// hugging the segment, kQuadReach sigma beyond it on every side. The fragment
// stage ("beamSpot") integrates the Gaussian spot along the segment.

out vec2 vAlongAcross;  // along the drawn segment from its start, and across it (px)
flat out vec3 vLight;   // segment: light per pixel of path; point: total light
flat out float vSpan;   // drawn length in px; negative for a point
flat out float vSigma;

// Shorter than this fraction of sigma, a segment is drawn as a point: the
// two differ by less than (L / sigma)^2.
const float kPointFraction = 1e-3;

// beamColor is a display colour; light adds up in linear units.
vec3 linearColor(vec3 display)
{
    const vec3 low = display / 12.92;
    const vec3 high = pow((max(display, vec3(0.0)) + 0.055) / 1.055, vec3(2.4));
    return mix(high, low, lessThanEqual(display, vec3(0.04045)));
}

void dropSegment()
{
    // All four corners on one point outside the clip volume: no area.
    gl_Position = vec4(2.0, 2.0, 2.0, 1.0);
    vAlongAcross = vec2(0.0);
    vLight = vec3(0.0);
    vSpan = -1.0;
    vSigma = 1.0;
}

vec4 toClip(vec2 p, vec2 viewport)
{
    return vec4(p / viewport * 2.0 - 1.0, 0.0, 1.0);
}

// Emits corner gl_VertexID of the quad for the segment p0 -> p1 (px) that
// leaves `energy` (times `color`) in total.
void emitSegment(vec2 p0, vec2 p1, float energy, vec3 color, float sigma, vec2 viewport)
{
    if (!usable(p0) || !usable(p1) || isnan(energy) || isinf(energy)) {
        dropSegment();
        return;
    }
    const float reach = kQuadReach * sigma;
    const vec2 lo = vec2(-reach);
    const vec2 hi = viewport + reach;
    const float along = (gl_VertexID & 2) != 0 ? 1.0 : 0.0;  // end (1) or start (0)
    const float side = (gl_VertexID & 1) != 0 ? reach : -reach;
    vSigma = sigma;
    color = linearColor(color);

    const vec2 delta = p1 - p0;
    const float len = length(delta);
    if (len < kPointFraction * sigma) {
        if (any(lessThan(p0, lo)) || any(greaterThan(p0, hi))) {
            dropSegment();
            return;
        }
        const vec2 offset = vec2(along > 0.5 ? reach : -reach, side);
        vAlongAcross = offset;
        vLight = energy * color;
        vSpan = -1.0;
        gl_Position = toClip(p0 + offset, viewport);
        return;
    }

    // Clip to the viewport widened by the reach; what lies beyond adds no
    // light, and the drawn quad stays small however long the stroke.
    float t0 = 0.0;
    float t1 = 1.0;
    for (int axis = 0; axis < 2; ++axis) {
        if (delta[axis] == 0.0) {
            if (p0[axis] < lo[axis] || p0[axis] > hi[axis])
                t0 = 2.0;
            continue;
        }
        const float ta = (lo[axis] - p0[axis]) / delta[axis];
        const float tb = (hi[axis] - p0[axis]) / delta[axis];
        t0 = max(t0, min(ta, tb));
        t1 = min(t1, max(ta, tb));
    }
    if (t0 >= t1) {
        dropSegment();
        return;
    }
    const vec2 dir = delta / len;
    const vec2 normal = vec2(-dir.y, dir.x);
    // From the nearer end, so a far-off endpoint costs no precision.
    const vec2 start = t0 < 0.5 ? p0 + delta * t0 : p1 - delta * (1.0 - t0);
    const float span = (t1 - t0) * len;
    const float a = along > 0.5 ? span + reach : -reach;
    vAlongAcross = vec2(a, side);
    vLight = (energy / len) * color;  // the whole stroke's density, clipped or not
    vSpan = span;
    gl_Position = toClip(start + dir * a + normal * side, viewport);
}
