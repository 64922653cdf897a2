// A working day, compressed: the whole app capturing live system audio at the
// highest frame rate for many minutes while the user changes settings, saves
// and deletes presets, stops and starts capture and refreshes the source list.
// Samples this process's private memory, threads and open files; prints their
// growth after the warm-up. Run it through soak.sh, which plays the test tone.
//   bench_soak [minutes = 10] [warm-up minutes = 2]
#include "LiveApp.h"

#include <QDir>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Sample {
    double minutes, privateMiB;
    qsizetype threads, files;
};

qsizetype entries(const char* dir)
{
    return QDir(QString::fromLatin1(dir)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
}

// One second of what a restless user does, chosen by the second's number.
void act(int second, ScopeSettings& settings, AudioEngine& engine, QPushButton* startStop)
{
    settings.setDecay(0.5f + 0.049f * float(second % 10));
    settings.setIntensity(0.5f + float(second % 7));
    if (second % 20 == 0)
        settings.setDisplayMode(settings.displayMode() == DisplayMode::xy ? DisplayMode::waveform : DisplayMode::xy);
    if (second % 5 == 0)
        settings.setDisplayFilterType(FilterType(second / 5 % 4));
    if (second % 15 == 0)
        settings.savePreset(QStringLiteral("Soak %1").arg(second / 15 % 3));
    if (second % 15 == 7)
        settings.deletePreset(QStringLiteral("Soak %1").arg(second / 15 % 3));
    if (second % 30 == 10)
        engine.refreshDevices();
    if (second % 60 == 40) {  // stop, and start again a second later
        startStop->click();
        spin(1000);
        startStop->click();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10;
    const double warmUp = argc > 2 ? std::atof(argv[2]) : 2;
    LiveApp live(argc, argv);
    if (!live.start(ScopeSettings::frameRateOptions.back()))
        return 1;

    std::printf("%8s %12s %8s %6s\n", "minute", "private MiB", "threads", "files");
    std::vector<Sample> samples;
    QElapsedTimer clock;
    clock.start();
    for (int second = 1; clock.elapsed() < minutes * 60000; ++second) {
        act(second, live.settings, live.engine, live.startStop());
        spin(std::max<int>(0, int(second * 1000 - clock.elapsed())));
        if (second % 30 == 0) {
            samples.push_back({clock.elapsed() / 60000.0, statusMiB("RssAnon"), entries("/proc/self/task"),
                               entries("/proc/self/fd")});
            const Sample& s = samples.back();
            std::printf("%8.1f %12.2f %8lld %6lld\n", s.minutes, s.privateMiB, (long long)s.threads,
                        (long long)s.files);
            std::fflush(stdout);
        }
    }
    const auto first = std::find_if(samples.begin(), samples.end(), [&](const Sample& s) { return s.minutes >= warmUp; });
    if (first == samples.end()) {
        std::fprintf(stderr, "no sample after the warm-up\n");
        return 1;
    }
    const Sample& last = samples.back();
    std::printf("growth from minute %.1f to %.1f: private %+.2f MiB, threads %+lld, files %+lld; capture %s\n",
                first->minutes, last.minutes, last.privateMiB - first->privateMiB,
                (long long)(last.threads - first->threads), (long long)(last.files - first->files),
                live.engine.isRunning() ? "running" : "NOT running");
    return 0;
}
