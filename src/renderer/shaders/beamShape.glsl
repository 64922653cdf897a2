// The spot's size and speed dimming as every drawing program applies them,
// and which positions can be drawn at all.

// Farther out than this (in px) float positions get too coarse to clip well;
// such strokes are dropped: they span a thousand screens and leave no light.
const float kFarLimit = 1048576.0;

float beamSigma(float beamWidth)
{
    return clamp(beamWidth * kSigmaPerBeamWidth, kMinSigma, kMaxSigma);
}

float speedExponent(float speedSensitivity)
{
    return clamp(speedSensitivity / 10.0, 0.0, 1.0);
}

bool usable(vec2 p)
{
    return !any(isnan(p)) && all(lessThan(abs(p), vec2(kFarLimit)));
}
