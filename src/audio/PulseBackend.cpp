#include "audio/PulseBackend.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Holds the main loop's lock for a scope. The lock is recursive.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : m_loop(loop)
    {
        if (m_loop)
            pa_threaded_mainloop_lock(m_loop);
    }
    ~LoopLock()
    {
        if (m_loop)
            pa_threaded_mainloop_unlock(m_loop);
    }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

// Main-loop thread: wakes whoever waits on the loop.
void wakeWaiters(pa_threaded_mainloop* loop) { pa_threaded_mainloop_signal(loop, 0); }

void onTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata)
{
    wakeWaiters(static_cast<pa_threaded_mainloop*>(userdata));
}

// One introspection reply handed to the waiting query thread. The main-loop
// thread publishes each item and waits (signal with accept) until the query
// thread has copied it, so nothing is allocated on the main-loop thread.
struct Reply {
    pa_threaded_mainloop* loop;
    const void* item = nullptr;
    bool done = false;
    bool failed = false;
};

template <typename Info>
void onListReply(pa_context*, const Info* info, int eol, void* userdata)
{
    auto* reply = static_cast<Reply*>(userdata);
    if (eol != 0 || info == nullptr) {
        reply->failed = eol < 0;
        reply->done = true;
        wakeWaiters(reply->loop);
        return;
    }
    reply->item = info;
    pa_threaded_mainloop_signal(reply->loop, 1);
}

void onServerReply(pa_context*, const pa_server_info* info, void* userdata)
{
    auto* reply = static_cast<Reply*>(userdata);
    if (info) {
        reply->item = info;
        pa_threaded_mainloop_signal(reply->loop, 1);
    }
    reply->failed = info == nullptr;
    reply->done = true;
    wakeWaiters(reply->loop);
}

}  // namespace

struct PulseBackend::Core {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;  // lock held for every access
    const std::string server;
    const std::chrono::milliseconds timeout;
    std::function<void()> changed;   // lock held for every access
    bool subscribed = false;         // to the context's events
    int pipewire = -1;               // the server is PipeWire's; -1: not asked yet

    // The query thread: the only one that waits for the server.
    std::thread worker;
    std::mutex requestsMutex;
    std::condition_variable requestsChanged;
    std::vector<std::function<void(ServerState)>> requests;  // requestsMutex held
    std::atomic<bool> quitting{false};  // ends any wait of the query thread

    Core(std::string serverName, int timeoutMs)
        : server(std::move(serverName)), timeout(std::max(timeoutMs, 1))
    {
        loop = pa_threaded_mainloop_new();
        if (loop && pa_threaded_mainloop_start(loop) < 0) {
            pa_threaded_mainloop_free(loop);
            loop = nullptr;
        }
        worker = std::thread([this] { serveQueries(); });
    }

    ~Core()
    {
        {
            std::lock_guard guard(requestsMutex);
            quitting = true;
        }
        requestsChanged.notify_all();
        if (loop) {
            LoopLock lock(loop);
            wakeWaiters(loop);  // a query waiting on the server gives up now
        }
        worker.join();
        if (!loop)
            return;
        {
            LoopLock lock(loop);
            dropContext();
        }
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }

    // Query thread. Each answer is gathered after the requests it serves
    // were made; requests that come meanwhile wait for the next one.
    void serveQueries()
    {
        for (;;) {
            std::vector<std::function<void(ServerState)>> batch;
            {
                std::unique_lock guard(requestsMutex);
                requestsChanged.wait(guard, [this] { return quitting || !requests.empty(); });
                if (quitting)
                    return;
                batch.swap(requests);
            }
            const ServerState state = gather();
            for (auto& done : batch)
                done(state);
        }
    }

    // Query thread.
    ServerState gather()
    {
        ServerState state;
        const auto until = deadline();
        LoopLock lock(loop);
        if (!ensureContext(until))
            return state;
        isPipeWire(until);  // known before any stream opens
        state.reachable = listSources(until, state.sources) && defaultOutput(until, state.output);
        return state;
    }

    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    Clock::time_point deadline() const { return Clock::now() + timeout; }

    bool contextReady() const
    {
        return context && pa_context_get_state(context) == PA_CONTEXT_READY;
    }

    // The server's text for the context's last error.
    const char* contextError() const
    {
        return context ? pa_strerror(pa_context_errno(context)) : pa_strerror(PA_ERR_CONNECTIONREFUSED);
    }

    // Main-loop thread.
    static void onContextState(pa_context* c, void* userdata)
    {
        auto* self = static_cast<Core*>(userdata);
        // Only a connection that was up is news; a refused attempt is not.
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c)) && self->subscribed && self->changed)
            self->changed();
        wakeWaiters(self->loop);
    }

    // Main-loop thread. A sink's own changes (volume, idle or running) move
    // nothing we show.
    static void onEvent(pa_context*, pa_subscription_event_type_t event, uint32_t, void* userdata)
    {
        auto* self = static_cast<Core*>(userdata);
        const bool sinkChange = (event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK &&
                                (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE;
        if (!sinkChange && self->changed)
            self->changed();
    }

    void dropContext()
    {
        if (!context)
            return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
        subscribed = false;
        pipewire = -1;
    }

    // Lock held, context set. One wait on the loop, woken by any callback or
    // at the deadline.
    void waitOnce(Clock::time_point until)
    {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now());
        if (left.count() <= 0)
            return;
        pa_time_event* timer = pa_context_rttime_new(
            context, pa_rtclock_now() + static_cast<pa_usec_t>(left.count()), onTimer, loop);
        if (!timer)
            return;  // the caller's loop sees the clock instead
        pa_threaded_mainloop_wait(loop);
        pa_threaded_mainloop_get_api(loop)->time_free(timer);
    }

    template <typename Done>
    bool waitUntil(Done done, Clock::time_point until)
    {
        while (!done()) {
            if (Clock::now() >= until || quitting)
                return false;
            waitOnce(until);
        }
        return true;
    }

    // Lock held. A ready context: the current one, or a new connection when
    // there is none or the server dropped it.
    bool ensureContext(Clock::time_point until)
    {
        if (!loop)
            return false;
        if (context && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            dropContext();
        if (!context) {
            context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Orvalen");
            if (!context)
                return false;
            pa_context_set_state_callback(context, onContextState, this);
            if (pa_context_connect(context, server.empty() ? nullptr : server.c_str(),
                                   PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
                dropContext();
                return false;
            }
        }
        waitUntil([this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) ||
                                  pa_context_get_state(context) == PA_CONTEXT_READY; },
                  until);
        const pa_context_state_t state = pa_context_get_state(context);
        if (state == PA_CONTEXT_READY) {
            if (!subscribed) {
                pa_context_set_subscribe_callback(context, onEvent, this);
                const auto mask = static_cast<pa_subscription_mask_t>(
                    PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
                if (pa_operation* op = pa_context_subscribe(context, mask, nullptr, nullptr))
                    pa_operation_unref(op);
                subscribed = true;
            }
            return true;
        }
        if (!PA_CONTEXT_IS_GOOD(state))
            dropContext();  // else still connecting: the next query goes on waiting
        return false;
    }

    // Lock held. Runs `op` to its end, handing each reply item to `take` on
    // this thread. False when it failed, was cut off or ran out of time.
    template <typename Take>
    bool collect(pa_operation* op, Reply& reply, Take take, Clock::time_point until)
    {
        if (!op)
            return false;
        bool ok = true;
        for (;;) {
            if (reply.item) {
                take(reply.item);
                reply.item = nullptr;
                pa_threaded_mainloop_accept(loop);  // the reply's thread may go on
                continue;
            }
            if (reply.done)
                break;
            if (pa_operation_get_state(op) != PA_OPERATION_RUNNING || !contextReady() ||
                Clock::now() >= until || quitting) {
                ok = false;
                break;
            }
            waitOnce(until);
        }
        if (!reply.done)
            pa_operation_cancel(op);  // no callback after this
        pa_operation_unref(op);
        return ok && !reply.failed;
    }

    // Lock held, context ready. Asked once per connection.
    bool isPipeWire(Clock::time_point until)
    {
        if (pipewire < 0) {
            Reply reply{loop};
            std::string name;
            pa_operation* op = pa_context_get_server_info(context, onServerReply, &reply);
            if (collect(op, reply, [&](const void* item) {
                    const char* n = static_cast<const pa_server_info*>(item)->server_name;
                    name = n ? n : "";
                }, until))
                pipewire = name.find("PipeWire") != std::string::npos;
        }
        return pipewire > 0;
    }

    // Lock held. The default sink's name; empty when there is none.
    bool defaultSink(Clock::time_point until, std::string& sinkName)
    {
        Reply reply{loop};
        pa_operation* op = pa_context_get_server_info(context, onServerReply, &reply);
        return collect(op, reply, [&](const void* item) {
            const auto* info = static_cast<const pa_server_info*>(item);
            sinkName = info->default_sink_name ? info->default_sink_name : "";
        }, until);
    }

    // Lock held, context ready. Every capture source, monitors included.
    bool listSources(Clock::time_point until, std::vector<SourceInfo>& sources)
    {
        Reply reply{loop};
        pa_operation* op = pa_context_get_source_info_list(context, onListReply<pa_source_info>, &reply);
        return collect(op, reply, [&](const void* item) {
            const auto* info = static_cast<const pa_source_info*>(item);
            SourceInfo s;
            s.name = info->name ? info->name : "";
            s.description = info->description ? info->description : "";
            s.channels = info->sample_spec.channels;
            s.sampleRate = info->sample_spec.rate;
            s.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
            sources.push_back(std::move(s));
        }, until);
    }

    // Lock held, context ready. The default sink; its name is left empty
    // when there is none or it has nothing to record.
    bool defaultOutput(Clock::time_point until, OutputInfo& out)
    {
        if (!defaultSink(until, out.sink))
            return false;
        if (out.sink.empty())
            return true;
        const bool found = sinkInfo(out.sink, [&](const pa_sink_info& info) {
            out.monitor = info.monitor_source_name ? info.monitor_source_name : "";
            out.sampleRate = info.sample_spec.rate;
        }, until);
        if (!found && !contextReady())
            return false;
        if (!found || out.monitor.empty())
            out.sink.clear();  // gone between the two questions, or nothing to record
        return true;
    }

    // Lock held. `take` sees the named sink; false when there is no such sink.
    template <typename Take>
    bool sinkInfo(const std::string& sinkName, Take take, Clock::time_point until)
    {
        Reply reply{loop};
        pa_operation* op = pa_context_get_sink_info_by_name(context, sinkName.c_str(),
                                                            onListReply<pa_sink_info>, &reply);
        bool found = false;
        const bool ok = collect(op, reply, [&](const void* item) {
            found = true;
            take(*static_cast<const pa_sink_info*>(item));
        }, until);
        return ok && found;
    }
};

namespace {

// What a record and a playback stream share: the stream's life and its
// state. Its callbacks run on the main-loop thread with the loop's lock held;
// closing it under that lock detaches them for good.
template <typename Callbacks>
class PulseStreamBase : public AudioStream {
public:
    PulseStreamBase(std::shared_ptr<PulseBackend::Core> core, Callbacks& callbacks)
        : m_core(std::move(core)), m_callbacks(callbacks)
    {
    }

    ~PulseStreamBase() override
    {
        if (!m_stream)
            return;
        LoopLock lock(m_core->loop);
        close();
    }

    PulseStreamBase(const PulseStreamBase&) = delete;
    PulseStreamBase& operator=(const PulseStreamBase&) = delete;

    // Lock held. Detaches the callbacks and lets the stream go.
    void close()
    {
        if (!m_stream)
            return;
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
            pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }

protected:
    // Lock held. A new stream with the state callback set; false with `error`.
    bool create(const char* name, const pa_sample_spec& spec, const pa_channel_map* map, std::string& error)
    {
        m_stream = pa_stream_new(m_core->context, name, &spec, map);
        if (!m_stream) {
            error = m_core->contextError();
            return false;
        }
        pa_stream_set_state_callback(m_stream, onState, this);
        return true;
    }

    const std::shared_ptr<PulseBackend::Core> m_core;
    Callbacks& m_callbacks;
    pa_stream* m_stream = nullptr;

private:
    // Main-loop thread.
    static void onState(pa_stream* s, void* userdata)
    {
        auto* self = static_cast<PulseStreamBase*>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(s);
        if (state == PA_STREAM_READY && !self->m_ready) {
            self->m_ready = true;
            const pa_sample_spec* spec = pa_stream_get_sample_spec(s);
            self->m_callbacks.streamStarted(spec ? static_cast<double>(spec->rate) : 0.0);
        } else if (!PA_STREAM_IS_GOOD(state) && !self->m_ended) {
            self->m_ended = true;
            self->m_callbacks.streamFailed(self->failureReason(s));
        }
        wakeWaiters(self->m_core->loop);
    }

    const char* failureReason(pa_stream* s) const
    {
        pa_context* context = pa_stream_get_context(s);
        if (!m_ready)
            return pa_strerror(pa_context_errno(context));
        if (pa_context_get_state(context) != PA_CONTEXT_READY)
            return PulseBackend::kServerLost;
        return PulseBackend::kSourceLost;
    }

    bool m_ready = false;
    bool m_ended = false;
};

// One record stream.
class PulseStream final : public PulseStreamBase<AudioStreamCallbacks> {
public:
    using PulseStreamBase::PulseStreamBase;

    // Lock held. Asks the server for the stream; false with `error` when it
    // refuses at once. `extraFlags` on top of ADJUST_LATENCY.
    bool connect(const char* streamName, const std::string& device, double rate, int channels,
                 int fragmentFrames, pa_stream_flags_t extraFlags, std::string& error)
    {
        if (!(rate >= 1.0 && rate <= PA_RATE_MAX) || channels < 1 || channels > int(PA_CHANNELS_MAX)) {
            error = pa_strerror(PA_ERR_NOTSUPPORTED);
            return false;
        }
        pa_sample_spec spec;
        spec.format = PA_SAMPLE_FLOAT32NE;
        spec.rate = static_cast<uint32_t>(rate);
        spec.channels = static_cast<uint8_t>(channels);
        pa_channel_map map;
        pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
        m_channels = channels;
        m_timed = (extraFlags & PA_STREAM_AUTO_TIMING_UPDATE) != 0;

        if (!create(streamName, spec, &map, error))
            return false;
        pa_stream_set_read_callback(m_stream, onRead, this);

        // The fragment is the block size the server delivers; it only holds
        // with ADJUST_LATENCY (without it blocks arrive in bursts).
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(-1);
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(std::clamp(fragmentFrames, 1, 1 << 20)) *
                        static_cast<uint32_t>(pa_frame_size(&spec));
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | extraFlags);
        if (pa_stream_connect_record(m_stream, device.c_str(), &attr, flags) < 0) {
            error = m_core->contextError();
            close();
            return false;
        }
        return true;
    }

private:
    // Main-loop thread: hands every readable fragment on. A hole (no data,
    // some length) is dropped unread; an empty read has nothing to drop.
    static void onRead(pa_stream* s, size_t, void* userdata)
    {
        auto* self = static_cast<PulseStream*>(userdata);
        for (;;) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
                return;
            if (data) {
                AudioBlock block;
                block.data = static_cast<const float*>(data);
                block.floatCount = static_cast<int64_t>(bytes / sizeof(float));
                block.channels = self->m_channels;
                if (self->m_timed)
                    block.timed = heardIn(s, block.heardInNs);
                self->m_callbacks.audioArrived(block);
            }
            pa_stream_drop(s);
        }
    }

    // On a monitor the stream's latency is the age of the first readable
    // frame less the output's own latency: negative while the output has
    // yet to play it.
    static bool heardIn(pa_stream* s, int64_t& ns)
    {
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(s, &latency, &negative) < 0)
            return false;
        ns = (negative ? 1 : -1) * static_cast<int64_t>(latency) * 1000;
        return true;
    }

    int m_channels = 0;
    bool m_timed = false;
};

// One playback stream on the default output.
class PulsePlayback final : public PulseStreamBase<PlaybackCallbacks> {
public:
    using PulseStreamBase::PulseStreamBase;

    // Lock held.
    bool connect(double rate, std::string& error)
    {
        if (!(rate >= 1.0 && rate <= PA_RATE_MAX)) {
            error = pa_strerror(PA_ERR_NOTSUPPORTED);
            return false;
        }
        pa_sample_spec spec;
        spec.format = PA_SAMPLE_FLOAT32NE;
        spec.rate = static_cast<uint32_t>(rate);
        spec.channels = 2;
        if (!create("Orvalen file", spec, nullptr, error))
            return false;
        pa_stream_set_write_callback(m_stream, onWrite, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(PulseBackend::kPlaybackBufferMs * 1000, &spec));
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        // Interpolated timing: the latency asked for every write is current,
        // not the last report's.
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                          PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) < 0) {
            error = m_core->contextError();
            close();
            return false;
        }
        return true;
    }

private:
    // Main-loop thread: fills what the server asks for, in the server's own
    // buffers (no copy, no allocation).
    static void onWrite(pa_stream* s, size_t wanted, void* userdata)
    {
        auto* self = static_cast<PulsePlayback*>(userdata);
        constexpr size_t kFrameBytes = 2 * sizeof(float);
        while (wanted >= kFrameBytes) {
            void* data = nullptr;
            size_t bytes = wanted;
            if (pa_stream_begin_write(s, &data, &bytes) < 0 || !data || bytes < kFrameBytes)
                return;
            bytes -= bytes % kFrameBytes;
            pa_usec_t latency = 0;
            int negative = 0;
            // No timing yet (the first writes): the server starts once its
            // buffer is filled, so the buffer's length is the best guess.
            if (pa_stream_get_latency(s, &latency, &negative) < 0)
                latency = PulseBackend::kPlaybackBufferMs * 1000;
            else if (negative)
                latency = 0;
            self->m_callbacks.render(static_cast<float*>(data), static_cast<int64_t>(bytes / kFrameBytes),
                                     static_cast<int64_t>(latency) * 1000);
            if (pa_stream_write(s, data, bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            wanted -= std::min(wanted, bytes);
        }
    }
};

}  // namespace

PulseBackend::PulseBackend(std::string server, int timeoutMs)
    : m_core(std::make_shared<Core>(std::move(server), timeoutMs))
{
}

PulseBackend::~PulseBackend() = default;

int PulseBackend::fragmentFor(int frames, double rate, bool pipewire)
{
    if (!pipewire || !(rate > 0))
        return frames;
    return std::max(frames, static_cast<int>(std::ceil(std::min(rate, 1e6) * 2048.0 / 48000.0)));
}

void PulseBackend::query(std::function<void(ServerState)> done)
{
    {
        std::lock_guard guard(m_core->requestsMutex);
        m_core->requests.push_back(std::move(done));
    }
    m_core->requestsChanged.notify_one();
}

namespace {

// One record stream, opened without waiting: none without a live connection.
OpenResult openRecord(const std::shared_ptr<PulseBackend::Core>& core, const char* name, const InputStreamRequest& request,
                      pa_stream_flags_t flags, AudioStreamCallbacks& callbacks)
{
    LoopLock lock(core->loop);
    if (!core->contextReady())
        return {nullptr, AudioBackend::kServerLost};
    auto stream = std::make_unique<PulseStream>(core, callbacks);
    std::string error;
    const int fragment = PulseBackend::fragmentFor(request.fragmentFrames, request.sampleRate, core->pipewire > 0);
    if (!stream->connect(name, request.sourceName, request.sampleRate, request.channels, fragment, flags, error))
        return {nullptr, error};
    return {std::move(stream), {}};
}

}  // namespace

OpenResult PulseBackend::openInput(const InputStreamRequest& request, AudioStreamCallbacks& callbacks)
{
    // DONT_MOVE: a removed source ends the stream instead of silently
    // recording another one. NO_REMAP, NO_REMIX: channels by index, so inputs
    // beyond the second are dropped, never mixed into the first two.
    return openRecord(m_core, "Orvalen input", request,
                      static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_NO_REMAP_CHANNELS |
                                                     PA_STREAM_NO_REMIX_CHANNELS),
                      callbacks);
}

OpenResult PulseBackend::openSystemAudio(const std::string& monitor, double sampleRate,
                                         int fragmentFrames, AudioStreamCallbacks& callbacks)
{
    // Timing, to draw each frame when the output plays it.
    return openRecord(m_core, "Orvalen system audio", {monitor, sampleRate, 2, fragmentFrames},
                      static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE),
                      callbacks);
}

OpenResult PulseBackend::openPlayback(double sampleRate, PlaybackCallbacks& callbacks)
{
    LoopLock lock(m_core->loop);
    if (!m_core->contextReady())
        return {nullptr, AudioBackend::kServerLost};
    auto stream = std::make_unique<PulsePlayback>(m_core, callbacks);
    std::string error;
    if (!stream->connect(sampleRate, error))
        return {nullptr, error};
    return {std::move(stream), {}};
}

void PulseBackend::watch(std::function<void()> changed)
{
    LoopLock lock(m_core->loop);
    m_core->changed = std::move(changed);
}
