// "glowDownsample": one texel of the glow's quarter-size light, the mean of
// the 4 x 4 picture texels it covers (those past the picture's edge repeat
// the edge).

layout(binding = 0) uniform sampler2D scopeTexture;
layout(location = 0) out vec4 fragColor;

void main()
{
    const ivec2 base = ivec2(gl_FragCoord.xy) * 4;
    const ivec2 last = textureSize(scopeTexture, 0) - 1;
    vec3 sum = vec3(0.0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            sum += max(texelFetch(scopeTexture, min(base + ivec2(x, y), last), 0).rgb, vec3(0.0));
    fragColor = vec4(sum * (1.0 / 16.0), 1.0);
}
