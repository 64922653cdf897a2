#pragma once

#include "video/VideoRender.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// `orvalen --render IN -o OUT [options]`: renders a sound file to video with
// no display and no sound server, progress on stderr.
namespace rendercommand {

enum ExitCode { kDone = 0, kFailed = 1, kBadUsage = 2 };

extern const char* const kUsage;

// A saved preset's settings by name; nothing when there is none.
using PresetLookup = std::function<std::optional<DisplaySettings>(const std::string& name)>;

struct Parsed {
    std::optional<VideoRenderJob> job;
    std::string error;  // why the arguments are not a render command
};

// The arguments after the program's name, "--render" among them.
Parsed parse(const std::vector<std::string>& arguments, const PresetLookup& presets);

// Whether the arguments ask for a render rather than the window.
bool requested(int argc, char** argv);

// The whole command: parses (usage errors exit 2 with the usage), renders
// (1 with the reason on failure, also when Ctrl+C stopped it) or exits 0.
int run(int argc, char** argv);

}  // namespace rendercommand
