#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The sound-server questions and streams the audio engine needs, so that the
// engine's logic runs against PulseAudio (PulseBackend) or a test double.
// Standard library only. Every AudioBackend member is called on the main
// thread, and none of them waits for the server.

// One capture source as the server lists it.
struct SourceInfo {
    std::string name;         // the server's unique, stable name
    std::string description;  // human-readable; may be empty
    int channels = 0;
    double sampleRate = 0;    // Hz
    bool isMonitor = false;   // records what a sink plays, not an input
};

// One block of 32-bit float samples as a stream delivered it. Interleaved:
// frame i, channel c at data[i * channels + c]. Non-interleaved: each channel
// a run of floatCount / channels samples, one after the other. channels 0 is
// read as one non-interleaved channel.
struct AudioBlock {
    const float* data = nullptr;
    int64_t floatCount = 0;
    int channels = 0;
    bool nonInterleaved = false;
    // System audio only, once the server has reported its timing: when the
    // block's first frame leaves the speakers, from now (negative: already
    // heard). A monitor records what the output is about to play.
    bool timed = false;
    int64_t heardInNs = 0;
};

// What a stream reports. All three run on the backend's audio thread, never
// concurrently for one stream, and never after the stream's AudioStream
// object has been destroyed. They must not block, lock or allocate.
class AudioStreamCallbacks {
public:
    virtual ~AudioStreamCallbacks() = default;
    // Once per delivered block, in order.
    virtual void audioArrived(const AudioBlock& block) noexcept = 0;
    // The stream is capturing at sampleRate Hz.
    virtual void streamStarted(double sampleRate) noexcept = 0;
    // The stream ended for good (server gone, source removed, refused).
    // `reason` is static text that stays valid for the life of the process.
    virtual void streamFailed(const char* reason) noexcept = 0;
};

// What a playback stream asks of what it plays, on the backend's audio
// thread, with the rules of AudioStreamCallbacks (no blocking, locking or
// allocating; never after the stream is destroyed).
class PlaybackCallbacks {
public:
    virtual ~PlaybackCallbacks() = default;
    // Fills `out` with `frames` interleaved stereo frames. The first of them
    // leaves the speakers `heardInNs` from now (the stream's latency then).
    virtual void render(float* out, int64_t frames, int64_t heardInNs) noexcept = 0;
    virtual void streamStarted(double sampleRate) noexcept = 0;
    virtual void streamFailed(const char* reason) noexcept = 0;
};

// An open record stream. Destroying it closes it: once the destructor has
// returned, no callback of this stream runs any more. Main thread only.
class AudioStream {
public:
    virtual ~AudioStream() = default;
};

// Either a stream or the reason there is none.
struct OpenResult {
    std::unique_ptr<AudioStream> stream;
    std::string error;
};

struct InputStreamRequest {
    std::string sourceName;
    double sampleRate = 0;  // Hz, whole
    int channels = 0;       // the source's own: taken as they are, never remixed
    int fragmentFrames = 0; // frames per delivered block the server is asked for
};

// The default sink, as system audio records it.
struct OutputInfo {
    std::string sink;     // its name; empty when there is no default sink
    std::string monitor;  // the source that records what it plays
    double sampleRate = 0;
};

// The server as one query found it.
struct ServerState {
    bool reachable = false;           // it answered every question below
    std::vector<SourceInfo> sources;  // every capture source, monitors included, in its order
    OutputInfo output;                // the default sink (empty name: none)
};

class AudioBackend {
public:
    // System audio's error when there is no default sink to record.
    static constexpr const char* kNoOutputDevice = "No output device found";
    // Why a stream that was capturing ended.
    static constexpr const char* kServerLost = "Lost the connection to the sound server";
    static constexpr const char* kSourceLost = "The audio source is no longer available";

    virtual ~AudioBackend() = default;

    // Asks the server for its sources and default sink, connecting first if
    // need be. Returns at once; `done` runs exactly once, with an answer
    // gathered after this call, on any thread (PulseBackend's own, or the
    // caller's inside this call for a test double). It may allocate but must
    // not wait on the caller's thread. Calls made while an answer is being
    // gathered share the next one.
    virtual void query(std::function<void(ServerState)> done) = 0;

    // Both opens return at once and never connect: without a live connection
    // (made by query()) they fail with kServerLost. Failures found before the
    // server is asked come back as OpenResult::error; later ones, and the
    // start itself, arrive through the callbacks (possibly before the open
    // returns).
    // A source that goes away ends an input stream.
    virtual OpenResult openInput(const InputStreamRequest& request,
                                 AudioStreamCallbacks& callbacks) = 0;
    // Records `monitor`, 32-bit float stereo at sampleRate. The user may move
    // this stream to another source while it runs.
    virtual OpenResult openSystemAudio(const std::string& monitor, double sampleRate,
                                       int fragmentFrames, AudioStreamCallbacks& callbacks) = 0;

    // Plays 32-bit float stereo at sampleRate on the default output (and on
    // whichever output becomes the default later), asking `callbacks` for
    // every frame. Opens like the two above.
    virtual OpenResult openPlayback(double sampleRate, PlaybackCallbacks& callbacks) = 0;

    // `changed` runs on any thread after sources, sinks or the defaults
    // changed, or the connection to the server was lost; it must not block,
    // lock or allocate. Once this returns, the previous one no longer runs.
    virtual void watch(std::function<void()> changed) = 0;
};
