// Not a timing benchmark: reports the block sizes and intervals a PulseAudio
// server delivers to an input stream for fragment sizes 64, 256 and 1024, with
// nothing playing and with a stream playing into the default sink. Needs a
// server (PULSE_SERVER); the first argument names the source (default: the
// server's default source).
#include "audio/PulseBackend.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class BlockLog final : public AudioStreamCallbacks {
public:
    BlockLog() : m_frames(1 << 16), m_times(1 << 16) {}
    void audioArrived(const AudioBlock& block) noexcept override
    {
        const int n = m_count.load(std::memory_order_relaxed);
        if (n >= static_cast<int>(m_frames.size()))
            return;
        m_frames[static_cast<size_t>(n)] = block.floatCount / 2;
        m_times[static_cast<size_t>(n)] = Clock::now();
        m_count.store(n + 1, std::memory_order_release);
    }
    void streamStarted(double) noexcept override {}
    void streamFailed(const char* reason) noexcept override { m_failure.store(reason); }

    std::vector<int64_t> m_frames;
    std::vector<Clock::time_point> m_times;
    std::atomic<int> m_count{0};
    std::atomic<const char*> m_failure{nullptr};
};

// Plays quiet noise into the default sink while alive.
class Player {
public:
    Player()
    {
        m_loop = pa_threaded_mainloop_new();
        pa_threaded_mainloop_start(m_loop);
        pa_threaded_mainloop_lock(m_loop);
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "block report");
        pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
        pa_threaded_mainloop_unlock(m_loop);
        for (int i = 0; i < 300 && state() != PA_CONTEXT_READY; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        pa_threaded_mainloop_lock(m_loop);
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, 48000, 2};
        m_stream = pa_stream_new(m_context, "noise", &spec, nullptr);
        pa_stream_set_write_callback(m_stream, [](pa_stream* s, size_t bytes, void*) {
            void* buf = nullptr;
            if (pa_stream_begin_write(s, &buf, &bytes) < 0 || !buf)
                return;
            auto* f = static_cast<float*>(buf);
            for (size_t i = 0; i < bytes / sizeof(float); ++i)
                f[i] = 0.1f * static_cast<float>(static_cast<int>(i * 2654435761u % 1000) - 500) / 500.0f;
            pa_stream_write(s, buf, bytes, nullptr, 0, PA_SEEK_RELATIVE);
        }, nullptr);
        // 50 ms of target latency, as a desktop player might ask for.
        const uint32_t none = static_cast<uint32_t>(-1);
        const pa_buffer_attr attr{none, 2400 * 8, none, none, none};
        pa_stream_connect_playback(m_stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr);
        pa_threaded_mainloop_unlock(m_loop);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ~Player()
    {
        pa_threaded_mainloop_lock(m_loop);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }

private:
    pa_context_state_t state()
    {
        pa_threaded_mainloop_lock(m_loop);
        const auto s = pa_context_get_state(m_context);
        pa_threaded_mainloop_unlock(m_loop);
        return s;
    }
    pa_threaded_mainloop* m_loop;
    pa_context* m_context;
    pa_stream* m_stream = nullptr;
};

void report(PulseBackend& backend, const std::string& source, int fragment)
{
    BlockLog log;
    OpenResult opened = backend.openInput({source, 48000, 2, fragment}, log);
    if (!opened.stream) {
        std::printf("  fragment %5d: cannot open: %s\n", fragment, opened.error.c_str());
        return;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(6);
    while (log.m_count.load() == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    opened.stream.reset();
    const int n = log.m_count.load();
    if (n < 3) {
        std::printf("  fragment %5d: %d blocks\n", fragment, n);
        return;
    }
    std::vector<int64_t> sizes(log.m_frames.begin() + 1, log.m_frames.begin() + n);
    std::sort(sizes.begin(), sizes.end());
    const double span =
        std::chrono::duration<double, std::milli>(log.m_times[static_cast<size_t>(n - 1)] - log.m_times[1]).count();
    std::printf("  fragment %5d: %4d blocks, frames min %5lld median %5lld max %5lld, "
                "mean interval %6.2f ms (%.2f ms expected)\n",
                fragment, n, static_cast<long long>(sizes.front()),
                static_cast<long long>(sizes[sizes.size() / 2]), static_cast<long long>(sizes.back()),
                span / (n - 2), 1000.0 * fragment / 48000.0);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string source = argc > 1 ? argv[1] : "@DEFAULT_SOURCE@";
    PulseBackend backend;
    std::promise<bool> reachable;
    backend.query([&](ServerState state) { reachable.set_value(state.reachable); });
    if (!reachable.get_future().get()) {
        std::printf("No PulseAudio server reachable\n");
        return 1;
    }
    std::printf("source %s, 48 kHz stereo float, nothing playing:\n", source.c_str());
    for (const int fragment : {64, 256, 1024})
        report(backend, source, fragment);
    {
        Player player;
        std::printf("while a 50 ms stream plays into the default sink:\n");
        for (const int fragment : {64, 256, 1024})
            report(backend, source, fragment);
    }
    return 0;
}
