// "glowDownsample": one texel of the glow's quarter-size light, the mean of
// the 4 x 4 picture texels it covers (those past the picture's edge repeat
// the edge). Read through a linear sampler at the corners where four texels
// meet: four filtered reads instead of sixteen fetches, half the cost on
// software GL.

layout(binding = 0) uniform sampler2D scopeTexture;
layout(location = 0) out vec4 fragColor;

void main()
{
    const vec2 corner = floor(gl_FragCoord.xy) * 4.0 + 1.0;
    const vec2 texel = 1.0 / vec2(textureSize(scopeTexture, 0));
    const vec3 sum = texture(scopeTexture, corner * texel).rgb + texture(scopeTexture, (corner + vec2(2.0, 0.0)) * texel).rgb +
                     texture(scopeTexture, (corner + vec2(0.0, 2.0)) * texel).rgb +
                     texture(scopeTexture, (corner + vec2(2.0, 2.0)) * texel).rgb;
    fragColor = vec4(max(sum * 0.25, vec3(0.0)), 1.0);
}
