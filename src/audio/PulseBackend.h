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
// most `timeoutMs` each, so a server that stopped answering cannot hang the
// caller. On the main-loop thread our code never allocates, locks, logs or
// calls Qt: query replies are copied out by the waiting main thread (the
// library's signal/accept hand-over), and stream callbacks only forward
// blocks and state to AudioStreamCallbacks.
class PulseBackend final : public AudioBackend {
public:
    // Texts for a stream lost after it was capturing.
    static constexpr const char* kServerLost = "Lost the connection to the sound server";
    static constexpr const char* kSourceLost = "The audio source is no longer available";

    // `server`: as for pa_context_connect; empty means the default, which
    // honours PULSE_SERVER and the client configuration. Never autospawns.
    explicit PulseBackend(std::string server = {}, int timeoutMs = 3000);
    ~PulseBackend() override;

    PulseBackend(const PulseBackend&) = delete;
    PulseBackend& operator=(const PulseBackend&) = delete;

    bool serverReachable() override;
    std::optional<std::vector<SourceInfo>> listSources() override;
    std::optional<double> defaultOutputSampleRate() override;
    OpenResult openInput(const InputStreamRequest& request,
                         AudioStreamCallbacks& callbacks) override;
    OpenResult openSystemAudio(double sampleRate, int fragmentFrames,
                               AudioStreamCallbacks& callbacks) override;

    struct Core;

private:
    std::shared_ptr<Core> m_core;  // shared with the open streams
};
