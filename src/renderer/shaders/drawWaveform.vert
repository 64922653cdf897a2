// "drawWaveform": the two channels against time, one instance per segment.
// Instances 0 ... count-2 are the left channel's segments, the next count-1
// the right channel's.

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
    const vec2 p0 = waveformPoint(k, right, viewport, dx);
    const vec2 p1 = waveformPoint(k + 1u, right, viewport, dx);
    const float sigma = beamSigma(beamWidth);
    const float energy = waveformEnergy(k, length(p1 - p0), dx, sigma);
    emitSegment(p0, p1, energy, vec3(colorRed, colorGreen, colorBlue), sigma, viewport);
}
