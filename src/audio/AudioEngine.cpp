#include "audio/AudioEngine.h"

#include "audio/AudioDeviceManager.h"
#include "audio/Capture.h"
#include "audio/FileCapture.h"
#include "audio/MainThreadWakeup.h"
#include "audio/PulseBackend.h"
#include "audio/SystemAudioCapture.h"
#include "media/AudioFileDecoder.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace {

bool isSystemAudio(uint32_t id) { return id == AudioDeviceInfo::kSystemAudioID; }

QTimer* singleShotTimer(QObject* parent, int intervalMs)
{
    auto* timer = new QTimer(parent);
    timer->setSingleShot(true);
    timer->setInterval(intervalMs);
    return timer;
}

}  // namespace

// Carries the backend's answers, from whatever thread gives them, to the
// engine on its own thread; an answer that comes after the engine is gone is
// dropped.
struct AudioEngine::Relay {
    explicit Relay(AudioEngine* e) : engine(e), home(e->thread()) {}
    std::mutex mutex;
    AudioEngine* engine;  // written on the engine's thread, under the mutex
    QThread* const home;
};

AudioEngine::AudioEngine(QObject* parent) : AudioEngine(nullptr, parent) {}

AudioEngine::AudioEngine(std::shared_ptr<AudioBackend> backend, QObject* parent)
    : QObject(parent),
      m_backend(backend ? std::move(backend) : std::make_shared<PulseBackend>()),
      m_relay(std::make_shared<Relay>(this)),
      m_wakeup(new MainThreadWakeup(this)),
      m_serverNews(new MainThreadWakeup(this)),
      m_newsBatch(singleShotTimer(this, kNewsBatchMs)),
      m_retryTimer(singleShotTimer(this, 0)),
      m_ringBuffer(std::make_shared<RingBuffer>(kRingCapacity, 3))
{
    connect(m_wakeup, &MainThreadWakeup::woken, this, &AudioEngine::handleCaptureNews);
    connect(m_serverNews, &MainThreadWakeup::woken, this, [this] {
        if (!m_newsBatch->isActive())
            m_newsBatch->start();
    });
    connect(m_newsBatch, &QTimer::timeout, this,
            [this] { ask([this](const ServerState& server) { handleServerNews(server); }); });
    connect(m_retryTimer, &QTimer::timeout, this, &AudioEngine::retry);
    m_backend->watch([news = m_serverNews] { news->poke(); });
    ask([this](const ServerState& server) {
        applyDevices(AudioDeviceManager::listInputDevices(server));
        if (m_availableDevices.isEmpty())
            retryLater();  // no server yet: list its sources once one answers
    });
}

AudioEngine::~AudioEngine()
{
    {
        std::lock_guard guard(m_relay->mutex);
        m_relay->engine = nullptr;
    }
    m_backend->watch(nullptr);
    closeCapture();
}

// `then` runs on this thread with the server's answer, unless the engine is
// gone by then.
void AudioEngine::ask(std::function<void(const ServerState&)> then)
{
    m_backend->query([relay = m_relay, then = std::move(then)](ServerState server) {
        if (QThread::currentThread() == relay->home) {
            if (relay->engine)
                then(server);
            return;
        }
        std::lock_guard guard(relay->mutex);
        if (relay->engine)
            QMetaObject::invokeMethod(relay->engine, [then, server] { then(server); }, Qt::QueuedConnection);
    });
}

void AudioEngine::setSelectedDeviceID(uint32_t id) { publish(m_selectedDeviceID, id); }

bool AudioEngine::isStartPending() const
{
    return m_state == CaptureState::starting || (m_state == CaptureState::resuming && m_capture);
}

void AudioEngine::refreshDevices()
{
    ask([this](const ServerState& server) { applyDevices(AudioDeviceManager::listInputDevices(server)); });
}

void AudioEngine::applyDevices(QList<AudioDeviceInfo> devices)
{
    const bool differs = devices != m_availableDevices;
    publish(m_availableDevices, std::move(devices));
    if (differs)
        emit devicesChanged();

    const auto listed = [&](uint32_t id) {
        return std::any_of(m_availableDevices.cbegin(), m_availableDevices.cend(),
                           [id](const AudioDeviceInfo& d) { return d.id == id; });
    };
    if (m_selectedDeviceID == AudioDeviceInfo::kFileID ||
        (m_selectedDeviceID != AudioDeviceInfo::kNoDeviceID && listed(m_selectedDeviceID)))
        return;
    const bool offersSystemAudio =
        std::any_of(m_availableDevices.cbegin(), m_availableDevices.cend(),
                    [](const AudioDeviceInfo& d) { return d.isSystemAudio; });
    if (offersSystemAudio)
        publish(m_selectedDeviceID, AudioDeviceInfo::kSystemAudioID);
    else if (!m_availableDevices.isEmpty())
        publish(m_selectedDeviceID, m_availableDevices.first().id);
}

void AudioEngine::start()
{
    if (m_isRunning || isStartPending())
        return;
    const uint32_t selected = m_selectedDeviceID;
    const uint64_t ticket = m_startTicket = ++m_lastTicket;
    m_state = CaptureState::starting;
    ask([this, ticket, selected](const ServerState& server) {
        if (ticket != m_startTicket)
            return;  // stopped meanwhile
        m_startTicket = 0;
        // Pressed before the first list arrived: what that list selected.
        m_captureID = selected != AudioDeviceInfo::kNoDeviceID ? selected : m_selectedDeviceID;
        if (m_captureID != AudioDeviceInfo::kNoDeviceID)
            beginStart(server);
        else
            m_state = CaptureState::idle;
    });
}

void AudioEngine::beginStart(const ServerState& server)
{
    if (isSystemAudio(m_captureID)) {
        setError(server.reachable ? QString() : QString::fromLatin1(kNoSoundServer), false);
        if (!server.reachable) {
            m_state = CaptureState::idle;
            return;
        }
    }
    openCapture(m_captureID, server);
}

void AudioEngine::stop()
{
    // Closing a stream silences it at once, and a start still pending can no
    // longer complete.
    m_startTicket = 0;
    closeCapture();
    if (m_state == CaptureState::resuming)
        setError(QString::fromLatin1(AudioBackend::kServerLost), true);
    m_state = CaptureState::idle;
    publish(m_isRunning, false);
}

void AudioEngine::closeCapture()
{
    if (const FileCapture* file = fileCapture())
        m_filePosition = file->finished() ? 0 : file->position();
    if (m_capture) {
        m_capture->stop();  // no callback runs after this
        m_capture.reset();
    }
}

int AudioEngine::fragmentFrames() const
{
    return std::clamp(m_bufferSize, kMinFragmentFrames, kMaxFragmentFrames);
}

// Starts, resumes or moves capture from source `id` as `server` lists it. The
// outcome, at once or later, goes through handleCaptureNews.
void AudioEngine::openCapture(uint32_t id, const ServerState& server)
{
    closeCapture();
    m_captureID = id;
    if (m_state != CaptureState::resuming)
        m_state = CaptureState::starting;
    const auto wake = [wakeup = m_wakeup] { wakeup->poke(); };
    if (isSystemAudio(id)) {
        m_capture = std::make_unique<SystemAudioCapture>(m_ringBuffer, *m_backend, wake);
    } else if (id == AudioDeviceInfo::kFileID) {
        auto file = std::make_unique<FileCapture>(m_ringBuffer, *m_backend, m_filePath.toStdString(),
                                                  m_filePosition, wake);
        file->setLooping(m_fileLooping);
        file->setMuted(m_fileMuted);
        m_capture = std::move(file);
    } else {
        m_capture = std::make_unique<InputCapture>(m_ringBuffer, *m_backend, id, fragmentFrames(), wake);
    }
    m_capture->start(server);
    // Published as the stream opens, before the renderer may read its frames.
    if (m_capture->status().state() != StreamStatus::State::failed &&
        (!m_isRunning || m_sampleRate != m_capture->sampleRate()))
        publish(m_sampleRate, m_capture->sampleRate());
    handleCaptureNews();  // a server may answer before the open returns
}

void AudioEngine::failInputStart(const std::string& reason)
{
    std::string line = "AudioEngine failed to start: " + reason;
    std::replace(line.begin(), line.end(), '\n', ' ');  // exactly one line
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout);
    setError(QString::fromStdString(reason), true);
}

void AudioEngine::handleCaptureNews()
{
    if (!m_capture)
        return;
    if (const FileCapture* file = fileCapture(); file && file->finished()) {
        stop();  // the end, heard: as after Stop, from the start next time
        return;
    }
    const StreamStatus& status = m_capture->status();
    if (status.state() == StreamStatus::State::running && m_state != CaptureState::live) {
        m_state = CaptureState::live;
        m_retries = 0;
        clearTransientError();
        if (!m_isRunning)
            publish(m_isRunning, true);
    } else if (status.state() == StreamStatus::State::failed) {
        captureFailed(m_capture->failureText());
    }
}

// The capture held, or the one being opened, ended or could not start.
void AudioEngine::captureFailed(const std::string& reason)
{
    closeCapture();
    if (m_isRunning) {
        // Running, moving to another output or resuming: a lost server is
        // waited for; anything else ends capture.
        if (m_state == CaptureState::resuming || reason == AudioBackend::kServerLost) {
            m_state = CaptureState::resuming;
            setError(QString::fromUtf8(kReconnecting), true);
            retryLater();
        } else {
            loseRunningCapture(QString::fromStdString(reason));
        }
        return;
    }
    m_state = CaptureState::idle;
    if (isSystemAudio(m_captureID)) {
        setError(QString::fromStdString(reason), false);
        return;
    }
    failInputStart(reason);
    if (m_captureID == AudioDeviceInfo::kFileID && m_selectionBeforeFile != AudioDeviceInfo::kNoDeviceID)
        publish(m_selectedDeviceID, std::exchange(m_selectionBeforeFile, AudioDeviceInfo::kNoDeviceID));
}

FileCapture* AudioEngine::fileCapture() const
{
    return m_captureID == AudioDeviceInfo::kFileID ? static_cast<FileCapture*>(m_capture.get()) : nullptr;
}

bool AudioEngine::openFile(const QString& path)
{
    // Read here first, so that a file that is no sound never takes the
    // place of the source that works.
    std::string reason;
    const std::unique_ptr<AudioFileDecoder> probe = AudioFileDecoder::open(path.toStdString(), &reason);
    if (!probe) {
        setError(QString::fromStdString(reason), true);
        return false;
    }
    stop();
    if (m_selectedDeviceID != AudioDeviceInfo::kFileID)
        m_selectionBeforeFile = m_selectedDeviceID;
    publish(m_filePath, path);
    m_filePosition = 0;
    m_fileLength = probe->info().frames;
    publish(m_selectedDeviceID, AudioDeviceInfo::kFileID);
    start();
    return true;
}

int AudioEngine::systemAudioDelayMs() const
{
    const auto* system = dynamic_cast<const SystemAudioCapture*>(m_capture.get());
    if (!system || !m_isRunning)
        return -1;
    return static_cast<int>(std::llround(static_cast<double>(system->delayNs()) / 1e6));
}

int64_t AudioEngine::fileLength() const
{
    if (const FileCapture* file = fileCapture(); file && file->length() >= 0)
        return file->length();
    return m_fileLength;
}

int64_t AudioEngine::filePosition() const
{
    if (const FileCapture* file = fileCapture())
        return file->position();
    return m_filePosition;
}

void AudioEngine::seekFile(int64_t frame)
{
    if (const FileCapture* file = fileCapture())
        m_fileLength = file->length();
    m_filePosition = std::max<int64_t>(0, m_fileLength >= 0 ? std::min(frame, m_fileLength) : frame);
    if (fileCapture() && m_isRunning) {
        // One capture per start: a new one from the new place. The old
        // stream's queued audio goes with it, so the jump is heard at once.
        const int64_t target = m_filePosition;
        closeCapture();
        m_filePosition = target;
        openCapture(AudioDeviceInfo::kFileID, ServerState{});
    }
}

void AudioEngine::setFileLooping(bool looping)
{
    publish(m_fileLooping, looping);
    if (FileCapture* file = fileCapture())
        file->setLooping(looping);
}

void AudioEngine::setFileMuted(bool muted)
{
    publish(m_fileMuted, muted);
    if (FileCapture* file = fileCapture())
        file->setMuted(muted);
}

void AudioEngine::handleServerNews(const ServerState& server)
{
    auto devices = AudioDeviceManager::listInputDevices(server);
    if (devices.isEmpty()) {  // the server is gone: a running capture hears it from its stream
        if (!m_availableDevices.isEmpty())
            applyDevices({});
        retryLater();
        return;
    }
    if (devices != m_availableDevices)
        applyDevices(std::move(devices));
    followDefaultOutput(server);
}

// System audio records the default output's monitor, whichever sink that is
// now. A stream the user moved elsewhere stays there until the default changes.
void AudioEngine::followDefaultOutput(const ServerState& server)
{
    const auto* system = dynamic_cast<const SystemAudioCapture*>(m_capture.get());
    if (!system || !m_isRunning || server.output.sink == system->sink())
        return;
    if (server.output.sink.empty())
        loseRunningCapture(QString::fromLatin1(AudioBackend::kNoOutputDevice));
    else
        openCapture(AudioDeviceInfo::kSystemAudioID, server);
}

void AudioEngine::retryLater()
{
    if (m_retryTimer->isActive() || m_retryAsked)
        return;
    if (m_state == CaptureState::resuming && m_retries >= m_retryPolicy.attempts) {
        m_retryAsked = true;
        ask([this](const ServerState& server) {
            m_retryAsked = false;
            giveUpResuming(server.reachable);
        });
        return;
    }
    m_retryTimer->start(std::min(m_retryPolicy.maxMs, m_retryPolicy.firstMs << std::min(m_retries, 8)));
    ++m_retries;
}

void AudioEngine::giveUpResuming(bool serverBack)
{
    if (m_state != CaptureState::resuming)
        return;  // stopped, or resumed, meanwhile
    loseRunningCapture(QString::fromLatin1(serverBack ? AudioBackend::kSourceLost : AudioBackend::kServerLost));
    if (!serverBack)
        retryLater();  // watch for the server, for the list's sake
}

void AudioEngine::retry()
{
    m_retryAsked = true;
    ask([this](const ServerState& server) {
        m_retryAsked = false;
        if (!server.reachable) {
            retryLater();
            return;
        }
        handleServerNews(server);
        if (m_state == CaptureState::resuming)
            openCapture(m_captureID, server);
        else
            m_retries = 0;
    });
}

void AudioEngine::loseRunningCapture(const QString& reason)
{
    closeCapture();
    m_state = CaptureState::idle;
    m_retries = 0;
    setError(reason, true);
    publish(m_isRunning, false);
}

// `transient`: a later successful start undoes it (a lost stream, a failed
// input start, a reconnection), unlike a system-audio start's failure.
void AudioEngine::setError(const QString& text, bool transient)
{
    publish(m_lastError, text);
    m_lastErrorIsTransient = transient;
}

void AudioEngine::clearTransientError()
{
    if (m_lastErrorIsTransient)
        setError(QString(), false);
}
