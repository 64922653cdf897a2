// "displayGlow": "displayFragment" with the glow's light added before the
// tone curve: the light blurred at a quarter of the size (glowBlur.frag),
// sampled between its texels, in proportion to glowStrength. A program of
// its own: software GL samples the glow texture even in a branch no pixel
// takes, which cost a picture without glow more than half its present pass.

layout(binding = 0) uniform sampler2D scopeTexture;
layout(binding = 1) uniform sampler2D glowTexture;
layout(location = 0) uniform float glowStrength;
layout(location = 0) out vec4 fragColor;

const float kGlowGain = 0.6;

void main()
{
    const vec3 light = max(texelFetch(scopeTexture, ivec2(gl_FragCoord.xy), 0).rgb, vec3(0.0));
    const vec2 at = gl_FragCoord.xy / (4.0 * vec2(textureSize(glowTexture, 0)));
    fragColor = displayed(light + (glowStrength * kGlowGain) * texture(glowTexture, at).rgb);
}
