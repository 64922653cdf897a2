#include "audio/AudioEngine.h"

#include "audio/AudioDeviceManager.h"
#include "audio/AudioTapProcessor.h"
#include "audio/MainThreadWakeup.h"
#include "audio/PulseBackend.h"
#include "audio/SystemAudioCapture.h"

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
      m_ringBuffer(std::make_shared<RingBuffer>(kRingCapacity, 2))
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
    return m_startTicket != 0 || ((m_systemCapture || m_tapProcessor) && !m_captureLive);
}

void AudioEngine::refreshDevices()
{
    ask([this](const ServerState& server) { applyDevices(AudioDeviceManager::listInputDevices(server)); });
}

void AudioEngine::applyDevices(QList<AudioDeviceInfo> devices)
{
    publish(m_availableDevices, std::move(devices));

    const auto listed = [&](uint32_t id) {
        return std::any_of(m_availableDevices.cbegin(), m_availableDevices.cend(),
                           [id](const AudioDeviceInfo& d) { return d.id == id; });
    };
    if (m_selectedDeviceID != AudioDeviceInfo::kNoDeviceID && listed(m_selectedDeviceID))
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
    ask([this, ticket, selected](const ServerState& server) {
        if (ticket != m_startTicket)
            return;  // stopped meanwhile
        m_startTicket = 0;
        // Pressed before the first list arrived: what that list selected.
        m_captureID = selected != AudioDeviceInfo::kNoDeviceID ? selected : m_selectedDeviceID;
        if (m_captureID != AudioDeviceInfo::kNoDeviceID)
            beginStart(server);
    });
}

void AudioEngine::beginStart(const ServerState& server)
{
    if (isSystemAudio(m_captureID)) {
        if (!server.reachable) {
            publish(m_lastError, QString::fromLatin1(kNoSoundServer));
            m_lastErrorIsTransient = false;
            return;
        }
        publish(m_lastError, QString());
        m_lastErrorIsTransient = false;
    }
    openCapture(m_captureID, server);
}

void AudioEngine::stop()
{
    // Closing a stream silences it at once, and a start still pending can no
    // longer complete.
    m_startTicket = 0;
    closeCapture();
    if (m_resuming) {
        m_resuming = false;
        setTransientError(QString::fromLatin1(AudioBackend::kServerLost));
    }
    publish(m_isRunning, false);
}

void AudioEngine::closeCapture()
{
    if (m_systemCapture) {
        m_systemCapture->stop();
        m_systemCapture.reset();
    }
    if (m_tapProcessor) {
        m_tapProcessor->stop();
        m_inputStream.reset();  // no callback runs after this
        m_tapProcessor.reset();
    }
    m_captureLive = false;
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
    if (isSystemAudio(id)) {
        m_systemCapture = std::make_unique<SystemAudioCapture>(
            m_ringBuffer, *m_backend, [wakeup = m_wakeup] { wakeup->poke(); });
        m_systemCapture->start(server);
    } else if (std::string error; !openInput(id, server, error)) {
        captureFailed(error);
        return;
    }
    handleCaptureNews();  // a server may answer before the open returns
}

bool AudioEngine::openInput(uint32_t id, const ServerState& server, std::string& error)
{
    const auto source = AudioDeviceManager::findInputSource(server, id);
    if (!source) {
        error = server.reachable ? kInputUnavailable : AudioBackend::kServerLost;
        return false;
    }
    if (!std::isfinite(source->sampleRate) || source->sampleRate < 1.0) {
        error = "The input device reports no usable sample rate";
        return false;
    }
    // Published before the stream opens, as the renderer may read it at once.
    if (!m_isRunning || m_sampleRate != source->sampleRate)
        publish(m_sampleRate, source->sampleRate);

    auto processor = std::make_unique<AudioTapProcessor>(
        m_ringBuffer, [wakeup = m_wakeup] { wakeup->poke(); });
    const InputStreamRequest request{source->name, source->sampleRate, source->channels,
                                     fragmentFrames()};
    OpenResult opened = m_backend->openInput(request, *processor);
    if (!opened.stream) {
        error = opened.error.empty() ? std::string("The input stream could not be opened")
                                     : opened.error;
        return false;
    }
    m_tapProcessor = std::move(processor);
    m_inputStream = std::move(opened.stream);
    return true;
}

void AudioEngine::failInputStart(const std::string& reason)
{
    std::string line = "AudioEngine failed to start: " + reason;
    std::replace(line.begin(), line.end(), '\n', ' ');  // exactly one line
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout);
    setTransientError(QString::fromStdString(reason));
}

void AudioEngine::handleCaptureNews()
{
    const StreamStatus* status = m_systemCapture  ? &m_systemCapture->status()
                                 : m_tapProcessor ? &m_tapProcessor->status()
                                                  : nullptr;
    if (!status)
        return;
    if (status->state() == StreamStatus::State::running && !m_captureLive) {
        m_captureLive = true;
        m_resuming = false;
        m_retries = 0;
        if (m_systemCapture && (!m_isRunning || m_sampleRate != m_systemCapture->capturedSampleRate()))
            publish(m_sampleRate, m_systemCapture->capturedSampleRate());
        clearTransientError();
        if (!m_isRunning)
            publish(m_isRunning, true);
    } else if (status->state() == StreamStatus::State::failed) {
        const char* reason = status->failureReason();
        captureFailed(m_systemCapture ? m_systemCapture->failureText() : std::string(reason ? reason : ""));
    }
}

// The capture held, or the one being opened, ended or could not start.
void AudioEngine::captureFailed(const std::string& reason)
{
    closeCapture();
    if (m_isRunning) {
        // Running, moving to another output or resuming: a lost server is
        // waited for; anything else ends capture.
        if (m_resuming || reason == AudioBackend::kServerLost) {
            m_resuming = true;
            setTransientError(QString::fromUtf8(kReconnecting));
            retryLater();
        } else {
            loseRunningCapture(QString::fromStdString(reason));
        }
    } else if (isSystemAudio(m_captureID)) {
        publish(m_lastError, QString::fromStdString(reason));
        m_lastErrorIsTransient = false;
    } else {
        failInputStart(reason);
    }
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
    if (!m_systemCapture || !m_isRunning || server.output.sink == m_systemCapture->sink())
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
    if (m_resuming && m_retries >= m_retryPolicy.attempts) {
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
    if (!m_resuming)
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
        if (m_resuming)
            openCapture(m_captureID, server);
        else
            m_retries = 0;
    });
}

void AudioEngine::loseRunningCapture(const QString& reason)
{
    closeCapture();
    m_resuming = false;
    m_retries = 0;
    setTransientError(reason);
    publish(m_isRunning, false);
}

void AudioEngine::setTransientError(const QString& text)
{
    publish(m_lastError, text);
    m_lastErrorIsTransient = true;
}

void AudioEngine::clearTransientError()
{
    if (!m_lastErrorIsTransient)
        return;
    publish(m_lastError, QString());
    m_lastErrorIsTransient = false;
}
