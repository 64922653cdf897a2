// "drawGrid": a faint 10 x 8 graticule added to the scope image. Built with
// the other programs so that a broken driver shows up at start-up; the
// picture currently has no graticule, so nothing dispatches it.

layout(local_size_x = 16, local_size_y = 16) in;
layout(rgba16f, binding = 0) uniform image2D scopeImage;
layout(location = 0) uniform vec3 gridLight;

void main()
{
    const ivec2 p = ivec2(gl_GlobalInvocationID.xy);
    const ivec2 size = imageSize(scopeImage);
    if (any(greaterThanEqual(p, size)))
        return;
    const vec2 division = vec2(size) / vec2(10.0, 8.0);
    const vec2 phase = mod(vec2(p) + 0.5, division);
    if (any(lessThan(phase, vec2(1.0))))
        imageStore(scopeImage, p, imageLoad(scopeImage, p) + vec4(gridLight, 0.0));
}
