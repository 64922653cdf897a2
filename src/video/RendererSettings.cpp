#include "video/RendererSettings.h"

#include "renderer/ScopeRenderer.h"
#include "settings/ScopeSettings.h"

void applyDisplaySettings(ScopeRenderer& r, const DisplaySettings& s, double sampleRate)
{
    r.core().sampleRate = sampleRate;
    r.displayMode = s.displayMode == DisplayMode::waveform ? 1 : 0;
    r.decay = s.decay;
    r.intensity = s.intensity;
    r.beamWidth = s.beamWidth;
    r.speedSensitivity = s.speedSensitivity;
    r.xyRotationAngle = s.xyRotation == XYRotation::deg0 ? 0.7853981f : 0.0f;
    const auto color = beamColorFor(s.beamColorMode);
    r.beamColor = {color.red, color.green, color.blue};
    r.core().kxScaleMode = static_cast<int64_t>(s.kxScaleMode);  // the case's position: EDM, ROCK, MIX
    r.xyGain = s.xyGain;
    r.waveformGain = s.waveformGain;
    r.core().triggerEnabled = s.triggerEnabled;
    r.core().triggerLevel = s.triggerLevel;
    r.core().triggerChannel = s.triggerChannel;
    r.timePerDivision = s.timePerDivision;
    r.core().displaySampleCount = ScopeSettings::samplesForDisplay(s, sampleRate);
    r.core().displayFilterType = static_cast<int64_t>(s.displayFilterType);  // OFF, LP, HP, BP
    r.core().displayFilterFrequency = s.displayFilterFrequency;
    r.upsampling = s.upsampling;
    r.glow = s.glow;
    r.zInput = static_cast<int64_t>(s.zInput);  // the case's position: off, 0 ... 1, -1 ... 1
}
