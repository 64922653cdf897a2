#include "video/VideoRender.h"

#include "audio/RingBuffer.h"
#include "audio/StereoConversion.h"
#include "media/AudioFileDecoder.h"
#include "media/VideoEncoder.h"
#include "renderer/BeamModel.h"
#include "renderer/ScopeFrameCore.h"
#include "renderer/ScopeRenderer.h"
#include "video/HeadlessGl.h"
#include "video/RendererSettings.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A colour texture and its framebuffer: where each frame is drawn.
class Target {
public:
    Target(GlFunctions& gl, int width, int height) : m_gl(gl)
    {
        gl.glGenTextures(1, &m_texture);
        gl.glBindTexture(GL_TEXTURE_2D, m_texture);
        gl.glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, width, height);
        gl.glBindTexture(GL_TEXTURE_2D, 0);
        gl.glGenFramebuffers(1, &m_framebuffer);
        gl.glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
        gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_texture, 0);
        m_complete = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    }
    ~Target()
    {
        m_gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
        m_gl.glDeleteFramebuffers(1, &m_framebuffer);
        m_gl.glDeleteTextures(1, &m_texture);
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    bool complete() const { return m_complete; }
    GLuint framebuffer() const { return m_framebuffer; }

private:
    GlFunctions& m_gl;
    GLuint m_texture = 0;
    GLuint m_framebuffer = 0;
    bool m_complete = false;
};

// The picture's light over a transparent background: how far each pixel
// rose above the dark background becomes its colour and, by its strongest
// channel, its opacity. Over that background it looks as drawn.
void makeTransparent(uint8_t* rgba, size_t pixels)
{
    const int background = static_cast<int>(std::lround(beam::kBackground * 255.0f));
    for (size_t i = 0; i < pixels; ++i, rgba += 4) {
        int lit[3];
        int alpha = 0;
        for (int c = 0; c < 3; ++c) {
            lit[c] = std::max(0, rgba[c] - background) * 255 / (255 - background);
            alpha = std::max(alpha, lit[c]);
        }
        for (int c = 0; c < 3; ++c)
            rgba[c] = static_cast<uint8_t>(alpha > 0 ? (lit[c] * 255 + alpha / 2) / alpha : 0);
        rgba[3] = static_cast<uint8_t>(alpha);
    }
}

// Reads up to `frames` frames of the file into `scratch` as they are, and
// as stereo for the sound track (mono on both sides, channels past the
// second left out); fewer only at its end. -1 on a read error.
int64_t readStereo(AudioFileDecoder& decoder, std::vector<float>& scratch, float* stereo, int64_t frames)
{
    const int channels = decoder.info().channels;
    scratch.resize(static_cast<size_t>(frames * channels));
    int64_t got = 0;
    while (got < frames) {
        const int64_t n = decoder.read(scratch.data() + got * channels, frames - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += n;
    }
    for (int64_t i = 0; i < got; ++i) {
        const float* in = scratch.data() + i * channels;
        stereo[2 * i] = in[0];
        stereo[2 * i + 1] = channels > 1 ? in[1] : in[0];
    }
    return got;
}

// Frames on their way to the encoder, on a thread of its own: encoding one
// frame overlaps with drawing the next, so both cores work. A few slots
// circulate between the two threads; nothing else is allocated per frame.
class EncodeStage {
public:
    struct Slot {
        std::vector<uint8_t> pixels;  // as read back: rows bottom-up
        std::vector<float> stereo;
        int64_t frames = 0;
    };

    EncodeStage(VideoEncoder& encoder, int width, int height, bool transparent)
        : m_encoder(encoder), m_width(width), m_height(height), m_transparent(transparent)
    {
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
        for (Slot& slot : m_slots) {
            slot.pixels.resize(bytes);
            slot.stereo.resize(static_cast<size_t>(2 * ScopeFrameCore::scratchSize));
            m_free.push_back(&slot);
        }
        m_picture.resize(bytes);
        m_thread = std::thread([this] { work(); });
    }
    ~EncodeStage() { stop(); }

    // A slot to fill; waits while every slot is queued. Null once encoding failed.
    Slot* acquire()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_free.empty() || m_failed; });
        if (m_failed)
            return nullptr;
        Slot* slot = m_free.back();
        m_free.pop_back();
        return slot;
    }
    void submit(Slot* slot)
    {
        {
            std::lock_guard lock(m_mutex);
            m_queued.push_back(slot);
        }
        m_changed.notify_all();
    }
    // Waits until every queued frame is encoded, and ends the thread. False
    // when one failed (the encoder says why).
    bool drain()
    {
        stop();
        return !m_failed;
    }
    // Seconds spent putting rows top-down (and making them transparent).
    double arrangeSeconds() const { return m_arrange; }

private:
    void stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void work()
    {
        const size_t rowBytes = static_cast<size_t>(m_width) * 4;
        for (;;) {
            Slot* slot = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return !m_queued.empty() || m_quit; });
                if (m_queued.empty())
                    return;  // quit, and nothing left to encode
                slot = m_queued.front();
                m_queued.pop_front();
            }
            const auto clock = Clock::now();
            for (int y = 0; y < m_height; ++y)  // GL's rows run bottom-up
                std::memcpy(m_picture.data() + static_cast<size_t>(y) * rowBytes,
                            slot->pixels.data() + static_cast<size_t>(m_height - 1 - y) * rowBytes, rowBytes);
            if (m_transparent)
                makeTransparent(m_picture.data(), m_picture.size() / 4);
            m_arrange += since(clock);
            const bool ok = m_encoder.writeFrame(m_picture.data(), static_cast<int>(rowBytes)) &&
                            m_encoder.writeAudio(slot->stereo.data(), slot->frames);
            {
                std::lock_guard lock(m_mutex);
                m_free.push_back(slot);
                if (!ok) {
                    m_failed = true;
                    m_queued.clear();
                }
            }
            m_changed.notify_all();
            if (!ok)
                return;
        }
    }

    VideoEncoder& m_encoder;
    const int m_width;
    const int m_height;
    const bool m_transparent;
    std::array<Slot, 3> m_slots;
    std::vector<uint8_t> m_picture;  // the worker's, top-down
    double m_arrange = 0;            // the worker's until it ends
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Slot*> m_free;
    std::deque<Slot*> m_queued;
    bool m_quit = false;
    bool m_failed = false;
    std::thread m_thread;  // last: starts once everything above is ready
};

RenderOutcome failed(std::string error)
{
    RenderOutcome outcome;
    outcome.error = std::move(error);
    return outcome;
}

}  // namespace

std::string VideoRender::check(const VideoRenderJob& job)
{
    if (job.width < 16 || job.height < 16 || job.width > VideoRenderJob::kMaxWidth ||
        job.height > VideoRenderJob::kMaxHeight || job.width % 2 != 0 || job.height % 2 != 0)
        return "The size must be even, from 16x16 up to 3840x2160";
    if (job.fps != 30 && job.fps != 60 && job.fps != 120)
        return "The frame rate must be 30, 60 or 120";
    if (!std::isfinite(job.from) || job.from < 0 || std::isnan(job.to) || (job.to >= 0 && job.to <= job.from))
        return "The span must start at 0 s or later and end after it starts";
    const VideoKind kind = videoKindOf(job.output);
    if (kind == VideoKind::unknown)
        return "The output must end in .mp4, .mkv or .webm, or be a numbered .png pattern such as frames/%06d.png";
    if (job.transparent && kind != VideoKind::webm && kind != VideoKind::pngSequence)
        return "Only .webm and .png sequences can be transparent";
    return {};
}

RenderOutcome VideoRender::run(const VideoRenderJob& job, const Progress& progress, const std::atomic<bool>& cancel)
{
    if (std::string why = check(job); !why.empty())
        return failed(why);
    std::error_code ignored;
    if (!job.overwrite && videoKindOf(job.output) != VideoKind::pngSequence &&
        std::filesystem::exists(job.output, ignored))
        return failed(job.output + " already exists (-y overwrites it)");
    std::string error;
    const auto decoder = AudioFileDecoder::open(job.input, &error);
    if (!decoder)
        return failed(error);
    const int64_t rate = decoder->info().sampleRate;
    // Every frame's samples are drawn in one go.
    if ((rate + job.fps - 1) / job.fps > ScopeFrameCore::scratchSize)
        return failed("The file's sample rate is too high for " + std::to_string(job.fps) + " frames per second");
    const int64_t start = std::llround(job.from * static_cast<double>(rate));
    const int64_t length = decoder->info().frames;
    int64_t end = job.to >= 0 ? std::llround(job.to * static_cast<double>(rate)) : length;
    if (length >= 0 && end > length)
        end = length;
    if (length >= 0 && start >= length)
        return failed("The span starts after the file's end");
    if (start > 0 && !decoder->seek(start))
        return failed(decoder->error());
    const int64_t total = end >= 0 ? ((end - start) * job.fps + rate - 1) / rate : -1;

    const auto gl = HeadlessGl::create(&error);
    if (!gl)
        return failed(error);
    std::unique_ptr<GlFunctions> functions = gl->functions();
    if (!functions)
        return failed("The headless OpenGL context lacks OpenGL 4.3");
    GlFunctions& f = *functions;
    const auto ring = std::make_shared<RingBuffer>(ScopeFrameCore::scratchSize, 3);  // left, right, Z
    StereoBlockWriter toRing;
    QString rendererError;
    const auto renderer = ScopeRenderer::create(std::move(functions), ring, &rendererError);
    if (!renderer)
        return failed("The scope could not be drawn: " + rendererError.toStdString());
    applyDisplaySettings(*renderer, job.settings, static_cast<double>(rate));
    renderer->core().paced = false;
    renderer->resize(job.width, job.height);
    const Target target(f, job.width, job.height);
    if (!target.complete() || !renderer->scopeTexture())
        return failed("No picture of " + std::to_string(job.width) + "x" + std::to_string(job.height) +
                      " could be made");

    // A video is written beside its place and moved there once complete: a
    // render that fails or is stopped leaves a file it was to replace as it was.
    const std::filesystem::path output(job.output);
    const bool sequence = videoKindOf(job.output) == VideoKind::pngSequence;
    const std::filesystem::path writing =
        sequence ? output
                 : output.parent_path() / ("." + output.stem().string() + ".partial" + output.extension().string());
    VideoFormatOptions format;
    format.path = writing.string();
    format.width = job.width;
    format.height = job.height;
    format.fps = job.fps;
    format.crf = job.crf;
    format.transparent = job.transparent;
    format.audioRate = static_cast<int>(rate);
    format.audioChannels = 2;
    auto encoder = VideoEncoder::open(format, &error);
    if (!encoder)
        return failed(error);

    RenderOutcome outcome;
    EncodeStage stage(*encoder, job.width, job.height, job.transparent);
    std::vector<float> scratch;
    for (int64_t k = 0;; ++k) {
        if (cancel.load()) {
            outcome.cancelled = true;
            return outcome;  // the encoder, unfinished, takes the output with it
        }
        // The span's samples up to this frame's end, less those drawn.
        int64_t want = ((k + 1) * rate) / job.fps - (k * rate) / job.fps;
        if (end >= 0)
            want = std::min(want, end - start - (k * rate) / job.fps);
        if (want <= 0)
            break;
        EncodeStage::Slot* slot = stage.acquire();
        if (!slot)
            break;  // the encoder failed: said below
        auto clock = Clock::now();
        const int64_t got = readStereo(*decoder, scratch, slot->stereo.data(), want);
        outcome.times.decode += since(clock);
        if (got < 0)
            return failed(decoder->error());
        if (got == 0)
            break;
        const int channels = decoder->info().channels;
        toRing.write(AudioBlock{scratch.data(), got * channels, channels, false}, *ring);
        slot->frames = got;

        clock = Clock::now();
        renderer->draw(target.framebuffer(), job.width, job.height);
        f.glFinish();
        outcome.times.draw += since(clock);
        clock = Clock::now();
        f.glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer());
        f.glPixelStorei(GL_PACK_ALIGNMENT, 4);
        f.glReadPixels(0, 0, job.width, job.height, GL_RGBA, GL_UNSIGNED_BYTE, slot->pixels.data());
        outcome.times.readBack += since(clock);
        stage.submit(slot);
        outcome.frames = k + 1;
        if (progress)
            progress(outcome.frames, total);
        if (got < want)
            break;  // the file ended early
    }
    if (!stage.drain() || !encoder->finish())
        return failed(encoder->error());
    if (!sequence) {
        std::error_code moved;
        std::filesystem::rename(writing, output, moved);
        if (moved) {
            std::filesystem::remove(writing, moved);
            return failed("The video could not be put at " + job.output);
        }
    }
    outcome.times.readBack += stage.arrangeSeconds();
    outcome.times.convert = encoder->conversionSeconds();
    outcome.times.encode = encoder->encodingSeconds();
    outcome.ok = true;
    return outcome;
}
