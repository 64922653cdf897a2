#pragma once

#include "audio/AudioBackend.h"

#include <memory>
#include <string>

// AudioBackend on the PulseAudio client library: one threaded main loop and
// one context, connected on first use and again whenever the server went
// away, so a restarted server is picked up by the next call. Also serves
// PipeWire desktops through pipewire-pulse.
//
// Nothing here waits on the caller's thread: queries are answered by a thread
// of their own, which waits for the server at most `timeoutMs` per answer,
// so a server that stopped answering cannot freeze the window; opening a
// stream does not wait at all. On the main-loop thread our code never
// allocates, locks, logs or calls Qt: query replies are copied out by the
// query thread (the library's signal/accept hand-over), and stream and event
// callbacks only forward blocks, state and news.
class PulseBackend final : public AudioBackend {
public:
    // A local server answers in about a millisecond; one that takes a second
    // is taken for gone (and asked again later).
    static constexpr int kDefaultTimeoutMs = 1000;

    // `server`: as for pa_context_connect; empty means the default, which
    // honours PULSE_SERVER and the client configuration. Never autospawns.
    explicit PulseBackend(std::string server = {}, int timeoutMs = kDefaultTimeoutMs);
    ~PulseBackend() override;

    PulseBackend(const PulseBackend&) = delete;
    PulseBackend& operator=(const PulseBackend&) = delete;

    // The fragment to ask for. PipeWire runs its whole graph at the smallest
    // latency any client asks for, and a record stream's fragment is its ask:
    // 2048 frames at 48 kHz, its largest quantum, never lowers what the
    // players chose. Blocks then come every 43 ms; the renderer spreads them
    // over the frames.
    static int fragmentFor(int frames, double rate, bool pipewire);

    void query(std::function<void(ServerState)> done) override;
    OpenResult openInput(const InputStreamRequest& request,
                         AudioStreamCallbacks& callbacks) override;
    OpenResult openSystemAudio(const std::string& monitor, double sampleRate, int fragmentFrames,
                               AudioStreamCallbacks& callbacks) override;
    OpenResult openPlayback(double sampleRate, PlaybackCallbacks& callbacks) override;
    void watch(std::function<void()> changed) override;
    // What a playback stream keeps queued at the server: a seek or a pause
    // is heard this much later, and an overloaded machine has this much to
    // fill a gap in.
    static constexpr int kPlaybackBufferMs = 60;

    struct Core;

private:
    std::shared_ptr<Core> m_core;  // shared with the open streams
};
