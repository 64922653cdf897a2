#pragma once

#include "settings/SettingsTable.h"

class ScopeRenderer;

// Gives the renderer the persisted display settings in its own units, for
// samples at `sampleRate`: the same mapping for the window and for a video.
void applyDisplaySettings(ScopeRenderer& renderer, const DisplaySettings& values, double sampleRate);
