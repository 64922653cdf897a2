// How long the main thread is kept from its event loop while an engine lists
// sources, starts and stops capture and, when the server is lost or stops
// answering, reconnects and watches for it: bench/audio/server-wait.sh runs it
// against a live server, one stopped with SIGSTOP (before the engine starts,
// and in the middle of a capture) and none.
//
// A 1 ms timer ticks on the main thread; `worst_ms` is the longest gap
// between two ticks beyond its interval, so it counts every wait, including
// those of reconnect and idle-watch attempts that no user action starts.
#include "audio/AudioEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>

namespace {

constexpr int kTickMs = 1;

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

// Runs the event loop for `seconds` while `act` runs every 300 ms (with the
// step's number), and reports the longest stall of the loop.
void measure(benchmark::State& state, const std::function<void(AudioEngine&, int)>& act)
{
    app();
    const int seconds = int(state.range(0));
    for (auto _ : state) {
        AudioEngine engine;
        QTimer ticker, actor;
        QElapsedTimer clock;
        double worst = 0;
        int ticks = 0, step = 0;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            worst = std::max(worst, double(clock.nsecsElapsed()) / 1e6 - kTickMs);
            clock.restart();
            ++ticks;
        });
        QObject::connect(&actor, &QTimer::timeout, [&] { act(engine, step++); });
        clock.start();
        ticker.start(kTickMs);
        actor.start(300);
        QTimer::singleShot(seconds * 1000, &app(), &QCoreApplication::quit);
        app().exec();
        state.counters["worst_ms"] = worst;
        state.counters["ticks"] = ticks;
    }
}

// Presses what a restless user would: refresh, start, stop, another source.
void restless(AudioEngine& engine, int step)
{
    switch (step % 4) {
    case 0: engine.refreshDevices(); break;
    case 1:
        engine.setSelectedDeviceID(step % 8 == 1 || engine.devices().size() < 2 ? AudioDeviceInfo::kSystemAudioID
                                                                                : engine.devices().back().id);
        engine.start();
        break;
    case 2: break;
    default: engine.stop(); break;
    }
}

// Starts System Audio once and leaves it running: a server lost meanwhile is
// reconnected to by the engine alone.
void capture(AudioEngine& engine, int step)
{
    if (step == 0)
        engine.start();
}

}  // namespace

// Argument: seconds.
BENCHMARK_CAPTURE(measure, restless_user, restless)->Arg(6)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(measure, capture_left_alone, capture)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);
