// "displayFragment": shows the scope texture's linear light. Each channel
// goes through a smooth shoulder, 1 - exp(-x), where x is the channel's own
// light plus a small share (kWhiteBleed) of the texel's hottest channel: a
// moderately lit trace keeps its colour, while in its hottest parts the
// main colour saturates and the other channels follow, so the core runs
// toward white like an overdriven phosphor. The result lies over the
// screen's dark background and is encoded for an sRGB display.

layout(binding = 0) uniform sampler2D scopeTexture;
layout(location = 0) out vec4 fragColor;

vec3 srgbEncode(vec3 linear)
{
    const vec3 low = 12.92 * linear;
    const vec3 high = 1.055 * pow(linear, vec3(1.0 / 2.4)) - 0.055;
    return mix(high, low, lessThanEqual(linear, vec3(0.0031308)));
}

float srgbDecode(float encoded)
{
    return encoded <= 0.04045 ? encoded / 12.92 : pow((encoded + 0.055) / 1.055, 2.4);
}

void main()
{
    const vec3 light = max(texelFetch(scopeTexture, ivec2(gl_FragCoord.xy), 0).rgb, vec3(0.0));
    const float hottest = max(light.r, max(light.g, light.b));
    const vec3 shoulder = 1.0 - exp(-(light + kWhiteBleed * hottest));
    const float background = srgbDecode(kBackground);
    fragColor = vec4(srgbEncode(background + (1.0 - background) * shoulder), 1.0);
}
