// A sound file as the source, against a live sound server (the test
// environment's null sink or the desktop's output):
//   seek_ms      from seekFile() to the first frame of the new place in the
//                scope's ring, i.e. on screen at the next display frame;
//   offset_ms    picture against sound: when a click in the file reaches the
//                scope, minus when the output plays it (its monitor recorded
//                through System Audio beside; that capture delivers in ~10 ms
//                blocks, so the figure is up to a block too high);
//   rss_mb       resident memory added while a two-hour file plays, beside
//                the same for System Audio.
#include "audio/AudioEngine.h"
#include "audio/RingBuffer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

// A 32-bit float stereo WAV of `frames` frames at 48 kHz, sample i of each channel `value(i)`.
QString floatWav(const char* name, int64_t frames, const std::function<float(int64_t)>& value)
{
    const QString path = folder().filePath(QString::fromLatin1(name));
    std::ofstream out(path.toStdString(), std::ios::binary);
    const auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<uint32_t>(frames * 8);
    out.write("RIFF", 4), u32(36 + bytes), out.write("WAVEfmt ", 8), u32(16), u16(3), u16(2), u32(48000),
        u32(48000 * 8), u16(8), u16(32), out.write("data", 4), u32(bytes);
    for (int64_t i = 0; i < frames; ++i) {
        const float v = value(i);
        out.write(reinterpret_cast<const char*>(&v), 4), out.write(reinterpret_cast<const char*>(&v), 4);
    }
    return path;
}

// Runs the event loop until `done` (polled every half millisecond) or `ms` passed; the time it took.
double waitMs(const std::function<bool()>& done, int ms = 3000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        app().processEvents();
        QThread::usleep(500);
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

// Reads the ring and says whether a frame matched `wanted` (every frame is looked at once).
bool arrived(RingBuffer& ring, const std::function<bool(float)>& wanted)
{
    std::vector<float> left(8192), right(8192);
    bool found = false;
    for (int64_t n; (n = ring.read(left.data(), right.data(), 8192)) > 0;)
        for (int64_t i = 0; i < n && !found; ++i)
            found = wanted(left[size_t(i)]);
    return found;
}

double residentMb()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

void seek(benchmark::State& state)
{
    app();
    constexpr int64_t kFrames = 48000 * 60;  // the left channel says where it is: i / kFrames
    const QString ramp = floatWav("ramp.wav", kFrames, [](int64_t i) { return float(i) / float(kFrames); });
    AudioEngine engine;
    engine.openFile(ramp);
    waitMs([&] { return engine.isRunning(); });
    double worst = 0, total = 0;
    int seeks = 0;
    for (auto _ : state) {
        const int64_t target = (seeks * 7 + 3) % 50 * 48000;
        arrived(*engine.ringBuffer(), [](float) { return false; });
        engine.seekFile(target);
        const double ms = waitMs([&] {
            return arrived(*engine.ringBuffer(), [&](float v) {
                return std::fabs(double(v) * kFrames - double(target)) < 4800;
            });
        });
        state.SetIterationTime(ms / 1000);
        worst = std::max(worst, ms), total += ms, ++seeks;
        waitMs([] { return false; }, 200);
    }
    state.counters["seek_ms"] = total / seeks;
    state.counters["worst_seek_ms"] = worst;
}

void offset(benchmark::State& state)
{
    app();
    // A click every second: 10 samples at 0.9 in silence.
    const QString clicks = floatWav("clicks.wav", 48000 * 30, [](int64_t i) { return i % 48000 < 10 ? 0.9f : 0.0f; });
    AudioEngine output, file;
    output.setSelectedDeviceID(AudioDeviceInfo::kSystemAudioID);
    output.start();
    waitMs([&] { return output.isRunning(); });
    file.openFile(clicks);
    waitMs([&] { return file.isRunning(); });
    waitMs([] { return false; }, 1500);
    double worst = 0, total = 0;
    int n = 0;
    for (auto _ : state) {
        // The next click, on both sides; each side's clock stops when it sees it.
        double scopeAt = -1, outputAt = -1;
        QElapsedTimer clock;
        clock.start();
        const auto loud = [](float v) { return std::fabs(v) > 0.5f; };
        arrived(*file.ringBuffer(), [](float) { return false; });
        arrived(*output.ringBuffer(), [](float) { return false; });
        waitMs([&] {
            if (scopeAt < 0 && arrived(*file.ringBuffer(), loud))
                scopeAt = double(clock.nsecsElapsed()) / 1e6;
            if (outputAt < 0 && arrived(*output.ringBuffer(), loud))
                outputAt = double(clock.nsecsElapsed()) / 1e6;
            return scopeAt >= 0 && outputAt >= 0;
        }, 2500);
        // Clicks come every second and either side may see the next one
        // first: the offset is the difference modulo a second.
        const double ms = std::fmod(scopeAt - outputAt + 1500.0, 1000.0) - 500.0;
        state.SetIterationTime(std::fabs(ms) / 1000);
        worst = std::max(worst, std::fabs(ms)), total += ms, ++n;
    }
    state.counters["offset_ms"] = total / n;
    state.counters["worst_abs_offset_ms"] = worst;
}

void memory(benchmark::State& state)
{
    app();
    const QString longFile = folder().filePath("two-hours.flac");
    const QString make = QStringLiteral("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:duration=7200 "
                                        "-ac 2 -ar 48000 '%1'").arg(longFile);
    if (std::system(make.toLocal8Bit().constData()) != 0) {
        state.SkipWithError("ffmpeg could not make the two-hour file");
        return;
    }
    for (auto _ : state) {
        double added[2] = {0, 0};
        for (int source = 0; source < 2; ++source) {
            AudioEngine engine;
            const double before = residentMb();
            if (source == 0) {
                engine.setSelectedDeviceID(AudioDeviceInfo::kSystemAudioID);
                engine.start();
            } else {
                engine.openFile(longFile);
            }
            waitMs([] { return false; }, 5000);
            added[source] = residentMb() - before;
            engine.stop();
        }
        state.counters["live_rss_mb"] = added[0];
        state.counters["file_rss_mb"] = added[1];
    }
}

}  // namespace

BENCHMARK(seek)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(offset)->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(memory)->Iterations(1)->Unit(benchmark::kMillisecond);
