// Column merge of a long waveform window: with several samples per pixel
// column, drawing every segment costs per sample while the picture changes
// little within a column. Each column's stretch of one channel (its
// segments, up to the first sample of the next column) is redrawn with at
// most kStrokesPerColumn strokes, each carrying the energy of the segments it
// stands for, so the light in all is unchanged:
// - runs of segments that stay within kTolerance px of one straight stroke
//   become that stroke (a smooth trace: one or two strokes per column);
// - a stretch too busy for kStrokesPerColumn such strokes (noise, high notes)
//   becomes kStrokesPerColumn vertical strokes stacked over its height, each
//   with the energy its segments leave in that height band: the column's
//   light profile.
//
// One invocation per column and channel (y: 0 left, 1 right). Column c of
// both channels together, c + columns for the right channel, writes its
// strokes from slot kStrokesPerColumn * c on and their number to
// strokeCounts[c]; "sumStrokes" then packs the draw.

layout(local_size_x = 64) in;

struct Stroke {
    vec4 ends;    // start.xy, end.xy in px
    vec4 energy;  // x: energy; 0 draws nothing
};
layout(std430, binding = 3) writeonly buffer Strokes { Stroke strokes[]; };
layout(std430, binding = 4) buffer StrokeDraw {
    uint drawCommand[4];   // as glDrawArraysIndirect reads it
    uint strokeCounts[];   // per column: here the count, after "sumStrokes" the first instance
};
layout(location = 0) uniform uint columns;

const float kTolerance = 0.05;

bool right;
vec2 viewport;
float dx;
float sigma;

vec2 point(uint k)
{
    return waveformPoint(k, right, viewport, dx);
}

// Energy of the segment from sample k to k + 1, as drawn one by one: none
// when an end cannot be drawn or the energy is not finite.
float segmentEnergy(uint k)
{
    const vec2 p0 = point(k), p1 = point(k + 1u);
    if (!usable(p0) || !usable(p1))
        return 0.0;
    const float e = waveformEnergy(k, length(p1 - p0), dx, sigma);
    return isnan(e) || isinf(e) ? 0.0 : e;
}

// Whether samples s ... j lie within kTolerance of the stroke from s to j.
bool straight(uint s, uint j)
{
    const vec2 a = point(s), b = point(j);
    if (!usable(b))
        return false;
    const vec2 d = b - a;
    const float len = length(d);
    for (uint i = s + 1u; i < j; ++i) {
        const vec2 q = point(i) - a;
        const float off = len > 0.0 ? abs(q.x * d.y - q.y * d.x) / len : length(q);
        if (!(off <= kTolerance))
            return false;
    }
    return true;
}

void main()
{
    const uint column = gl_GlobalInvocationID.x;
    if (column >= columns)
        return;
    right = gl_GlobalInvocationID.y != 0u;
    viewport = vec2(float(width), float(height));
    const uint segments = count - 1u;
    dx = viewport.x / float(segments);
    sigma = beamSigma(beamWidth);
    const uint first = column * segments / columns;
    const uint last = (column + 1u) * segments / columns;
    const uint slot = (right ? columns : 0u) + column;
    const uint base = kStrokesPerColumn * slot;

    uint used = 0u;
    uint s = first;
    while (s < last && used < kStrokesPerColumn) {
        if (!usable(point(s))) {
            ++s;
            continue;
        }
        uint j = s + 1u;
        float energy = segmentEnergy(s);
        while (j < last && straight(s, j + 1u))
            energy += segmentEnergy(j++);
        strokes[base + used++] = Stroke(vec4(point(s), point(j)), vec4(energy));
        s = j;
    }
    if (s >= last) {
        strokeCounts[slot] = used;
        return;
    }

    // Too busy: the light profile over the stretch's height instead. Each
    // segment's energy lies evenly along it, so evenly over its height.
    float low = viewport.y + 1.0, high = -1.0;
    for (uint k = first; k <= last; ++k) {
        const vec2 p = point(k);
        if (usable(p))
            low = min(low, p.y), high = max(high, p.y);
    }
    float bands[kStrokesPerColumn];
    for (uint i = 0u; i < kStrokesPerColumn; ++i)
        bands[i] = 0.0;
    const float band = max(high - low, 1e-6) / float(kStrokesPerColumn);
    for (uint k = first; k < last; ++k) {
        const float e = segmentEnergy(k);
        if (e <= 0.0)
            continue;
        const float y0 = point(k).y, y1 = point(k + 1u).y;
        const float lo = (min(y0, y1) - low) / band, hi = (max(y0, y1) - low) / band;
        const uint i0 = min(uint(lo), kStrokesPerColumn - 1u), i1 = min(uint(hi), kStrokesPerColumn - 1u);
        if (i0 == i1) {
            bands[i0] += e;
            continue;
        }
        const float perBand = e / (hi - lo);
        bands[i0] += perBand * (float(i0 + 1u) - lo);
        for (uint i = i0 + 1u; i < i1; ++i)
            bands[i] += perBand;
        bands[i1] += perBand * (hi - float(i1));
    }
    const float x = 0.5 * (point(first).x + point(last).x);
    used = 0u;
    for (uint i = 0u; i < kStrokesPerColumn; ++i)
        if (bands[i] > 0.0)
            strokes[base + used++] = Stroke(vec4(x, low + band * float(i), x, low + band * float(i + 1u)), vec4(bands[i]));
    strokeCounts[slot] = used;
}
