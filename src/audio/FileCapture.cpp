#include "audio/FileCapture.h"

#include "media/AudioFileDecoder.h"

#include <chrono>
#include <vector>

namespace {

// About half a second decoded ahead, and up to two seconds queued at the
// server and not yet heard (its latency can be that long on Bluetooth).
constexpr double kDecodedSeconds = 0.5;
constexpr double kQueuedSeconds = 2.0;
constexpr int64_t kDecodeChunk = 1024;

}  // namespace

// The playback stream's side, on the server's audio thread.
class FileCapture::Player final : public PlaybackCallbacks {
public:
    explicit Player(FileCapture& owner) : m_owner(owner), m_frames(static_cast<size_t>(3 * kDecodeChunk)) {}

    void render(float* out, int64_t frames, int64_t heardInNs) noexcept override
    {
        FileCapture& o = m_owner;
        int64_t got = 0;
        if (o.m_frameChannels == 2) {
            got = o.m_decoded->read(out, frames);
            o.m_heard->push(out, got, heardInNs);
        } else {
            // Z goes to the scope, not to the speakers.
            while (got < frames) {
                const int64_t n = o.m_decoded->read(m_frames.data(), std::min(frames - got, kDecodeChunk));
                if (n <= 0)
                    break;
                o.m_heard->push(m_frames.data(), n, heardInNs + static_cast<int64_t>(double(got) * 1e9 / o.m_rate));
                for (int64_t i = 0; i < n; ++i) {
                    out[2 * (got + i)] = m_frames[static_cast<size_t>(3 * i)];
                    out[2 * (got + i) + 1] = m_frames[static_cast<size_t>(3 * i + 1)];
                }
                got += n;
            }
        }
        if (got < frames && o.m_decodedAll.load(std::memory_order_acquire) && o.m_decoded->available() == 0)
            o.m_drained.store(true, std::memory_order_release);
        if (o.m_muted.load(std::memory_order_relaxed))
            std::fill(out, out + got * 2, 0.0f);
        std::fill(out + got * 2, out + frames * 2, 0.0f);
        if (got > 0)
            o.m_wake.notify_one();  // room for the decoder
    }
    void streamStarted(double rate) noexcept override { m_owner.m_receiver.streamStarted(rate); }
    void streamFailed(const char* reason) noexcept override { m_owner.m_receiver.streamFailed(reason); }

private:
    FileCapture& m_owner;
    std::vector<float> m_frames;  // left, right, Z: made before the stream runs
};

FileCapture::FileCapture(std::shared_ptr<RingBuffer> ringBuffer, AudioBackend& backend, std::string path,
                         int64_t startFrame, std::function<void()> statusChanged)
    : Capture(std::move(ringBuffer), statusChanged),
      m_backend(backend),
      m_path(std::move(path)),
      m_startFrame(std::max<int64_t>(0, startFrame)),
      m_statusChanged(statusChanged)
{
}

FileCapture::~FileCapture()
{
    stop();  // the stream first: no render runs after this
    m_quit.store(true);
    m_wake.notify_all();
    if (m_decodeThread.joinable())
        m_decodeThread.join();
    m_heard.reset();
}

void FileCapture::start(const ServerState&)
{
    std::string error;
    m_decoder = AudioFileDecoder::open(m_path, &error);
    if (!m_decoder) {
        m_receiver.failStart(error);
        return;
    }
    const AudioFileInfo& info = m_decoder->info();
    m_rate = info.sampleRate;
    m_channels = info.channels;
    m_length.store(info.frames);
    if (info.frames >= 0)
        m_startFrame = std::min(m_startFrame, info.frames);
    if (m_startFrame > 0 && !m_decoder->seek(m_startFrame)) {
        m_receiver.failStart(m_decoder->error());
        return;
    }
    m_frameChannels = m_channels >= 3 ? 3 : 2;
    m_decoded = std::make_unique<SampleFifo>(static_cast<int64_t>(m_rate * kDecodedSeconds) + kDecodeChunk,
                                             m_frameChannels);
    m_heard = std::make_unique<HeardQueue>(m_rate, kQueuedSeconds, m_receiver, m_frameChannels);

    m_player = std::make_unique<Player>(*this);
    m_decodeThread = std::thread([this] { decodeLoop(); });
    OpenResult opened = m_backend.openPlayback(m_rate, *m_player);
    if (!opened.stream) {
        m_receiver.failStart(opened.error);
        return;
    }
    m_stream = std::move(opened.stream);
}

void FileCapture::decodeLoop()
{
    const int channels = m_channels;
    std::vector<float> block(static_cast<size_t>(kDecodeChunk * channels));
    const int out = m_frameChannels;
    std::vector<float> frames(static_cast<size_t>(kDecodeChunk * out));
    while (!m_quit.load()) {
        if (m_decodedAll.load()) {
            // Looping turned on before the end was played: on from the start.
            if (m_looping.load() && !m_drained.load() && m_decoder->seek(0)) {
                m_decodedAll.store(false);
                continue;
            }
            // Stays to see the last frame heard: then playback is over.
            if (m_drained.load(std::memory_order_acquire) && m_heard->released() == m_heard->pushed()) {
                m_finished.store(true, std::memory_order_release);
                if (m_statusChanged)
                    m_statusChanged();
                return;
            }
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(HeardQueue::kReleaseIntervalMs * 2));
            continue;
        }
        {
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(20), [this] {
                return m_quit.load() || m_decoded->capacity() - m_decoded->available() >= kDecodeChunk;
            });
        }
        if (m_quit.load())
            return;
        if (m_decoded->capacity() - m_decoded->available() < kDecodeChunk)
            continue;
        const int64_t n = m_decoder->read(block.data(), kDecodeChunk);
        if (n < 0) {
            m_receiver.streamFailed(kReadFailed);
            return;
        }
        if (n == 0) {
            m_length.store(m_decoder->position());
            // A seamless loop: the first frame follows the last in the same queue.
            if (m_looping.load() && m_decoder->position() > 0 && m_decoder->seek(0))
                continue;
            m_decodedAll.store(true, std::memory_order_release);
            continue;
        }
        for (int64_t i = 0; i < n; ++i) {
            const float* frame = block.data() + i * channels;
            float* to = frames.data() + i * out;
            to[0] = frame[0];
            to[1] = frame[channels > 1 ? 1 : 0];
            if (out == 3)
                to[2] = frame[2];
        }
        m_decoded->write(frames.data(), n);
    }
}

int64_t FileCapture::position() const
{
    const int64_t heard = m_startFrame + (m_heard ? m_heard->released() : 0);
    const int64_t length = m_length.load(std::memory_order_relaxed);
    if (length <= 0)
        return heard;
    return m_looping.load(std::memory_order_relaxed) ? heard % length : std::min(heard, length);
}
