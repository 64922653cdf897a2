// "glowBlur": one direction of a separable Gaussian (sigma 1.5 texels of the
// quarter-size light, about 6 screen pixels; cut at 3.3 sigma, where what is
// left no longer shows as an edge) over the glow's light.

layout(binding = 0) uniform sampler2D source;
layout(location = 0) uniform uint horizontal;
layout(location = 0) out vec4 fragColor;

const float kWeights[6] = float[](0.2660117, 0.2130055, 0.1093607, 0.0360008, 0.0075988, 0.0010284);

void main()
{
    const ivec2 p = ivec2(gl_FragCoord.xy);
    const ivec2 step = horizontal != 0u ? ivec2(1, 0) : ivec2(0, 1);
    const ivec2 last = textureSize(source, 0) - 1;
    vec3 sum = texelFetch(source, p, 0).rgb * kWeights[0];
    for (int i = 1; i < 6; ++i) {
        sum += texelFetch(source, clamp(p + step * i, ivec2(0), last), 0).rgb * kWeights[i];
        sum += texelFetch(source, clamp(p - step * i, ivec2(0), last), 0).rgb * kWeights[i];
    }
    fragColor = vec4(sum, 1.0);
}
