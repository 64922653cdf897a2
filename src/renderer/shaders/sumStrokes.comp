// After "mergeWaveform": turns the per-column stroke counts into each
// column's first instance and writes the draw command for all strokes, so
// the draw has no empty instances. A few thousand additions: one invocation.

layout(local_size_x = 1) in;
layout(std430, binding = 4) buffer StrokeDraw {
    uint drawCommand[4];
    uint strokeCounts[];
};
layout(location = 0) uniform uint slots;  // columns of both channels

void main()
{
    uint total = 0u;
    for (uint c = 0u; c < slots; ++c) {
        const uint n = strokeCounts[c];
        strokeCounts[c] = total;
        total += n;
    }
    drawCommand[0] = 4u;  // the quad's corners
    drawCommand[1] = total;
    drawCommand[2] = 0u;
    drawCommand[3] = 0u;
}
