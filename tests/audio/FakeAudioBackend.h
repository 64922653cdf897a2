#pragma once

#include "audio/AudioBackend.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// A scripted sound server: tests set its answers, then play the server's part
// on the streams the engine opened. Like PulseBackend it never calls back into
// a closed stream; a mutex stands in for the main loop's lock.
class FakeAudioBackend final : public AudioBackend {
public:
    struct Stream {
        int fragmentFrames = 0;
        AudioStreamCallbacks* callbacks = nullptr;  // null once closed
        InputStreamRequest input;                   // system audio: the monitor and rate
        std::mutex mutex;

        // Any thread. Each returns false, calling nothing, once closed.
        bool deliver(const AudioBlock& b) { return call([&](auto& c) { c.audioArrived(b); }); }
        bool start(double rate) { return call([&](auto& c) { c.streamStarted(rate); }); }
        bool fail(const char* reason) { return call([&](auto& c) { c.streamFailed(reason); }); }
        bool isClosed() { return !call([](auto&) {}); }
        bool call(const std::function<void(AudioStreamCallbacks&)>& fn)
        {
            std::lock_guard lock(mutex);
            if (callbacks)
                fn(*callbacks);
            return callbacks != nullptr;
        }
    };

    bool reachable = true;
    std::vector<SourceInfo> sources;
    std::string defaultSink = "speakers";  // empty: none
    double outputRate = 48000.0;
    std::function<void()> changed;
    std::string inputError, systemError;           // non-empty: that open is refused with it
    std::vector<std::shared_ptr<Stream>> streams;  // every stream opened, in order
    bool holdAnswers = false;  // queries wait for answerHeld() instead of being answered at once
    std::vector<std::function<void(ServerState)>> held;
    std::vector<std::chrono::steady_clock::time_point> queries;  // when each was asked

    std::shared_ptr<Stream> lastStream() const { return streams.empty() ? nullptr : streams.back(); }
    ServerState state() const
    {
        return reachable ? ServerState{true, sources, {defaultSink, defaultSink + ".monitor", outputRate}} : ServerState{};
    }
    void answerHeld()
    {
        for (auto& done : std::exchange(held, {}))
            done(state());
    }

    void query(std::function<void(ServerState)> done) override
    {
        queries.push_back(std::chrono::steady_clock::now());
        if (holdAnswers)
            held.push_back(std::move(done));
        else
            done(state());
    }
    void watch(std::function<void()> c) override { changed = std::move(c); }
    // Playback: the test plays the server's part through `player` (null once closed).
    struct Playback {
        PlaybackCallbacks* player = nullptr;
        double rate = 0;
    };
    std::vector<std::shared_ptr<Playback>> playbacks;
    OpenResult openPlayback(double rate, PlaybackCallbacks& callbacks) override
    {
        if (!reachable)
            return {nullptr, "Connection refused"};
        playbacks.push_back(std::make_shared<Playback>(&callbacks, rate));
        struct Closer final : AudioStream {
            std::shared_ptr<Playback> playback;
            ~Closer() override { playback->player = nullptr; }
        };
        auto closer = std::make_unique<Closer>();
        closer->playback = playbacks.back();
        callbacks.streamStarted(rate);
        return {std::move(closer), {}};
    }
    OpenResult openInput(const InputStreamRequest& request, AudioStreamCallbacks& callbacks) override
    {
        OpenResult opened = open(inputError, std::make_shared<Stream>(request.fragmentFrames, &callbacks, request));
        if (opened.stream)
            streams.back()->start(request.sampleRate);  // opens synchronously, like the real one
        return opened;
    }
    OpenResult openSystemAudio(const std::string& monitor, double rate, int fragmentFrames,
                               AudioStreamCallbacks& callbacks) override
    {
        return open(systemError, std::make_shared<Stream>(fragmentFrames, &callbacks, InputStreamRequest{monitor, rate, 2}));
    }

private:
    struct Handle final : AudioStream {
        explicit Handle(std::shared_ptr<Stream> s) : stream(std::move(s)) {}
        ~Handle() override
        {
            std::lock_guard lock(stream->mutex);
            stream->callbacks = nullptr;
        }
        std::shared_ptr<Stream> stream;
    };

    OpenResult open(const std::string& refusal, std::shared_ptr<Stream> stream)
    {
        if (!reachable || !refusal.empty())
            return {nullptr, reachable ? refusal : "Connection refused"};
        streams.push_back(stream);
        return {std::make_unique<Handle>(std::move(stream)), {}};
    }
};
