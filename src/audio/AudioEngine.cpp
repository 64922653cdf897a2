#include "audio/AudioEngine.h"

#include "audio/AudioDeviceManager.h"
#include "audio/AudioTapProcessor.h"
#include "audio/MainThreadWakeup.h"
#include "audio/PulseBackend.h"
#include "audio/SystemAudioCapture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

AudioEngine::AudioEngine(QObject* parent) : AudioEngine(nullptr, parent) {}

AudioEngine::AudioEngine(std::shared_ptr<AudioBackend> backend, QObject* parent)
    : QObject(parent),
      m_backend(backend ? std::move(backend) : std::make_shared<PulseBackend>()),
      m_wakeup(new MainThreadWakeup(this)),
      m_ringBuffer(std::make_shared<RingBuffer>(kRingCapacity, 2))
{
    connect(m_wakeup, &MainThreadWakeup::woken, this, &AudioEngine::handleCaptureNews);
    refreshDevices();
}

AudioEngine::~AudioEngine()
{
    m_systemCapture.reset();
    stopInputPath();
}

void AudioEngine::setSelectedDeviceID(uint32_t id) { publish(m_selectedDeviceID, id); }

bool AudioEngine::isStartPending() const { return m_systemCapture && !m_isRunning; }

void AudioEngine::refreshDevices()
{
    publish(m_availableDevices, AudioDeviceManager::listInputDevices(*m_backend));

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
    if (m_isRunning || m_systemCapture)
        return;
    if (m_selectedDeviceID == AudioDeviceInfo::kNoDeviceID)
        return;
    if (m_selectedDeviceID < AudioDeviceInfo::kSystemAudioID)
        startInputDevice();
    else
        startSystemAudio();
}

void AudioEngine::stop()
{
    if (m_systemCapture) {
        // Closing the stream silences it at once, and a start still pending
        // can no longer complete.
        m_systemCapture->stop();
        m_systemCapture.reset();
    }
    stopInputPath();
    publish(m_isRunning, false);
}

void AudioEngine::stopInputPath()
{
    if (!m_tapProcessor)
        return;
    m_tapProcessor->stop();
    m_inputStream.reset();  // no callback runs after this
    m_tapProcessor.reset();
}

int AudioEngine::fragmentFrames() const
{
    return std::clamp(m_bufferSize, kMinFragmentFrames, kMaxFragmentFrames);
}

void AudioEngine::startInputDevice()
{
    stopInputPath();
    const auto source = AudioDeviceManager::findInputSource(*m_backend, m_selectedDeviceID);
    if (!source) {
        failInputStart(m_backend->serverReachable() ? "The selected input device is not available"
                                                    : "No sound server is reachable");
        return;
    }
    if (!std::isfinite(source->sampleRate) || source->sampleRate < 1.0) {
        failInputStart("The input device reports no usable sample rate");
        return;
    }
    // Published before the stream opens, as the renderer may read it at once.
    publish(m_sampleRate, source->sampleRate);

    auto processor = std::make_unique<AudioTapProcessor>(
        m_ringBuffer, [wakeup = m_wakeup] { wakeup->poke(); });
    const InputStreamRequest request{source->name, source->sampleRate,
                                     std::min(source->channels, 2), fragmentFrames()};
    OpenResult opened = m_backend->openInput(request, *processor);
    if (!opened.stream) {
        failInputStart(opened.error.empty() ? std::string("The input stream could not be opened")
                                            : opened.error);
        return;
    }
    m_tapProcessor = std::move(processor);
    m_inputStream = std::move(opened.stream);
    clearLostStreamError();
    publish(m_isRunning, true);
}

void AudioEngine::failInputStart(const std::string& reason)
{
    std::string line = "AudioEngine failed to start: " + reason;
    std::replace(line.begin(), line.end(), '\n', ' ');  // exactly one line
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout);
}

void AudioEngine::startSystemAudio()
{
    if (!m_backend->serverReachable()) {
        publish(m_lastError, QString::fromLatin1(kNoSoundServer));
        m_lastErrorIsLostStream = false;
        return;
    }
    m_systemCapture = std::make_unique<SystemAudioCapture>(
        m_ringBuffer, *m_backend, [wakeup = m_wakeup] { wakeup->poke(); });
    publish(m_lastError, QString());
    m_lastErrorIsLostStream = false;
    m_systemCapture->start();  // the outcome arrives in handleCaptureNews
}

void AudioEngine::handleCaptureNews()
{
    if (m_systemCapture) {
        switch (m_systemCapture->status().state()) {
        case StreamStatus::State::starting:
            break;
        case StreamStatus::State::running:
            if (!m_isRunning) {
                publish(m_sampleRate, m_systemCapture->capturedSampleRate());
                clearLostStreamError();
                publish(m_isRunning, true);
            }
            break;
        case StreamStatus::State::failed: {
            const QString reason = QString::fromStdString(m_systemCapture->failureText());
            if (m_isRunning) {
                loseRunningCapture(reason);
            } else {
                publish(m_lastError, reason);
                m_lastErrorIsLostStream = false;
                m_systemCapture.reset();
            }
            break;
        }
        }
    }
    if (m_tapProcessor && m_tapProcessor->status().state() == StreamStatus::State::failed)
        loseRunningCapture(QString::fromUtf8(m_tapProcessor->status().failureReason()));
}

void AudioEngine::loseRunningCapture(const QString& reason)
{
    m_systemCapture.reset();
    stopInputPath();
    publish(m_lastError, reason);
    m_lastErrorIsLostStream = true;
    publish(m_isRunning, false);
}

void AudioEngine::clearLostStreamError()
{
    if (!m_lastErrorIsLostStream)
        return;
    publish(m_lastError, QString());
    m_lastErrorIsLostStream = false;
}
