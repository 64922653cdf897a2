#include "audio/AudioEngine.h"

#include "audio/AudioDeviceManager.h"
#include "audio/AudioTapProcessor.h"
#include "audio/MainThreadWakeup.h"
#include "audio/PulseBackend.h"
#include "audio/SystemAudioCapture.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

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

AudioEngine::AudioEngine(QObject* parent) : AudioEngine(nullptr, parent) {}

AudioEngine::AudioEngine(std::shared_ptr<AudioBackend> backend, QObject* parent)
    : QObject(parent),
      m_backend(backend ? std::move(backend) : std::make_shared<PulseBackend>()),
      m_wakeup(new MainThreadWakeup(this)),
      m_serverNews(new MainThreadWakeup(this)),
      m_newsBatch(singleShotTimer(this, kNewsBatchMs)),
      m_retryTimer(singleShotTimer(this, kFirstRetryMs)),
      m_ringBuffer(std::make_shared<RingBuffer>(kRingCapacity, 2))
{
    connect(m_wakeup, &MainThreadWakeup::woken, this, &AudioEngine::handleCaptureNews);
    connect(m_serverNews, &MainThreadWakeup::woken, this, [this] {
        if (!m_newsBatch->isActive())
            m_newsBatch->start();
    });
    connect(m_newsBatch, &QTimer::timeout, this, &AudioEngine::handleServerNews);
    connect(m_retryTimer, &QTimer::timeout, this, &AudioEngine::retry);
    m_backend->watch([news = m_serverNews] { news->poke(); });
    refreshDevices();
    if (m_availableDevices.isEmpty())
        retryLater();  // no server yet: list its sources once one answers
}

AudioEngine::~AudioEngine()
{
    m_backend->watch(nullptr);
    closeCapture();
}

void AudioEngine::setSelectedDeviceID(uint32_t id) { publish(m_selectedDeviceID, id); }

bool AudioEngine::isStartPending() const
{
    return (m_systemCapture || m_tapProcessor) && !m_captureLive;
}

void AudioEngine::refreshDevices() { applyDevices(AudioDeviceManager::listInputDevices(*m_backend)); }

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
    if (m_selectedDeviceID == AudioDeviceInfo::kNoDeviceID)
        return;
    if (isSystemAudio(m_selectedDeviceID)) {
        if (!m_backend->serverReachable()) {
            publish(m_lastError, QString::fromLatin1(kNoSoundServer));
            m_lastErrorIsTransient = false;
            return;
        }
        publish(m_lastError, QString());
        m_lastErrorIsTransient = false;
    }
    openCapture(m_selectedDeviceID);
}

void AudioEngine::stop()
{
    // Closing a stream silences it at once, and a start still pending can no
    // longer complete.
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

// Starts, resumes or moves capture from source `id`. The outcome, at once or
// later, goes through handleCaptureNews.
void AudioEngine::openCapture(uint32_t id)
{
    closeCapture();
    m_captureID = id;
    if (isSystemAudio(id)) {
        m_systemCapture = std::make_unique<SystemAudioCapture>(
            m_ringBuffer, *m_backend, [wakeup = m_wakeup] { wakeup->poke(); });
        m_systemCapture->start();
    } else if (std::string error; !openInput(id, error)) {
        captureFailed(error);
        return;
    }
    handleCaptureNews();  // a server may answer before the open returns
}

bool AudioEngine::openInput(uint32_t id, std::string& error)
{
    const auto source = AudioDeviceManager::findInputSource(*m_backend, id);
    if (!source) {
        error = m_backend->serverReachable() ? kInputUnavailable : AudioBackend::kServerLost;
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

void AudioEngine::handleServerNews()
{
    auto devices = AudioDeviceManager::listInputDevices(*m_backend);
    if (devices.isEmpty()) {  // the server is gone: a running capture hears it from its stream
        if (!m_availableDevices.isEmpty())
            applyDevices({});
        retryLater();
        return;
    }
    if (devices != m_availableDevices)
        applyDevices(std::move(devices));
    followDefaultOutput();
}

// System audio records the default output's monitor, whichever sink that is
// now. A stream the user moved elsewhere stays there until the default changes.
void AudioEngine::followDefaultOutput()
{
    if (!m_systemCapture || !m_isRunning)
        return;
    const auto output = m_backend->defaultOutput();
    if (!output || output->sink == m_systemCapture->sink())
        return;  // no answer: the stream tells if the server is gone
    if (output->sink.empty())
        loseRunningCapture(QString::fromLatin1(AudioBackend::kNoOutputDevice));
    else
        openCapture(AudioDeviceInfo::kSystemAudioID);
}

void AudioEngine::retryLater()
{
    if (m_retryTimer->isActive())
        return;
    if (m_resuming && m_retries >= kResumeAttempts) {
        const bool serverBack = m_backend->serverReachable();
        loseRunningCapture(QString::fromLatin1(serverBack ? AudioBackend::kSourceLost : AudioBackend::kServerLost));
        if (serverBack)
            return;
    }
    m_retryTimer->start(std::min(kMaxRetryMs, kFirstRetryMs << std::min(m_retries, 8)));
    ++m_retries;
}

void AudioEngine::retry()
{
    if (!m_backend->serverReachable()) {
        retryLater();
        return;
    }
    handleServerNews();
    if (m_resuming)
        openCapture(m_captureID);
    else
        m_retries = 0;
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
