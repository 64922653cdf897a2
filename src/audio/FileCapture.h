#pragma once

#include "audio/Capture.h"
#include "audio/HeardQueue.h"
#include "audio/SampleFifo.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class AudioFileDecoder;

// Plays a sound file on the default output and hands the scope each frame
// as it is heard: the scope draws what leaves the speakers, not what was
// queued for them.
//
// A decoding thread fills `decoded` a little ahead; the playback stream's
// callback moves frames from there to the server and to `heard`, which hands
// them to the scope as they leave the speakers. Mono is played on both
// sides; channels past the second are not played, and the third reaches the
// scope as its Z.
class FileCapture final : public Capture {
public:
    static constexpr const char* kReadFailed = "The file could not be read to its end";

    // Frames from `startFrame` (held to the file). The backend must outlive this object.
    FileCapture(std::shared_ptr<RingBuffer> ringBuffer, AudioBackend& backend, std::string path, int64_t startFrame,
                std::function<void()> statusChanged);
    ~FileCapture() override;

    // Opens the file (a failure is the start's failure, with the decoder's
    // reason) and the playback stream.
    void start(const ServerState& server) override;
    double sampleRate() const override { return m_rate; }

    // Any time, from the main thread.
    void setLooping(bool looping) { m_looping.store(looping, std::memory_order_relaxed); }
    void setMuted(bool muted) { m_muted.store(muted, std::memory_order_relaxed); }

    // Where in the file the frame heard last was; frames in the file, -1
    // while unknown (some containers do not say until the end is read).
    int64_t position() const;
    int64_t length() const { return m_length.load(std::memory_order_relaxed); }
    // The last frame was heard (without looping): playback is over.
    bool finished() const { return m_finished.load(std::memory_order_acquire); }

private:
    class Player;
    void decodeLoop();

    AudioBackend& m_backend;
    const std::string m_path;
    int64_t m_startFrame;
    double m_rate = 0;
    int m_channels = 0;
    int m_frameChannels = 2;  // queued per frame: left, right and, from a file of three or more, Z
    std::unique_ptr<AudioFileDecoder> m_decoder;  // the decode thread's once started
    std::unique_ptr<Player> m_player;

    std::function<void()> m_statusChanged;
    std::unique_ptr<SampleFifo> m_decoded;
    std::unique_ptr<HeardQueue> m_heard;
    std::atomic<bool> m_looping{false};
    std::atomic<bool> m_muted{false};
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_decodedAll{false};
    std::atomic<bool> m_drained{false};  // the player found nothing left to play
    std::atomic<bool> m_finished{false};
    std::atomic<int64_t> m_length{-1};
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;  // the decoder waits here for room
    std::thread m_decodeThread;
};
