#include "video/RenderCommand.h"

#include "settings/ScopeSettings.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace rendercommand {

const char* const kUsage =
    "usage: orvalen --render IN -o OUT [options]\n"
    "  OUT ending in .mp4 (H.264 + AAC), .mkv (H.264 + FLAC), .webm (VP9 + Opus),\n"
    "  or a numbered picture pattern such as frames/%06d.png\n"
    "  --size WxH       picture size, up to 3840x2160 (default 1920x1080)\n"
    "  --fps 30|60|120  frames per second (default 60)\n"
    "  --preset NAME    a saved preset's settings\n"
    "  --set KEY=VALUE  one setting by its preset key (repeatable), e.g. decay=0.8\n"
    "  --from S --to S  the span to render, in seconds\n"
    "  --crf N          the encoder's quality (lower is better)\n"
    "  --transparent    a transparent background (.webm and .png only)\n"
    "  -y               overwrite OUT\n";

namespace {

bool parseNumber(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && std::isfinite(value);
}

bool parseInteger(const std::string& text, int64_t& value)
{
    double number = 0;
    if (!parseNumber(text, number) || number != std::trunc(number) || std::fabs(number) > 1e15)
        return false;
    value = static_cast<int64_t>(number);
    return true;
}

// One setting's value from its text, checked as the panel would take it: an
// enumeration's raw value, a choice from its list, a number in its range.
template <typename T, typename Stored>
std::optional<T> parseValue(const settings::Setting<T, Stored>& row, const std::string& text)
{
    if constexpr (std::is_enum_v<T>) {
        for (T option : row.options)
            if (rawValue(option) == text)
                return option;
        return std::nullopt;
    } else if constexpr (std::is_same_v<T, bool>) {
        if (text == "true" || text == "1")
            return true;
        if (text == "false" || text == "0")
            return false;
        return std::nullopt;
    } else {
        double number = 0;
        int64_t integer = 0;
        if (std::is_integral_v<T> ? !parseInteger(text, integer) : !parseNumber(text, number))
            return std::nullopt;
        const T value = std::is_integral_v<T> ? static_cast<T>(integer) : static_cast<T>(number);
        if (!row.options.empty() && std::find(row.options.begin(), row.options.end(), value) == row.options.end())
            return std::nullopt;
        if (row.minimum < row.maximum && (value < row.minimum || value > row.maximum))
            return std::nullopt;
        return value;
    }
}

// " (one of: …)" for a setting with a list of choices, " (from … to …)" for
// one with a range; empty otherwise.
template <typename T, typename Stored>
std::string choices(const settings::Setting<T, Stored>& row)
{
    std::string list;
    for (const T& option : row.options) {
        list += list.empty() ? " (one of: " : ", ";
        if constexpr (std::is_enum_v<T>)
            list += rawValue(option);
        else {
            char number[32];
            std::snprintf(number, sizeof number, "%g", static_cast<double>(option));
            list += number;
        }
    }
    if (!list.empty())
        return list + ")";
    if (row.minimum < row.maximum) {
        char range[64];
        std::snprintf(range, sizeof range, " (from %g to %g)", static_cast<double>(row.minimum),
                      static_cast<double>(row.maximum));
        return range;
    }
    return {};
}

std::string applySetting(DisplaySettings& values, const std::string& assignment)
{
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos)
        return "--set takes KEY=VALUE, not \"" + assignment + "\"";
    const std::string key = assignment.substr(0, equals), text = assignment.substr(equals + 1);
    std::string error = "Unknown setting \"" + key + "\"";
    settings::forEach([&](const auto& row) {
        if (row.key != key)
            return;
        if (const auto value = parseValue(row, text)) {
            values.*(row.value) = *value;
            error.clear();
        } else {
            error = "\"" + text + "\" is not a value " + key + " takes" + choices(row);
        }
    });
    return error;
}

bool parseSize(const std::string& text, int& width, int& height)
{
    const size_t x = text.find('x');
    int64_t w = 0, h = 0;
    if (x == std::string::npos || !parseInteger(text.substr(0, x), w) || !parseInteger(text.substr(x + 1), h) ||
        w > 100000 || h > 100000)
        return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

std::atomic<bool> g_cancel{false};

extern "C" void onInterrupt(int) { g_cancel.store(true); }

std::string clockText(double seconds)
{
    const auto s = static_cast<long long>(std::max(0.0, seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

}  // namespace

Parsed parse(const std::vector<std::string>& arguments, const PresetLookup& presets)
{
    Parsed parsed;
    VideoRenderJob job;
    std::optional<std::string> presetName;
    std::vector<std::string> assignments;
    bool render = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        const bool takesValue = option == "--render" || option == "-o" || option == "--size" || option == "--fps" ||
                                option == "--preset" || option == "--set" || option == "--from" ||
                                option == "--to" || option == "--crf";
        if (takesValue && i + 1 >= arguments.size()) {
            parsed.error = option + " needs a value";
            return parsed;
        }
        const std::string value = takesValue ? arguments[++i] : std::string();
        double number = 0;
        int64_t integer = 0;
        if (option == "--render") {
            render = true;
            job.input = value;
        } else if (option == "-o") {
            job.output = value;
        } else if (option == "--size") {
            if (!parseSize(value, job.width, job.height))
                parsed.error = "--size takes WIDTHxHEIGHT, such as 1920x1080";
        } else if (option == "--fps") {
            if (!parseInteger(value, integer) || (integer != 30 && integer != 60 && integer != 120))
                parsed.error = "--fps takes 30, 60 or 120";
            job.fps = static_cast<int>(integer);
        } else if (option == "--preset") {
            presetName = value;
        } else if (option == "--set") {
            assignments.push_back(value);
        } else if (option == "--from" || option == "--to") {
            if (!parseNumber(value, number) || number < 0)
                parsed.error = option + " takes seconds, 0 or more";
            (option == "--from" ? job.from : job.to) = number;
        } else if (option == "--crf") {
            if (!parseInteger(value, integer) || integer < 0 || integer > 63)
                parsed.error = "--crf takes a whole number from 0 to 63";
            job.crf = static_cast<int>(integer);
        } else if (option == "--transparent") {
            job.transparent = true;
        } else if (option == "-y") {
            job.overwrite = true;
        } else {
            parsed.error = "Unknown option \"" + option + "\"";
        }
        if (!parsed.error.empty())
            return parsed;
    }
    if (!render || job.input.empty() || job.output.empty()) {
        parsed.error = "--render IN and -o OUT are both needed";
        return parsed;
    }
    if (presetName) {
        const auto values = presets ? presets(*presetName) : std::nullopt;
        if (!values) {
            parsed.error = "No saved preset is called \"" + *presetName + "\"";
            return parsed;
        }
        job.settings = *values;
    }
    for (const std::string& assignment : assignments)
        if (std::string error = applySetting(job.settings, assignment); !error.empty()) {
            parsed.error = error;
            return parsed;
        }
    parsed.error = VideoRender::check(job);
    if (parsed.error.empty())
        parsed.job = job;
    return parsed;
}

bool requested(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--render")
            return true;
    return false;
}

int run(int argc, char** argv)
{
    const PresetLookup presets = [](const std::string& name) -> std::optional<DisplaySettings> {
        ScopeSettings saved;
        saved.loadPresets();
        for (const auto& preset : saved.savedPresets())
            if (samePresetName(preset.name, QString::fromStdString(name))) {
                saved.applyPreset(preset);
                return saved.values();
            }
        return std::nullopt;
    };
    const Parsed parsed = parse(std::vector<std::string>(argv + 1, argv + argc), presets);
    if (!parsed.job) {
        std::fprintf(stderr, "orvalen: %s\n%s", parsed.error.c_str(), kUsage);
        return kBadUsage;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const auto start = std::chrono::steady_clock::now();
    auto lastShown = start;
    const auto progress = [&](int64_t done, int64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (now - lastShown < std::chrono::milliseconds(250) && done != total)
            return;
        lastShown = now;
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const double fps = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
        if (total > 0)
            std::fprintf(stderr, "\r%3d%%  %6.1f fps  %s left ", static_cast<int>(100 * done / total), fps,
                         clockText(fps > 0 ? static_cast<double>(total - done) / fps : 0).c_str());
        else
            std::fprintf(stderr, "\r%lld frames  %6.1f fps ", static_cast<long long>(done), fps);
        std::fflush(stderr);
    };
    const RenderOutcome outcome = VideoRender::run(*parsed.job, progress, g_cancel);
    std::fprintf(stderr, "\n");
    if (outcome.cancelled) {
        std::fprintf(stderr, "orvalen: stopped; %s was not kept\n", parsed.job->output.c_str());
        return kFailed;
    }
    if (!outcome.ok) {
        std::fprintf(stderr, "orvalen: %s\n", outcome.error.c_str());
        return kFailed;
    }
    std::fprintf(stderr, "Wrote %s (%lld frames)\n", parsed.job->output.c_str(), static_cast<long long>(outcome.frames));
    return kDone;
}

}  // namespace rendercommand
