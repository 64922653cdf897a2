#pragma once

#include "audio/AudioBackend.h"
#include "audio/AudioDeviceInfo.h"
#include "audio/InputCapture.h"
#include "audio/RingBuffer.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class Capture;
class FileCapture;
class QTimer;
class MainThreadWakeup;

// The audio side's controller: the source list and selection, starting and
// stopping capture, and the ring buffer the renderer drains.
//
// Main thread only. Every assignment to a published value (devices,
// selectedDeviceID, isRunning, sampleRate, lastError) emits willChange()
// first and then stores the value; listeners connect queued and read it.
// Capture news from the audio thread (a start completing, a stream lost) and
// the server's news (sources coming and going, another default output, the
// server gone) are handled by the main thread's event loop: the list follows
// the server, system audio follows the default output, and capture cut off
// by a lost server resumes by itself once the server is back. The main thread
// never waits for the server: what the engine needs to know comes from the
// backend's queries, whose answers it handles as they arrive.
class AudioEngine : public QObject {
    Q_OBJECT

public:
    static constexpr int64_t kRingCapacity = 65536;  // frames of left, right and Z
    static constexpr int kDefaultBufferSize = 256;
    // The fragment asked of the server: bufferSize held to this range.
    static constexpr int kMinFragmentFrames = 16;
    static constexpr int kMaxFragmentFrames = 8192;
    // Waits between attempts to reach a lost server: doubling from firstMs,
    // capped at maxMs. Capture is given up after `attempts` (about two
    // minutes); the list is watched for as long as it takes.
    struct RetryPolicy {
        int firstMs = 250;
        int maxMs = 2000;
        int attempts = 60;
    };
    // Server news is handled once per burst.
    static constexpr int kNewsBatchMs = 50;

    static constexpr const char* kNoSoundServer =
        "System Audio requires a PulseAudio or PipeWire sound server";
    static constexpr const char* kInputUnavailable = InputCapture::kUnavailable;
    static constexpr const char* kReconnecting = "Reconnecting to the sound server\u2026";

    // Talks to the PulseAudio (or pipewire-pulse) server.
    explicit AudioEngine(QObject* parent = nullptr);
    // Talks to `backend` (a PulseAudio one when null).
    explicit AudioEngine(std::shared_ptr<AudioBackend> backend, QObject* parent = nullptr);
    // Closes any stream; nothing reaches the ring buffer afterwards.
    ~AudioEngine() override;

    const QList<AudioDeviceInfo>& devices() const { return m_availableDevices; }
    // 0: nothing selected; AudioDeviceInfo::kSystemAudioID: system audio.
    uint32_t selectedDeviceID() const { return m_selectedDeviceID; }
    // Changes only what the next start() opens.
    void setSelectedDeviceID(uint32_t id);
    // Capture runs, or is being resumed after the server went away.
    bool isRunning() const { return m_isRunning; }
    // Hz, of the frames in the ring buffer.
    double sampleRate() const { return m_sampleRate; }
    // Empty when there is nothing to show.
    const QString& lastError() const { return m_lastError; }
    // Frames per block asked of an input device (not published).
    int bufferSize() const { return m_bufferSize; }
    void setBufferSize(int frames) { m_bufferSize = frames; }
    void setRetryPolicy(const RetryPolicy& policy) { m_retryPolicy = policy; }
    // Created once; shared with the renderer.
    std::shared_ptr<RingBuffer> ringBuffer() const { return m_ringBuffer; }
    // A stream has been asked for and has not answered yet.
    bool isStartPending() const;

    // Re-reads the source list (once the server answers) and repairs the
    // selection: a still-listed one is kept, else system audio when offered,
    // else the first source; an empty list leaves it alone.
    void refreshDevices();
    // Starts capture from the selected source once the server answers (with
    // nothing selected yet, from the one its first list selects). Does nothing
    // while running or while a start is pending.
    void start();
    // Stops whatever capture runs, starts or waits for the server; always
    // ends not running.
    void stop();

    // --- A sound file as the source ---
    // Selects the file at `path` and plays it from its start (stopping what
    // ran). False, with the reason as lastError and the source as it was,
    // when the file cannot be read as sound.
    bool openFile(const QString& path);
    // The file selected last; empty when none was.
    const QString& filePath() const { return m_filePath; }
    // Frames of the file (-1 while unknown) and where playback is or would
    // resume, in frames; the position moves without notification.
    int64_t fileLength() const;
    int64_t filePosition() const;
    // Plays on from `frame` (or resumes there at the next start).
    void seekFile(int64_t frame);
    bool fileLooping() const { return m_fileLooping; }
    void setFileLooping(bool looping);
    bool fileMuted() const { return m_fileMuted; }
    void setFileMuted(bool muted);

    // While system audio runs: how much later than recorded each frame is
    // drawn, so that it is drawn as the output plays it, in ms; -1 otherwise.
    int systemAudioDelayMs() const;

signals:
    void willChange();
    // After a new device list that differs from the last one was stored.
    void devicesChanged();

private:
    struct Relay;

    void ask(std::function<void(const ServerState&)> then);
    void applyDevices(QList<AudioDeviceInfo> devices);
    void beginStart(const ServerState& server);
    void openCapture(uint32_t id, const ServerState& server);
    void failInputStart(const std::string& reason);
    void handleCaptureNews();
    void captureFailed(const std::string& reason);
    void handleServerNews(const ServerState& server);
    void followDefaultOutput(const ServerState& server);
    void retryLater();
    void retry();
    void giveUpResuming(bool serverBack);
    void loseRunningCapture(const QString& reason);
    void setError(const QString& text, bool transient);
    void clearTransientError();
    void closeCapture();
    FileCapture* fileCapture() const;
    int fragmentFrames() const;

    template <typename T, typename V>
    void publish(T& field, V&& value)
    {
        emit willChange();
        field = std::forward<V>(value);
    }

    const std::shared_ptr<AudioBackend> m_backend;
    const std::shared_ptr<Relay> m_relay;  // the backend's answers reach us through it
    MainThreadWakeup* m_wakeup;       // child; outlives the captures below
    MainThreadWakeup* m_serverNews;   // child
    QTimer* m_newsBatch;              // child, single shot
    QTimer* m_retryTimer;             // child, single shot

    QList<AudioDeviceInfo> m_availableDevices;
    uint32_t m_selectedDeviceID = AudioDeviceInfo::kNoDeviceID;
    bool m_isRunning = false;
    double m_sampleRate = 48000.0;
    const std::shared_ptr<RingBuffer> m_ringBuffer;
    int m_bufferSize = kDefaultBufferSize;
    // What capture does. isRunning is true from live on, and stays true while
    // system audio moves to another output (starting) and while resuming.
    enum class CaptureState {
        idle,
        starting,  // a start waits for the server's answer, or its stream for its start
        live,      // the stream runs
        resuming,  // lost with the server: waiting for it, or reopening once it is back
    };
    CaptureState m_state = CaptureState::idle;
    std::unique_ptr<Capture> m_capture;
    QString m_filePath;
    int64_t m_filePosition = 0;
    int64_t m_fileLength = -1;
    bool m_fileLooping = false;
    bool m_fileMuted = false;
    uint32_t m_selectionBeforeFile = AudioDeviceInfo::kNoDeviceID;
    uint32_t m_captureID = AudioDeviceInfo::kNoDeviceID;  // the source of the capture held
    uint64_t m_startTicket = 0;     // the start() waiting for the server's answer; 0: none
    uint64_t m_lastTicket = 0;
    bool m_retryAsked = false;      // a retry waits for the server's answer
    int m_retries = 0;              // attempts since the server was lost
    RetryPolicy m_retryPolicy;
    QString m_lastError;
    // m_lastError tells of something a later successful start undoes (a lost
    // stream, a failed input start, a reconnection), unlike a system-audio
    // start's failure.
    bool m_lastErrorIsTransient = false;
};
