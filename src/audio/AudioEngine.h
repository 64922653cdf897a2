#pragma once

#include "audio/AudioBackend.h"
#include "audio/AudioDeviceInfo.h"
#include "audio/RingBuffer.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class AudioTapProcessor;
class MainThreadWakeup;
class SystemAudioCapture;

// The audio side's controller: the source list and selection, starting and
// stopping capture, and the ring buffer the renderer drains.
//
// Main thread only. Every assignment to a published value (devices,
// selectedDeviceID, isRunning, sampleRate, lastError) emits willChange()
// first and then stores the value; listeners connect queued and read it.
// Capture news from the audio thread (a system-audio start completing, a
// stream lost at run time) is handled by the main thread's event loop.
class AudioEngine : public QObject {
    Q_OBJECT

public:
    static constexpr int64_t kRingCapacity = 65536;  // frames, stereo
    static constexpr int kDefaultBufferSize = 256;
    // The fragment asked of the server: bufferSize held to this range.
    static constexpr int kMinFragmentFrames = 16;
    static constexpr int kMaxFragmentFrames = 8192;

    static constexpr const char* kNoSoundServer =
        "System Audio requires a PulseAudio or PipeWire sound server";

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
    bool isRunning() const { return m_isRunning; }
    // Hz, of the frames in the ring buffer.
    double sampleRate() const { return m_sampleRate; }
    // Empty when there is nothing to show.
    const QString& lastError() const { return m_lastError; }
    // Frames per block asked of an input device (not published).
    int bufferSize() const { return m_bufferSize; }
    void setBufferSize(int frames) { m_bufferSize = frames; }
    // Created once; shared with the renderer.
    std::shared_ptr<RingBuffer> ringBuffer() const { return m_ringBuffer; }
    // A system-audio start has been asked for and not yet answered.
    bool isStartPending() const;

    // Re-reads the source list and repairs the selection: a still-listed one
    // is kept, else system audio when offered, else the first source; an
    // empty list leaves it alone.
    void refreshDevices();
    // Starts capture from the selected source. Does nothing while running,
    // while a start is pending, or with nothing selected.
    void start();
    // Stops whatever capture runs or is starting; always ends not running.
    void stop();

signals:
    void willChange();

private:
    void startInputDevice();
    void startSystemAudio();
    void failInputStart(const std::string& reason);
    void handleCaptureNews();
    void loseRunningCapture(const QString& reason);
    void clearLostStreamError();
    void stopInputPath();
    int fragmentFrames() const;

    template <typename T, typename V>
    void publish(T& field, V&& value)
    {
        emit willChange();
        field = std::forward<V>(value);
    }

    const std::shared_ptr<AudioBackend> m_backend;
    MainThreadWakeup* m_wakeup;  // child; outlives the captures below

    QList<AudioDeviceInfo> m_availableDevices;
    uint32_t m_selectedDeviceID = AudioDeviceInfo::kNoDeviceID;
    bool m_isRunning = false;
    double m_sampleRate = 48000.0;
    const std::shared_ptr<RingBuffer> m_ringBuffer;
    int m_bufferSize = kDefaultBufferSize;
    std::unique_ptr<AudioTapProcessor> m_tapProcessor;
    std::unique_ptr<AudioStream> m_inputStream;  // after the processor: closed first
    std::unique_ptr<SystemAudioCapture> m_systemCapture;
    QString m_lastError;
    // m_lastError tells of a stream lost at run time; a later successful start
    // clears it, unlike a start failure's message.
    bool m_lastErrorIsLostStream = false;
};
