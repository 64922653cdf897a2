// How long each engine operation that asks the sound server holds the main
// thread, with the production time limit: against a live server, one that
// stopped answering and none at all (bench/audio/server-wait.sh runs it in all
// three). `worst_ms` is the longest single call.
#include "audio/AudioEngine.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace {

void measure(benchmark::State& state, const std::function<void(AudioEngine&)>& operation)
{
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    AudioEngine engine;
    const uint32_t input = engine.devices().size() > 1 ? engine.devices().back().id : 0;
    double worst = 0;
    for (auto _ : state) {
        engine.setSelectedDeviceID(state.range(0) == 0 ? AudioDeviceInfo::kSystemAudioID : input);
        const auto begin = std::chrono::steady_clock::now();
        operation(engine);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - begin;
        worst = std::max(worst, took.count());
        state.PauseTiming();
        engine.stop();
        state.ResumeTiming();
    }
    state.counters["worst_ms"] = worst;
}

void refresh(AudioEngine& engine) { engine.refreshDevices(); }
void start(AudioEngine& engine) { engine.start(); }
void startAndStop(AudioEngine& engine)
{
    engine.start();
    engine.stop();
}

}  // namespace

// Argument 0: System Audio; 1: the last listed input.
BENCHMARK_CAPTURE(measure, refresh, refresh)->Arg(0)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(measure, start, start)->Arg(0)->Arg(1)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(measure, start_and_stop, startAndStop)->Arg(0)->Arg(1)->Iterations(20)->Unit(benchmark::kMillisecond);
