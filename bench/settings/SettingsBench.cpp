// Everything here runs on the main thread between display frames, so the
// budget is a frame: a preset save or the debounced last-session write should
// stay well under 8 ms (one frame at 120 fps) with a realistic preset list.
#include "settings/ScopeSettings.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QList<Preset> presetList(int count)
{
    ScopeSettings settings(std::make_shared<QSettingsStore>(QStringLiteral("/nonexistent/x.conf")));
    QList<Preset> presets;
    for (int i = 0; i < count; ++i) {
        settings.setDecay(0.5f + 0.001f * float(i));
        presets.append(settings.snapshot(QStringLiteral("Preset %1").arg(i)));
    }
    return presets;
}

void BM_EncodePresetList(benchmark::State& state)
{
    const QList<Preset> presets = presetList(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(encodePresetList(presets));
}
BENCHMARK(BM_EncodePresetList)->Arg(20)->Arg(200)->Unit(benchmark::kMicrosecond);

void BM_DecodePresetList(benchmark::State& state)
{
    const QByteArray blob = *encodePresetList(presetList(int(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(decodePresetList(blob));
}
BENCHMARK(BM_DecodePresetList)->Arg(20)->Arg(200)->Unit(benchmark::kMicrosecond);

// Includes the file write, its fdatasync and the rename, on whatever disk
// holds the temporary folder.
void BM_SavePreset(benchmark::State& state)
{
    QTemporaryDir dir;
    ScopeSettings settings(std::make_shared<QSettingsStore>(dir.filePath(QStringLiteral("Orvalen.conf"))));
    settings.setSavedPresets(presetList(int(state.range(0))));
    settings.persistPresets();
    for (auto _ : state)
        settings.savePreset(QStringLiteral("Preset 7"));
}
BENCHMARK(BM_SavePreset)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond);

void BM_SaveLastSession(benchmark::State& state)
{
    QTemporaryDir dir;
    ScopeSettings settings(std::make_shared<QSettingsStore>(dir.filePath(QStringLiteral("Orvalen.conf"))));
    settings.setSavedPresets(presetList(int(state.range(0))));
    settings.persistPresets();
    for (auto _ : state)
        settings.saveLastSession();
}
BENCHMARK(BM_SaveLastSession)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace
