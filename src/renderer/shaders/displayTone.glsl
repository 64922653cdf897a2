// The present programs' mapping of linear light to what the display shows.
// Each channel goes through a smooth shoulder, 1 - exp(-x), where x is the
// channel's own light plus a small share (kWhiteBleed) of the texel's
// hottest channel: a moderately lit trace keeps its colour, while in its
// hottest parts the main colour saturates and the other channels follow, so
// the core runs toward white like an overdriven phosphor. The result lies
// over the screen's dark background and is encoded for an sRGB display.
//
// The whole mapping x -> display value is one ratio of two quartics: exp
// and pow per channel made this the costliest pass on software GL. It is a
// weighted minimax fit of beam::displayValue on 0 <= x <= 8, within 0.24 of
// an 8-bit step everywhere and within 0.02 near black (so the threshold at
// which the frame stops drawing stays invisible); beyond 8 the display
// value is within a quarter step of white.

const float kToneLimit = 8.0;

vec3 toneCurve(vec3 x)
{
    const vec3 num = (((391.722262 * x + 1201.95259) * x + 545.757338) * x + 16.9769783) * x + 0.0400711804;
    const vec3 den = (((404.909224 * x + 1031.69468) * x + 1084.74206) * x + 114.364193) * x + 1.0;
    return num / den;
}

vec4 displayed(vec3 light)
{
    const float hottest = max(light.r, max(light.g, light.b));
    return vec4(toneCurve(min(light + kWhiteBleed * hottest, vec3(kToneLimit))), 1.0);
}
