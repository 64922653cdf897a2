#pragma once

#include "audio/AudioBackend.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A scripted sound server. Tests set what it answers, then play the server's
// part on the streams the engine opened: deliver blocks, complete or fail a
// start, lose a running stream. Like PulseBackend it never calls back into a
// closed stream (a mutex stands in for the main loop's lock).
class FakeAudioBackend final : public AudioBackend {
public:
    struct Stream {
        bool isSystemAudio = false;
        InputStreamRequest input;     // input streams
        double requestedRate = 0;     // system-audio streams
        int fragmentFrames = 0;

        // Any thread. Each returns false, calling nothing, once closed.
        bool deliver(const AudioBlock& block)
        {
            return call([&](AudioStreamCallbacks& c) { c.audioArrived(block); });
        }
        bool start(double rate)
        {
            return call([&](AudioStreamCallbacks& c) { c.streamStarted(rate); });
        }
        bool fail(const char* reason)
        {
            return call([&](AudioStreamCallbacks& c) { c.streamFailed(reason); });
        }
        template <typename Fn>
        bool call(Fn fn)
        {
            std::lock_guard lock(mutex);
            if (!closed)
                fn(*callbacks);
            return !closed;
        }
        bool isClosed()
        {
            std::lock_guard lock(mutex);
            return closed;
        }

        std::mutex mutex;
        AudioStreamCallbacks* callbacks = nullptr;
        bool closed = false;
    };

    bool reachable = true;
    std::vector<SourceInfo> sources;
    std::optional<double> outputRate = 48000.0;
    std::string inputError;   // non-empty: openInput refuses with it
    std::string systemError;  // non-empty: openSystemAudio refuses with it

    std::vector<std::shared_ptr<Stream>> streams;  // every stream opened, in order

    std::shared_ptr<Stream> lastStream() const { return streams.empty() ? nullptr : streams.back(); }

    bool serverReachable() override { return reachable; }

    std::optional<std::vector<SourceInfo>> listSources() override
    {
        if (!reachable)
            return std::nullopt;
        return sources;
    }

    std::optional<double> defaultOutputSampleRate() override
    {
        return reachable ? outputRate : std::nullopt;
    }

    OpenResult openInput(const InputStreamRequest& request, AudioStreamCallbacks& callbacks) override
    {
        auto stream = open(inputError, callbacks);
        if (!stream)
            return {nullptr, reachable ? inputError : "Connection refused"};
        stream->input = request;
        stream->fragmentFrames = request.fragmentFrames;
        stream->start(request.sampleRate);  // opens synchronously, like the real one
        return {std::make_unique<Handle>(stream), {}};
    }

    OpenResult openSystemAudio(double sampleRate, int fragmentFrames,
                               AudioStreamCallbacks& callbacks) override
    {
        auto stream = open(systemError, callbacks);
        if (!stream)
            return {nullptr, reachable ? systemError : "Connection refused"};
        stream->isSystemAudio = true;
        stream->requestedRate = sampleRate;
        stream->fragmentFrames = fragmentFrames;
        return {std::make_unique<Handle>(stream), {}};
    }

private:
    struct Handle final : AudioStream {
        explicit Handle(std::shared_ptr<Stream> s) : stream(std::move(s)) {}
        ~Handle() override
        {
            std::lock_guard lock(stream->mutex);
            stream->closed = true;
        }
        std::shared_ptr<Stream> stream;
    };

    // A new stream, or none when the server is away or `refusal` is set.
    std::shared_ptr<Stream> open(const std::string& refusal, AudioStreamCallbacks& callbacks)
    {
        if (!reachable || !refusal.empty())
            return nullptr;
        auto stream = std::make_shared<Stream>();
        stream->callbacks = &callbacks;
        streams.push_back(stream);
        return stream;
    }
};
