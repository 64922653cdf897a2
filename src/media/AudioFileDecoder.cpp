#include "media/AudioFileDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// How long a call may go without a decoded frame: ample for a slow disk, short
// enough that a hostile file cannot hang playback.
constexpr auto kStallLimit = std::chrono::seconds(2);
// Consecutive undecodable packets after which the stream counts as broken.
constexpr int kMaxBadPackets = 64;
// Decoding starts this far before a lossy seek target, so that the codec's
// overlap and bit reservoir have settled by the target.
constexpr double kLossyPrerollSeconds = 0.1;
// Forward seeks up to this long decode through instead of asking the demuxer.
constexpr double kDecodeThroughSeconds = 0.25;
// Probing reads no more than this; bounds open()'s time and memory.
constexpr int64_t kProbeBytes = 2 << 20;
constexpr size_t kMaxTitle = 1024;

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string errnoReason(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR: return "File not found";
    case EACCES:
    case EPERM: return "Permission denied";
    case EISDIR: return "Is a folder";
    default: return std::strerror(err);
    }
}

// The checks FFmpeg would answer with a vague "Invalid argument", or not at
// all: a FIFO or a device would block or never end.
std::string checkPath(const std::string& path, int64_t* size)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errnoReason(errno);
    if (S_ISDIR(st.st_mode))
        return "Is a folder";
    if (!S_ISREG(st.st_mode))
        return "Not a regular file";
    if (st.st_size == 0)
        return "Empty file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errnoReason(errno);
    ::close(fd);
    *size = st.st_size;
    return {};
}

// A picture or text that a demuxer took for a one-stream video.
bool notAMovie(const AVFormatContext* fmt)
{
    const char* name = fmt->iformat ? fmt->iformat->name : "";
    if (std::strstr(name, "_pipe") || !std::strcmp(name, "image2") || !std::strcmp(name, "gif")
        || !std::strcmp(name, "apng") || !std::strcmp(name, "tty"))
        return true;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return false;
    }
    return true;
}

bool isFloatFormat(int format)
{
    return format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP || format == AV_SAMPLE_FMT_DBL
        || format == AV_SAMPLE_FMT_DBLP;
}

} // namespace

struct AudioFileDecoder::Impl {
    using IoOpen = int (*)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**);

    AVFormatContext* fmt = nullptr;
    AVCodecContext* dec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    AVRational timeBase{0, 1};
    IoOpen defaultIoOpen = nullptr;
    bool mainOpened = false;
    Clock::time_point deadline;
    int64_t openSize = 0;
    bool lossy = true;
    int64_t preroll = 0;

    AudioFileInfo info;
    std::string error;
    bool failed = false;
    bool flushed = false; // the demuxer is at its end and the decoder was told
    int badPackets = 0;

    // The converted frame being handed out: frames [pendingStart, pendingStart + pendingFrames).
    std::vector<float> pending;
    int64_t pendingFrames = 0;
    int64_t pendingPos = 0;
    int64_t pendingStart = 0;
    int64_t position = 0;
    int64_t nextIndex = 0;             // where the next decoded frame goes, by counting
    int64_t originPts = AV_NOPTS_VALUE; // timestamp of frame 0
    int64_t firstPacketPts = AV_NOPTS_VALUE;
    bool placeByPts = false;           // after a demuxer seek: place frames by their timestamps
    int64_t placeFallback = 0;         // ... or here, when it has none

    AVChannelLayout swrLayout{};
    int swrFormat = -1;
    int swrRate = 0;
    AVChannelLayout outLayout{}; // for frames whose channel count differs from info.channels

    ~Impl()
    {
        swr_free(&swr);
        av_frame_free(&frame);
        av_packet_free(&pkt);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
        av_channel_layout_uninit(&swrLayout);
        av_channel_layout_uninit(&outLayout);
    }

    void restartClock() { deadline = Clock::now() + kStallLimit; }

    int fail(std::string why)
    {
        error = std::move(why);
        failed = true;
        return -1;
    }

    static int interrupted(void* opaque) { return Clock::now() > static_cast<Impl*>(opaque)->deadline; }

    // The file itself and nothing else: playlists, concat lists and image
    // sequences would otherwise open whatever paths they name.
    static int openOnce(AVFormatContext* s, AVIOContext** pb, const char* url, int flags, AVDictionary** options)
    {
        auto* self = static_cast<Impl*>(s->opaque);
        if (self->mainOpened)
            return AVERROR(EPERM);
        self->mainOpened = true;
        return self->defaultIoOpen(s, pb, url, flags, options);
    }

    std::string openFile(const std::string& path);
    std::string openDecoder();
    int receive();
    bool convert();
    int nextFrame();
    bool skipTo(int64_t target);
    bool seek(int64_t target);
    int64_t read(float* out, int64_t maxFrames);
};

std::string AudioFileDecoder::Impl::openFile(const std::string& path)
{
    if (std::string why = checkPath(path, &openSize); !why.empty())
        return why;

    fmt = avformat_alloc_context();
    if (!fmt)
        return "Out of memory";
    fmt->interrupt_callback = {&Impl::interrupted, this};
    fmt->opaque = this;
    defaultIoOpen = fmt->io_open;
    fmt->io_open = &Impl::openOnce;
    fmt->probesize = kProbeBytes;
    fmt->max_analyze_duration = 2 * AV_TIME_BASE;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    restartClock();
    // "file:" so that a name like "concat:a|b" is never taken for a protocol.
    const int opened = avformat_open_input(&fmt, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        fmt = nullptr; // freed by avformat_open_input
        // No demuxer took it (some say so as "invalid argument").
        if (opened == AVERROR_INVALIDDATA || opened == AVERROR(EINVAL))
            return "Not an audio file";
        if (opened == AVERROR_EXIT)
            return "The file takes too long to read";
        if (opened == AVERROR(ENOENT) || opened == AVERROR(EACCES) || opened == AVERROR(EISDIR))
            return errnoReason(AVUNERROR(opened));
        return "Cannot open the file (" + avError(opened) + ")";
    }
    if (avformat_find_stream_info(fmt, nullptr) == AVERROR_EXIT)
        return "The file takes too long to read";

    const AVCodec* codec = nullptr;
    stream = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream == AVERROR_DECODER_NOT_FOUND) {
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
                return std::string("Unsupported audio codec (") + avcodec_get_name(fmt->streams[i]->codecpar->codec_id)
                    + ")";
    }
    if (stream < 0)
        return notAMovie(fmt) ? "Not an audio file" : "No audio stream";
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (static_cast<int>(i) != stream)
            fmt->streams[i]->discard = AVDISCARD_ALL;

    const AVStream* st = fmt->streams[stream];
    const AVCodecParameters* par = st->codecpar;
    timeBase = st->time_base;
    if (timeBase.num <= 0 || timeBase.den <= 0)
        return "Not an audio file";
    if (par->sample_rate < kMinSampleRate || par->sample_rate > kMaxSampleRate)
        return "Unsupported sample rate " + std::to_string(par->sample_rate) + " Hz";
    if (par->ch_layout.nb_channels > kMaxChannels)
        return "Too many channels (" + std::to_string(par->ch_layout.nb_channels) + ")";

    dec = avcodec_alloc_context3(codec);
    if (!dec || avcodec_parameters_to_context(dec, par) < 0)
        return "Out of memory";
    dec->pkt_timebase = timeBase;
    dec->thread_count = 1; // one decoder per playing file; threads would only add latency
    if (avcodec_open2(dec, codec, nullptr) < 0)
        return std::string("Cannot decode ") + codec->name + " audio";
    pkt = av_packet_alloc();
    frame = av_frame_alloc();
    if (!pkt || !frame)
        return "Out of memory";

    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(par->codec_id);
    lossy = !descriptor || !(descriptor->props & AV_CODEC_PROP_LOSSLESS);
    info.codec = avcodec_get_name(par->codec_id);
    const AVDictionaryEntry* title = av_dict_get(fmt->metadata, "title", nullptr, 0);
    if (!title)
        title = av_dict_get(st->metadata, "title", nullptr, 0);
    if (title)
        info.title.assign(title->value, std::min(std::strlen(title->value), kMaxTitle));
    return openDecoder();
}

// Decodes the first frame: what it holds, not what the header claims, is
// what read() delivers, and its timestamp (after the codec's start padding)
// is frame 0's.
std::string AudioFileDecoder::Impl::openDecoder()
{
    const AVCodecParameters* par = fmt->streams[stream]->codecpar;
    info.sampleRate = par->sample_rate;
    info.channels = par->ch_layout.nb_channels;
    const int got = receive();
    if (got < 0)
        return error;
    if (got > 0) {
        info.sampleRate = frame->sample_rate;
        info.channels = frame->ch_layout.nb_channels;
        originPts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    } else if (badPackets > 0) {
        return "Corrupt audio data";
    }
    if (info.sampleRate < kMinSampleRate || info.sampleRate > kMaxSampleRate)
        return "Unsupported sample rate " + std::to_string(info.sampleRate) + " Hz";
    if (info.channels > kMaxChannels)
        return "Too many channels (" + std::to_string(info.channels) + ")";
    if (info.channels <= 0)
        return "Not an audio file";
    av_channel_layout_default(&outLayout, info.channels);
    if (got > 0 && !convert())
        return "Corrupt audio data";

    const AVStream* st = fmt->streams[stream];
    const AVRational perFrame{1, info.sampleRate};
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
        info.frames = av_rescale_q(st->duration, timeBase, perFrame);
        // Ogg's length counts the samples the codec drops at the start (Opus's pre-skip).
        if (!std::strcmp(fmt->iformat->name, "ogg") && par->initial_padding > 0)
            info.frames = std::max<int64_t>(info.frames - par->initial_padding, 0);
    }
    else if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        info.frames = av_rescale(fmt->duration, info.sampleRate, AV_TIME_BASE);
    if (info.frames >= 0)
        info.seconds = static_cast<double>(info.frames) / info.sampleRate;
    // A guess from the bit rate is good enough to show, not to end on.
    if (fmt->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
        info.frames = -1;

    preroll = lossy ? std::max<int64_t>(static_cast<int64_t>(kLossyPrerollSeconds * info.sampleRate),
                                        par->seek_preroll > 0 ? par->seek_preroll : 0)
                    : 0;
    // Ogg dates the packets of the page a seek lands on from a guess at the
    // first one's length, which for Vorbis depends on the packet before it:
    // start a page (ffmpeg writes a second's worth) early, so that the
    // target's frame is dated by the next page.
    if (par->codec_id == AV_CODEC_ID_VORBIS)
        preroll = std::max<int64_t>(preroll, info.sampleRate * 3 / 2);
    failed = false;
    error.clear();
    return {};
}

// The next decoded frame into `frame`: 1, or 0 at the end, or -1 with error set.
int AudioFileDecoder::Impl::receive()
{
    for (;;) {
        if (Clock::now() > deadline)
            return fail("The file takes too long to read");
        int r = avcodec_receive_frame(dec, frame);
        if (r == 0) {
            if (frame->nb_samples > 0)
                return 1;
            continue;
        }
        if (r == AVERROR_EOF)
            return 0;
        if (r != AVERROR(EAGAIN)) {
            if (++badPackets > kMaxBadPackets)
                return fail("Corrupt audio data");
            continue;
        }
        if (flushed)
            return 0;

        r = av_read_frame(fmt, pkt);
        if (r < 0) {
            if (r == AVERROR_EXIT)
                return fail("The file takes too long to read");
            if (fmt->pb && fmt->pb->error < 0 && fmt->pb->error != AVERROR_EOF)
                return fail("Cannot read the file (" + avError(fmt->pb->error) + ")");
            if (r != AVERROR_EOF && !(fmt->pb && avio_feof(fmt->pb))) {
                if (++badPackets > kMaxBadPackets)
                    return fail("Corrupt audio data");
                continue;
            }
            const int64_t size = fmt->pb ? avio_size(fmt->pb) : -1;
            if (size >= 0 && size < openSize)
                return fail("The file was truncated while playing");
            flushed = true;
            avcodec_send_packet(dec, nullptr);
            continue;
        }
        if (pkt->stream_index == stream) {
            if (firstPacketPts == AV_NOPTS_VALUE)
                firstPacketPts = pkt->pts;
            r = avcodec_send_packet(dec, pkt);
            if (r < 0 && r != AVERROR(EAGAIN) && ++badPackets > kMaxBadPackets) {
                av_packet_unref(pkt);
                return fail("Corrupt audio data");
            }
        }
        av_packet_unref(pkt);
    }
}

// `frame` as interleaved float32 into `pending`; false drops the frame.
bool AudioFileDecoder::Impl::convert()
{
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || channels > kMaxChannels || frame->sample_rate <= 0)
        return false;
    if (!swr || frame->format != swrFormat || frame->sample_rate != swrRate
        || av_channel_layout_compare(&frame->ch_layout, &swrLayout) != 0) {
        swr_free(&swr);
        // The same layout in and out whenever the count fits: never a remix,
        // whatever order (or none) the file names its channels in.
        AVChannelLayout* out = channels == info.channels ? &frame->ch_layout : &outLayout;
        if (swr_alloc_set_opts2(&swr, out, AV_SAMPLE_FMT_FLT, frame->sample_rate, &frame->ch_layout,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr)
                < 0
            || swr_init(swr) < 0) {
            swr_free(&swr);
            return false;
        }
        av_channel_layout_uninit(&swrLayout);
        if (av_channel_layout_copy(&swrLayout, &frame->ch_layout) < 0) {
            swr_free(&swr);
            return false;
        }
        swrFormat = frame->format;
        swrRate = frame->sample_rate;
    }
    pending.resize(static_cast<size_t>(frame->nb_samples) * static_cast<size_t>(info.channels));
    auto* out = reinterpret_cast<uint8_t*>(pending.data());
    const int n = swr_convert(swr, &out, frame->nb_samples, const_cast<const uint8_t**>(frame->extended_data),
                              frame->nb_samples);
    if (n <= 0)
        return false;
    // A float file may hold NaN or infinity; one would poison every filter downstream.
    if (isFloatFormat(frame->format))
        for (size_t i = 0, end = static_cast<size_t>(n) * static_cast<size_t>(info.channels); i < end; ++i)
            if (!std::isfinite(pending[i]))
                pending[i] = 0.0f;

    int64_t start = nextIndex;
    if (placeByPts) {
        const int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
        int64_t sinceOrigin = 0;
        if (pts != AV_NOPTS_VALUE && originPts != AV_NOPTS_VALUE
            && !__builtin_sub_overflow(pts, originPts, &sinceOrigin))
            start = av_rescale_q_rnd(sinceOrigin, timeBase, AVRational{1, info.sampleRate},
                                     static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
        else if (nextIndex < 0)
            start = placeFallback;
    }
    pendingStart = start;
    pendingFrames = n;
    pendingPos = 0;
    nextIndex = start + n;
    badPackets = 0;
    restartClock();
    return true;
}

// 1 with a new frame pending, 0 at the end, -1 on error.
int AudioFileDecoder::Impl::nextFrame()
{
    for (;;) {
        const int got = receive();
        if (got <= 0)
            return got;
        if (convert())
            return 1;
        if (++badPackets > kMaxBadPackets)
            return fail("Corrupt audio data");
    }
}

// Decodes and drops up to `target`; the position ends there, or at the end,
// or at the first frame when decoding resumed past `target`.
bool AudioFileDecoder::Impl::skipTo(int64_t target)
{
    for (;;) {
        if (pendingPos < pendingFrames) {
            const int64_t at = pendingStart + pendingPos;
            const int64_t drop = std::clamp<int64_t>(target - at, 0, pendingFrames - pendingPos);
            pendingPos += drop;
            if (pendingPos < pendingFrames) {
                position = at + drop;
                placeByPts = false;
                return true;
            }
        }
        const int got = nextFrame();
        if (got < 0)
            return false;
        if (got == 0) {
            pendingFrames = pendingPos = 0;
            position = std::min(nextIndex, target);
            placeByPts = false;
            return true;
        }
    }
}

bool AudioFileDecoder::Impl::seek(int64_t target)
{
    restartClock();
    target = std::max<int64_t>(target, 0);
    if (info.frames >= 0)
        target = std::min(target, info.frames);
    const auto hop = static_cast<int64_t>(kDecodeThroughSeconds * info.sampleRate);
    if (!failed && target >= position && target - position <= hop)
        return skipTo(target);

    // Lossy streams may resume late (an Ogg page, a byte-estimated MP3
    // frame): seek earlier until the first frame starts at or before target.
    for (int attempt = 0;; ++attempt) {
        const int64_t back = attempt == 0 ? preroll : std::max<int64_t>(preroll, info.sampleRate / 10) << attempt;
        const int64_t from = std::max<int64_t>(target - back, 0);
        const int64_t origin = originPts != AV_NOPTS_VALUE ? originPts : 0;
        int64_t maxTs = 0;
        if (__builtin_add_overflow(origin, av_rescale_q(from, AVRational{1, info.sampleRate}, timeBase), &maxTs))
            return fail("Cannot seek in this file");
        // Frame 0 is reached from the very first packet (an AAC priming
        // packet comes before timestamp 0), where the demuxer applies the
        // codec's start padding again.
        const int64_t first = firstPacketPts != AV_NOPTS_VALUE ? firstPacketPts : 0;
        const int64_t ts = from == 0 ? std::min(origin, first) : maxTs;
        int r = avformat_seek_file(fmt, stream, INT64_MIN, ts, maxTs, 0);
        if (r < 0)
            r = av_seek_frame(fmt, stream, ts, AVSEEK_FLAG_BACKWARD);
        if (r < 0)
            return fail("Cannot seek in this file");
        avcodec_flush_buffers(dec);
        failed = flushed = false;
        badPackets = 0;
        pendingFrames = pendingPos = 0;
        placeByPts = true;
        placeFallback = from;
        nextIndex = -1;
        const int got = nextFrame();
        if (got < 0)
            return false;
        if (got == 0) {
            nextIndex = position = target;
            placeByPts = false;
            error.clear();
            return true;
        }
        if (pendingStart <= target || from == 0 || attempt == 3)
            break;
    }
    if (!skipTo(target))
        return false;
    error.clear();
    return true;
}

int64_t AudioFileDecoder::Impl::read(float* out, int64_t maxFrames)
{
    restartClock();
    int64_t written = 0;
    while (written < maxFrames) {
        if (pendingPos < pendingFrames) {
            const int64_t n = std::min(maxFrames - written, pendingFrames - pendingPos);
            const auto ch = static_cast<size_t>(info.channels);
            std::copy_n(pending.data() + static_cast<size_t>(pendingPos) * ch, static_cast<size_t>(n) * ch,
                        out + static_cast<size_t>(written) * ch);
            pendingPos += n;
            written += n;
            position += n;
            continue;
        }
        if (failed || nextFrame() <= 0)
            break;
    }
    // An error after some frames: those now, the -1 on the next call.
    return written > 0 ? written : failed ? -1 : 0;
}

AudioFileDecoder::AudioFileDecoder(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl))
{
}

AudioFileDecoder::~AudioFileDecoder() = default;

std::unique_ptr<AudioFileDecoder> AudioFileDecoder::open(const std::string& path, std::string* error)
{
    // Hostile files make FFmpeg log screenfuls; the reasons go through error instead.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    auto impl = std::make_unique<Impl>();
    std::string why = impl->openFile(path);
    if (!why.empty()) {
        if (error)
            *error = std::move(why);
        return nullptr;
    }
    if (error)
        error->clear();
    return std::unique_ptr<AudioFileDecoder>(new AudioFileDecoder(std::move(impl)));
}

const AudioFileInfo& AudioFileDecoder::info() const { return impl_->info; }

int64_t AudioFileDecoder::read(float* interleaved, int64_t maxFrames)
{
    if (!interleaved || maxFrames <= 0)
        return impl_->failed ? -1 : 0;
    return impl_->read(interleaved, maxFrames);
}

bool AudioFileDecoder::seek(int64_t frame) { return impl_->seek(frame); }

int64_t AudioFileDecoder::position() const { return impl_->position; }

const std::string& AudioFileDecoder::error() const { return impl_->error; }
