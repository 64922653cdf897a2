// Whole-process CPU and memory of the app showing live system audio.
//
// Builds the same window as the real program (same objects, same theme),
// presses Start, lets it warm up, then measures this process (every thread:
// the interface, the sound server's thread, Mesa's rasteriser threads) over
// a fixed span; then stops capture and measures the idle app once the picture
// has come to rest. Run it through app-load.sh, which plays the test tone.
#include "LiveApp.h"
#include "ui/ScopeView.h"

#include <QElapsedTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double measure(int ms)
{
    QElapsedTimer wall;
    wall.start();
    const double before = cpuSeconds();
    spin(ms);
    return 100.0 * (cpuSeconds() - before) / (wall.elapsed() / 1000.0);
}

}  // namespace

int main(int argc, char** argv)
{
    const int fps = argc > 1 ? std::atoi(argv[1]) : 60;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    LiveApp live(argc, argv);
    if (!live.start(fps))
        return 1;
    const ContentView& window = live.window;
    const double running = measure(seconds * 1000);
    const double rss = statusMiB("VmRSS"), anon = statusMiB("RssAnon"), peak = statusMiB("VmHWM");

    live.startStop()->click();
    spin(12000);  // the picture fades and the frames stop
    const double idle = measure(5000);

    std::printf("frame rate            %d fps, window %dx%d, %s\n", fps, window.width(), window.height(),
                window.scopeView()->renderer() ? "renderer up" : "NO RENDERER");
    std::printf("CPU while capturing   %.1f %% of one core (over %d s)\n", running, seconds);
    std::printf("memory                %.1f MiB resident, %.1f MiB private (anonymous), %.1f MiB peak\n",
                rss, anon, peak);
    std::printf("CPU stopped, at rest  %.2f %% of one core (frames %s)\n", idle,
                window.scopeView()->isAnimating() ? "still running" : "stopped");
    return 0;
}
