#pragma once

#include "audio/AudioBackend.h"

#include <memory>
#include <string>

// AudioBackend on the PulseAudio client library: one threaded main loop and
// one context, connected on first use and again whenever the server went
// away, so a restarted server is picked up by the next call. Also serves
// PipeWire desktops through pipewire-pulse.
//
// The main-thread calls wait for the server under the main loop's lock, at
// most `timeoutMs` each, so a server that stopped answering cannot freeze the
// window; opening a stream does not wait at all. On the main-loop thread our
// code never allocates, locks, logs or calls Qt: query replies are copied out
// by the waiting main thread (the library's signal/accept hand-over), and
// stream and event callbacks only forward blocks, state and news.
class PulseBackend final : public AudioBackend {
public:
    // A local server answers in about a millisecond.
    static constexpr int kDefaultTimeoutMs = 80;

    // `server`: as for pa_context_connect; empty means the default, which
    // honours PULSE_SERVER and the client configuration. Never autospawns.
    explicit PulseBackend(std::string server = {}, int timeoutMs = kDefaultTimeoutMs);
    ~PulseBackend() override;

    PulseBackend(const PulseBackend&) = delete;
    PulseBackend& operator=(const PulseBackend&) = delete;

    bool serverReachable() override;
    std::optional<std::vector<SourceInfo>> listSources() override;
    std::optional<OutputInfo> defaultOutput() override;
    OpenResult openInput(const InputStreamRequest& request,
                         AudioStreamCallbacks& callbacks) override;
    OpenResult openSystemAudio(const std::string& monitor, double sampleRate, int fragmentFrames,
                               AudioStreamCallbacks& callbacks) override;
    void watch(std::function<void()> changed) override;

    struct Core;

private:
    std::shared_ptr<Core> m_core;  // shared with the open streams
};
