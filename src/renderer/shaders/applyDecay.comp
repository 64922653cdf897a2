// "applyDecay": the phosphor's afterglow, one multiplication per texel and
// frame. NaN cannot arise from the drawing passes, but if one ever did it
// would never fade; it is cleared here, and light is capped below the
// half-float maximum so that blending never reaches infinity.

layout(local_size_x = 16, local_size_y = 16) in;
layout(rgba16f, binding = 0) uniform image2D scopeImage;
layout(location = 0) uniform float decay;

void main()
{
    const ivec2 p = ivec2(gl_GlobalInvocationID.xy);
    if (any(greaterThanEqual(p, imageSize(scopeImage))))
        return;  // the grid is rounded up to whole 16 x 16 groups
    vec4 light = imageLoad(scopeImage, p);
    light = mix(light, vec4(0.0), isnan(light));
    imageStore(scopeImage, p, min(light, vec4(kMaxTexel)) * decay);
}
