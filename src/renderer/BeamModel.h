#pragma once

#include <cstdint>

// The beam as light: where a sample lands on the picture, how wide the spot
// is, how much energy each segment between two samples leaves behind and how
// the accumulated light is shown. The shaders get these constants from here
// (ScopePasses writes them into the GLSL source), so the CPU's bookkeeping of
// the brightest texel and the GPU's picture cannot drift apart.
//
// Units: pixels of the drawable; light in the linear units of the RGBA16F
// scope texture, where 1.0 is shown at 63 % of full brightness.
namespace beam {

// Spot: a circular Gaussian of standard deviation sigma = beamWidth * 0.5 px,
// kept between half a pixel (narrower only aliases) and a bound that keeps a
// quad's cost finite whatever the setting.
constexpr float kSigmaPerBeamWidth = 0.5f;
constexpr float kMinSigma = 0.5f;
constexpr float kMaxSigma = 24.0f;
// A segment's quad reaches this many sigma beyond the segment on every side;
// the Gaussian is down to 3.4e-4 of its peak there.
constexpr float kQuadReach = 4.0f;

// XY picture: an amplitude of 1 at gain 1 reaches this fraction of the
// smaller side from the centre (a full-scale circle just fits).
constexpr float kXYScale = 0.45f;
// Waveform picture: left channel centred at 3/4 of the height (the upper
// half on screen), right at 1/4; an amplitude of 1 at gain 1 spans this
// fraction of the height above and below its centre line.
constexpr float kWaveformScale = 0.225f;
constexpr float kWaveformLeftCentre = 0.75f;
constexpr float kWaveformRightCentre = 0.25f;

// Energy scale: with intensity 1 and no speed dimming, a slowly moving beam
// leaves a line whose peak is kEnergyScale / sqrt(2 pi) per pass.
constexpr float kEnergyScale = 0.45f;

// Light is capped below the half-float maximum, so additive blending can
// never reach infinity, which no fade would bring back down.
constexpr float kMaxTexel = 60000.0f;

// The present pass shows the light over this background (display value).
constexpr float kBackground = 0.04f;
// Share of a texel's hottest channel added to every channel before the
// shoulder: what turns the hottest parts of a coloured trace white.
constexpr float kWhiteBleed = 0.06f;

// Parameters as the shaders apply them: every input made finite and bounded
// (NaN gives the harmless end of each range).
struct Shape {
    float sigma;          // px
    float speedExponent;  // p in 0 ... 1: 0 no dimming with speed, 1 constant energy per segment
    float intensity;      // >= 0
    float colorMax;       // largest component of the colour in linear light, >= 0
};
float sigmaFor(float beamWidth);
float speedExponentFor(float speedSensitivity);
float sanitizedIntensity(float intensity);
float sanitizedColor(float component);
float sanitizedDecay(float decay);
// beamColor is given as display (sRGB-encoded) values; light is linear.
float linearColor(float displayComponent);

// The beam's brightness, 0 ... 1, for a Z sample under a Z convention:
// 1 reads Z as 0 ... 1, 2 as -1 ... 1 (brightness (z + 1) / 2); out of range
// held to the ends, NaN dark. Any other convention (Z off) is full brightness.
float zBrightness(float z, int64_t convention);
// The same over an array, in place.
void applyZBrightness(float* z, int64_t count, int64_t convention);

// Upper bound on the light one XY segment can add to any texel.
//   energy E(L) = intensity * kEnergyScale * sigma^2 * (1 + L / sigma)^(1 - p)
// so a resting beam leaves a spot and a fast one a dim line: at p = 1 every
// segment carries the same energy whatever its length.
float xySegmentPeakBound(const Shape& shape);
// The same for one waveform segment; the energy there is scaled by the
// horizontal step dx so that a flat trace is equally bright at any window
// length: E = intensity * kEnergyScale * sigma * dx * (L / dx)^(1 - p).
float waveformSegmentPeakBound(const Shape& shape);

// The present pass's mapping of one channel's linear light to its display
// value, given the texel's hottest channel: a smooth exponential shoulder
// over the background, sRGB-encoded.
float displayValue(float light, float hottest);
// Light below which a texel shows exactly as the background on an 8-bit
// display (with a margin): the frame can stop fading and drawing.
float invisibleLight();
// What one fade can leave of a texel's light, as a factor: decay plus the
// rounding of the half-float store (half an ulp, 2^-11 of a normal value;
// below the smallest normal, 2^-14, at most 2^-25, which the margin between
// invisibleLight's quarter step and a visible half step covers many times).
float fadeBound(float decay);
// Fades after which no light the picture can hold (kMaxTexel) shows: an XY
// picture is then black, a waveform picture redrawn from unchanged samples
// at its steady state, to an 8-bit display. Held to kMaxFadeFrames.
constexpr int64_t kMaxFadeFrames = 30000;
int64_t framesToFade(float decay);

// A rectangle of texels, x0 <= x < x1 and y0 <= y < y1; empty when either
// side is 0.
struct PixelRect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x1 <= x0 || y1 <= y0; }
    int width() const { return x1 - x0; }
    int height() const { return y1 - y0; }
};
PixelRect unite(const PixelRect& a, const PixelRect& b);

// Every texel the XY beam can light when it draws these samples into a
// width x height picture (as "drawBeam" places them: gain, rotation, spot
// reach), with a margin for rounding; empty when no segment is drawn.
PixelRect xyLitRect(const float* left, const float* right, int64_t count, float xyGain, float xyRotationAngle,
                    float beamWidth, int width, int height);

// The same for a waveform window of count samples per channel ("drawWaveform"
// at waveformGain): the rows its two traces can reach, across the width.
PixelRect waveformLitRect(const float* left, const float* right, int64_t count, float waveformGain, float beamWidth,
                          int width, int height);

}  // namespace beam
