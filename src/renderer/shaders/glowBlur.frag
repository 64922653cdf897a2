// "glowBlur": one direction of a separable Gaussian (sigma 1.5 texels of the
// quarter-size light, about 6 screen pixels; cut at 3.3 sigma, where what is
// left no longer shows as an edge) over the glow's light. Read through the
// sampler at texel centres (nearest, clamped to the edge): on software GL a
// third cheaper than texelFetch with the clamp done here.

layout(binding = 0) uniform sampler2D source;
layout(location = 0) uniform uint horizontal;
layout(location = 0) out vec4 fragColor;

const float kWeights[6] = float[](0.2660117, 0.2130055, 0.1093607, 0.0360008, 0.0075988, 0.0010284);

void main()
{
    const vec2 texel = 1.0 / vec2(textureSize(source, 0));
    const vec2 p = gl_FragCoord.xy * texel;
    const vec2 step = (horizontal != 0u ? vec2(1.0, 0.0) : vec2(0.0, 1.0)) * texel;
    vec3 sum = texture(source, p).rgb * kWeights[0];
    for (int i = 1; i < 6; ++i)
        sum += (texture(source, p + step * float(i)).rgb + texture(source, p - step * float(i)).rgb) * kWeights[i];
    fragColor = vec4(sum, 1.0);
}
