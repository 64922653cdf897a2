#include "renderer/ShaderParams.h"

#include "renderer/BeamModel.h"

#include <algorithm>
#include <cmath>

namespace {

uint32_t u32(int64_t v) { return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, UINT32_MAX)); }

// beamWidth and speedSensitivity reach the shader in their own units (it
// applies the same bounds as beam::sigmaFor and beam::speedExponentFor);
// here they only lose NaN and infinity.
float finiteOr(float v, float fallback, float lo, float hi)
{
    return std::isnan(v) ? fallback : std::clamp(v, lo, hi);
}

}  // namespace

BeamParams makeBeamParams(const BeamSettings& s, int64_t count, int width, int height)
{
    BeamParams p{};
    p.count = u32(count);
    p.width = u32(width);
    p.height = u32(height);
    p.intensity = beam::sanitizedIntensity(s.intensity);
    p.beamWidth = finiteOr(s.beamWidth, 0.0f, 0.0f, 1e3f);
    p.speedSensitivity = finiteOr(s.speedSensitivity, 0.0f, 0.0f, 1e3f);
    p.colorRed = beam::sanitizedColor(s.beamColor[0]);
    p.colorGreen = beam::sanitizedColor(s.beamColor[1]);
    p.colorBlue = beam::sanitizedColor(s.beamColor[2]);
    p.xyRotationAngle = std::isfinite(s.xyRotationAngle) ? s.xyRotationAngle : 0.0f;
    p.xyGain = s.xyGain;
    p.stepScale = 1.0f;
    return p;
}

WaveformParams makeWaveformParams(const BeamSettings& s, int64_t count, int width, int height)
{
    WaveformParams p{};
    p.count = u32(count);
    p.width = u32(width);
    p.height = u32(height);
    p.intensity = beam::sanitizedIntensity(s.intensity);
    p.beamWidth = finiteOr(s.beamWidth, 0.0f, 0.0f, 1e3f);
    p.waveformGain = s.waveformGain;
    p.colorRed = beam::sanitizedColor(s.beamColor[0]);
    p.colorGreen = beam::sanitizedColor(s.beamColor[1]);
    p.colorBlue = beam::sanitizedColor(s.beamColor[2]);
    p.speedSensitivity = finiteOr(s.speedSensitivity, 0.0f, 0.0f, 1e3f);
    return p;
}
