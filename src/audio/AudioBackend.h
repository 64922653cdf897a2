#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The sound-server questions and streams the audio engine needs, so that the
// engine's logic runs against PulseAudio (PulseBackend) or a test double.
// Standard library only. Every AudioBackend member is called on the main thread.

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
    int channels = 0;       // 1 or 2
    int fragmentFrames = 0; // frames per delivered block the server is asked for
};

class AudioBackend {
public:
    // openSystemAudio's error when there is no default sink to record.
    static constexpr const char* kNoOutputDevice = "No output device found";

    virtual ~AudioBackend() = default;

    // True when a sound server answers (connecting first if need be).
    virtual bool serverReachable() = 0;

    // Every capture source, monitors included, in the server's order; none
    // when no server answers.
    virtual std::optional<std::vector<SourceInfo>> listSources() = 0;

    // The default sink's sample rate; none when there is no default sink or
    // no server.
    virtual std::optional<double> defaultOutputSampleRate() = 0;

    // Opens a record stream on a source and returns once it is capturing
    // (callbacks.streamStarted has then run) or with the reason it is not.
    virtual OpenResult openInput(const InputStreamRequest& request,
                                 AudioStreamCallbacks& callbacks) = 0;

    // Starts recording the default sink's monitor, 32-bit float stereo at
    // sampleRate, and returns at once. Failures found before the server is
    // asked to connect come back as OpenResult::error; later ones, and the
    // start itself, arrive through the callbacks.
    virtual OpenResult openSystemAudio(double sampleRate, int fragmentFrames,
                                       AudioStreamCallbacks& callbacks) = 0;
};
