// The everyday fade: a full-screen quad whose blending multiplies every
// texel by the blend colour (the decay); the fragment's own value is unused.
// Much cheaper than image load/store where rasterising is optimised
// (software GL); "applyDecay" remains for light that may be out of range.

layout(location = 0) out vec4 fragLight;

void main()
{
    fragLight = vec4(0.0);
}
