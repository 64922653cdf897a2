// How long the main thread spends in the audio engine at a time, waits on
// the sound server included, while it lists sources, starts and stops capture
// and, when the server is lost or stops answering, reconnects and watches for
// it: bench/audio/server-wait.sh runs it against a live server, one stopped
// with SIGSTOP (before the engine starts, and replacing the server in the
// middle of a capture) and none.
//
// `worst_ms` is the longest single stretch: a user's call, or the handling of
// one event delivered to the engine or its timers and notifiers (answers,
// capture news, server news, reconnect and idle-watch attempts). `stall_ms`
// is the longest gap of a 1 ms timer beside it, which also counts whatever
// else the machine was doing.
#include "audio/AudioEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>

namespace {

// Times every event handled by the engine or an object it owns.
class TimingApplication final : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    QObject* watched = nullptr;
    double worstMs = 0;

    bool notify(QObject* receiver, QEvent* event) override
    {
        bool engines = false;
        for (QObject* o = receiver; o && watched && !engines; o = o->parent())
            engines = o == watched;
        if (!engines)
            return QCoreApplication::notify(receiver, event);
        QElapsedTimer clock;
        clock.start();
        const bool handled = QCoreApplication::notify(receiver, event);
        worstMs = std::max(worstMs, double(clock.nsecsElapsed()) / 1e6);
        return handled;
    }
};

TimingApplication& app()
{
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static TimingApplication instance(argc, argv);
    return instance;
}

// Runs the event loop for `seconds` while `act` runs every 300 ms (with the
// step's number).
void measure(benchmark::State& state, const std::function<void(AudioEngine&, int)>& act)
{
    const int seconds = int(state.range(0));
    for (auto _ : state) {
        app().worstMs = 0;
        AudioEngine engine;
        app().watched = &engine;
        QTimer ticker, actor;
        QElapsedTimer sinceTick;
        double stall = 0;
        int step = 0;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            stall = std::max(stall, double(sinceTick.nsecsElapsed()) / 1e6 - 1);
            sinceTick.restart();
        });
        QObject::connect(&actor, &QTimer::timeout, [&] {
            QElapsedTimer clock;
            clock.start();
            act(engine, step++);
            app().worstMs = std::max(app().worstMs, double(clock.nsecsElapsed()) / 1e6);
        });
        sinceTick.start();
        ticker.start(1);
        actor.start(300);
        QTimer::singleShot(seconds * 1000, &app(), &QCoreApplication::quit);
        app().exec();
        app().watched = nullptr;
        state.counters["worst_ms"] = app().worstMs;
        state.counters["stall_ms"] = stall;
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
