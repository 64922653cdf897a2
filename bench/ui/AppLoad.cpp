// Whole-process CPU and memory of the app showing live system audio.
//
// Builds the same window as the real program (same objects, same theme),
// presses Start, lets it warm up, then measures this process (every thread:
// the interface, the sound server's thread, Mesa's rasteriser threads) over
// a fixed span; then stops capture and measures the idle app once the picture
// has come to rest. Run it through app-load.sh, which plays the test tone.
//
//   bench_app_load [fps] [seconds] [xy|scope[:ms per division]] [--no-rest] [--file PATH] [KEY=VALUE...]
//
// With --file the app plays PATH in a loop (through the sound server, as a
// user would) instead of capturing system audio. KEY=VALUE sets a numeric
// setting by its preset key first, e.g. upsampling=8 or glow=1.
//
// With ORVALEN_XSERVER_PID set, the X server's CPU over the same span is
// reported too: presenting a frame costs it as well.
#include "LiveApp.h"
#include "settings/SettingsTable.h"
#include "ui/ScopeView.h"

#include <QElapsedTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// User + system CPU of another process (fields 14 and 15 of its stat line);
// -1 when it cannot be read.
double cpuSecondsOf(long pid)
{
    if (pid <= 0)
        return -1;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    const size_t close = line.rfind(')');  // the command name may hold spaces
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stod(field);
    return ticks / double(sysconf(_SC_CLK_TCK));
}

struct Load {
    double self = 0;    // % of one core
    double server = -1; // the X server, % of one core; -1 unknown
    double fps = 0;     // frames shown per second
};

// frames: counts the frames shown (the scope window's swaps).
Load measure(int ms, long serverPid, const int64_t& frames)
{
    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    const double serverBefore = cpuSecondsOf(serverPid);
    const int64_t framesBefore = frames;
    spin(ms);
    const double seconds = wall.elapsed() / 1000.0;
    const double serverAfter = cpuSecondsOf(serverPid);
    Load load;
    load.self = 100.0 * (cpuSeconds() - before) / seconds;
    load.fps = double(frames - framesBefore) / seconds;
    if (serverBefore >= 0 && serverAfter >= 0)
        load.server = 100.0 * (serverAfter - serverBefore) / seconds;
    return load;
}

// KEY=VALUE for a numeric setting; false when no such setting takes a number.
bool applyNumber(ScopeSettings& settings, const std::string& assignment)
{
    const size_t equals = assignment.find('=');
    bool applied = false;
    settings::forEach([&](const auto& row) {
        using T = typename std::decay_t<decltype(row)>::Value;
        if constexpr (std::is_same_v<T, float> || std::is_same_v<T, int64_t>)
            if (equals != std::string::npos && row.key == assignment.substr(0, equals)) {
                settings.set(row, static_cast<T>(std::atof(assignment.c_str() + equals + 1)));
                applied = true;
            }
    });
    return applied;
}

}  // namespace

int main(int argc, char** argv)
{
    const int fps = argc > 1 ? std::atoi(argv[1]) : 60;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const bool scope = argc > 3 && std::strncmp(argv[3], "scope", 5) == 0;
    const char* division = scope ? std::strchr(argv[3], ':') : nullptr;
    bool rest = true;
    QString file;
    std::vector<std::string> assignments;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-rest") == 0)
            rest = false;
        else if (std::strcmp(argv[i], "--file") == 0 && i + 1 < argc)
            file = QString::fromLocal8Bit(argv[++i]);
        else
            assignments.emplace_back(argv[i]);
    }
    const char* serverPid = std::getenv("ORVALEN_XSERVER_PID");
    const long server = serverPid ? std::atol(serverPid) : 0;
    LiveApp live(argc, argv);
    live.settings.setDisplayMode(scope ? DisplayMode::waveform : DisplayMode::xy);
    if (division)
        live.settings.setTimePerDivision(float(std::atof(division + 1)));
    for (const std::string& assignment : assignments)
        if (!applyNumber(live.settings, assignment)) {
            std::fprintf(stderr, "not a numeric setting: %s\n", assignment.c_str());
            return 1;
        }
    if (!live.start(fps, file))
        return 1;
    const ContentView& window = live.window;
    int64_t frames = 0;
    QObject::connect(window.scopeView(), &QOpenGLWindow::frameSwapped, [&frames] { ++frames; });
    const Load running = measure(seconds * 1000, server, frames);
    const double rss = statusMiB("VmRSS"), anon = statusMiB("RssAnon"), peak = statusMiB("VmHWM");

    std::printf("frame rate            %d fps, %s mode (%g ms per division), window %dx%d, %s\n", fps,
                scope ? "Scope" : "XY", double(live.settings.timePerDivision()), window.width(), window.height(),
                window.scopeView()->renderer() ? "renderer up" : "NO RENDERER");
    for (const std::string& assignment : assignments)
        std::printf("setting               %s\n", assignment.c_str());
    std::printf("CPU while %s %.1f %% of one core (over %d s)\n", file.isEmpty() ? "capturing  " : "playing    ",
                running.self, seconds);
    std::printf("frames shown          %.1f per second, %.2f ms of CPU each\n", running.fps,
                running.fps > 0 ? 10.0 * running.self / running.fps : 0.0);
    if (running.server >= 0)
        std::printf("X server meanwhile    %.1f %% of one core\n", running.server);
    std::printf("memory                %.1f MiB resident, %.1f MiB private (anonymous), %.1f MiB peak\n",
                rss, anon, peak);
    if (!rest)
        return 0;
    live.startStop()->click();
    spin(12000);  // the picture fades and the frames stop
    const Load idle = measure(5000, 0, frames);
    std::printf("CPU stopped, at rest  %.2f %% of one core (frames %s)\n", idle.self,
                window.scopeView()->isAnimating() ? "still running" : "stopped");
    return 0;
}
