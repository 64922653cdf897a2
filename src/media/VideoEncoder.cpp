#include "media/VideoEncoder.h"

#include "media/AudioTrackEncoder.h"
#include "media/MuxSupport.h"
#include "media/PngSequence.h"

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

constexpr int kMinAudioRate = 8000;
constexpr int kMaxAudioRate = 768000;

// What each container kind is made of.
struct KindSpec {
    const char* muxer;
    const char* video;
    const char* audio;
    int crfMax;
    int crfDefault; // visually clean on thin bright lines over black
};

KindSpec specOf(VideoKind kind)
{
    switch (kind) {
    case VideoKind::mp4: return {"mp4", "libx264", "aac", 51, 18};
    case VideoKind::mkv: return {"matroska", "libx264", "flac", 51, 18};
    case VideoKind::webm: return {"webm", "libvpx-vp9", "libopus", 63, 30};
    default: return {nullptr, nullptr, nullptr, 0, 0};
    }
}

std::string lowerExtension(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

std::string createFailure(int code)
{
    if (code == AVERROR(ENOENT) || code == AVERROR(ENOTDIR))
        return "Folder not found";
    if (code == AVERROR(EACCES) || code == AVERROR(EPERM) || code == AVERROR(EROFS))
        return "Permission denied";
    if (code == AVERROR(EISDIR))
        return "Is a folder";
    return mux::avError(code);
}

std::string checkOptions(const VideoFormatOptions& o, VideoKind kind)
{
    const std::string size = std::to_string(o.width) + "x" + std::to_string(o.height);
    if (kind == VideoKind::unknown)
        return lowerExtension(o.path) == ".png" ? FramePattern::parse(o.path).error
                                                : "Unknown video type: use .mp4, .mkv, .webm or a numbered .png "
                                                  "sequence such as frame%06d.png";
    const int lo = VideoEncoder::kMinSize, hi = VideoEncoder::kMaxSize;
    if (o.width < lo || o.width > hi || o.height < lo || o.height > hi)
        return "Frame size " + size + " is out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")";
    if (kind != VideoKind::pngSequence && (o.width % 2 || o.height % 2))
        return "Frame size " + size + " must be even for video";
    if (o.fps < 1 || o.fps > VideoEncoder::kMaxFps)
        return "Frame rate " + std::to_string(o.fps) + " is out of range (1 to " + std::to_string(VideoEncoder::kMaxFps)
            + ")";
    const KindSpec spec = specOf(kind);
    if (spec.video && (o.crf < -1 || o.crf > spec.crfMax))
        return "Quality (CRF) " + std::to_string(o.crf) + " is out of range for " + spec.video + " (0 to "
            + std::to_string(spec.crfMax) + ")";
    if (o.transparent && kind != VideoKind::webm && kind != VideoKind::pngSequence)
        return "Only .webm and PNG sequences keep transparency";
    if (o.audioRate != 0 && (o.audioRate < kMinAudioRate || o.audioRate > kMaxAudioRate))
        return "Sound rate " + std::to_string(o.audioRate) + " Hz is out of range";
    if (o.audioRate != 0 && (o.audioChannels < 1 || o.audioChannels > 2))
        return "Only mono or stereo sound can be encoded";
    return {};
}

// A container with one video stream and, optionally, one sound stream.
class MuxedOutput {
public:
    ~MuxedOutput()
    {
        remove();
        av_packet_free(&pkt_);
        av_frame_free(&frame_);
        sws_freeContext(sws_);
        avcodec_free_context(&enc_);
        avformat_free_context(fmt_);
    }

    std::string open(const VideoFormatOptions& o, VideoKind kind);
    std::string write(const uint8_t* rgba, int stride, double* convertSeconds, double* encodeSeconds);
    std::string writeAudio(const float* interleaved, int64_t frames)
    {
        return audio_ ? audio_->write(interleaved, frames) : std::string();
    }
    std::string finish();
    // Closes and deletes the file, if this made one.
    void remove()
    {
        if (fmt_ && fmt_->pb)
            avio_closep(&fmt_->pb);
        if (created_)
            ::unlink(path_.c_str());
        created_ = false;
    }
    void keep() { created_ = false; }

private:
    std::string openVideo(const VideoFormatOptions& o, const KindSpec& spec);

    std::string path_;
    bool created_ = false;
    AVFormatContext* fmt_ = nullptr;
    AVStream* stream_ = nullptr;
    AVCodecContext* enc_ = nullptr;
    SwsContext* sws_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* pkt_ = nullptr;
    std::unique_ptr<AudioTrackEncoder> audio_;
    int64_t next_ = 0;
};

std::string MuxedOutput::open(const VideoFormatOptions& o, VideoKind kind)
{
    const KindSpec spec = specOf(kind);
    path_ = o.path;
    // "file:" so that a name like "concat:a|b" is never taken for a protocol.
    if (avformat_alloc_output_context2(&fmt_, nullptr, spec.muxer, ("file:" + o.path).c_str()) < 0 || !fmt_)
        return std::string("This FFmpeg cannot write ") + spec.muxer + " files";
    if (std::string why = openVideo(o, spec); !why.empty())
        return why;
    if (o.audioRate > 0) {
        audio_ = std::make_unique<AudioTrackEncoder>();
        if (std::string why = audio_->open(fmt_, spec.audio, o.audioRate, o.audioChannels); !why.empty())
            return why;
    }

    if (const int ret = avio_open(&fmt_->pb, fmt_->url, AVIO_FLAG_WRITE); ret < 0)
        return "Cannot create " + o.path + ": " + createFailure(ret);
    created_ = true;
    AVDictionary* muxOptions = nullptr;
    // The index up front so that players start at once; costs one copy of the file at the end.
    if (kind == VideoKind::mp4)
        av_dict_set(&muxOptions, "movflags", "+faststart", 0);
    const int ret = avformat_write_header(fmt_, &muxOptions);
    av_dict_free(&muxOptions);
    return ret < 0 ? mux::writeFailure(ret) : std::string();
}

std::string MuxedOutput::openVideo(const VideoFormatOptions& o, const KindSpec& spec)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(spec.video);
    if (!codec)
        return std::string("This FFmpeg has no ") + spec.video + " encoder";
    stream_ = avformat_new_stream(fmt_, nullptr);
    enc_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    pkt_ = av_packet_alloc();
    if (!stream_ || !enc_ || !frame_ || !pkt_)
        return "Out of memory";

    const AVPixelFormat format = o.transparent ? AV_PIX_FMT_YUVA420P : AV_PIX_FMT_YUV420P;
    enc_->width = o.width;
    enc_->height = o.height;
    enc_->pix_fmt = format;
    enc_->time_base = {1, o.fps};
    enc_->framerate = {o.fps, 1};
    enc_->gop_size = 2 * o.fps; // a key frame every 2 s keeps seeking in editors quick
    enc_->thread_count = 2;
    // Tagged as it is converted below: players assume BT.601 for untagged SD
    // and BT.709 for HD, which would shift the colours of one or the other.
    enc_->colorspace = AVCOL_SPC_BT709;
    enc_->color_primaries = AVCOL_PRI_BT709;
    enc_->color_trc = AVCOL_TRC_BT709;
    enc_->color_range = AVCOL_RANGE_MPEG;
    if (fmt_->oformat->flags & AVFMT_GLOBALHEADER)
        enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int crf = o.crf >= 0 ? o.crf : spec.crfDefault;
    // Presets measured on scope pictures at 720p with two threads
    // (bench/VideoEncodeBench.cpp): x264's veryfast makes half superfast's bit
    // rate for about 10 % more time, while faster costs 20-50 % more time for
    // 5 % fewer bits. VP9's "good" deadline runs four to five times slower
    // than realtime; realtime's cpu-used 6 saves a quarter of 8's bits, but
    // 8 is the one that keeps 720p60 in real time.
    if (codec->id == AV_CODEC_ID_H264) {
        av_opt_set(enc_->priv_data, "preset", "veryfast", 0);
        av_opt_set_double(enc_->priv_data, "crf", crf, 0);
    } else {
        enc_->bit_rate = 0; // with crf: constant quality
        av_opt_set_int(enc_->priv_data, "crf", crf, 0);
        av_opt_set(enc_->priv_data, "deadline", "realtime", 0);
        av_opt_set_int(enc_->priv_data, "cpu-used", 8, 0);
        av_opt_set_int(enc_->priv_data, "row-mt", 1, 0);
    }
    if (const int ret = avcodec_open2(enc_, codec, nullptr); ret < 0)
        return std::string("Cannot start the ") + spec.video + " encoder (" + mux::avError(ret) + ")";
    if (avcodec_parameters_from_context(stream_->codecpar, enc_) < 0)
        return "Out of memory";
    stream_->time_base = enc_->time_base;
    stream_->avg_frame_rate = enc_->framerate;

    // Same size: only the chroma is resampled, where bilinear is plenty.
    sws_ = sws_getContext(o.width, o.height, AV_PIX_FMT_RGBA, o.width, o.height, format, SWS_BILINEAR, nullptr,
                          nullptr, nullptr);
    if (!sws_)
        return "Cannot convert RGBA to the video's pixels";
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(sws_, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    frame_->format = format;
    frame_->width = o.width;
    frame_->height = o.height;
    return av_frame_get_buffer(frame_, 0) < 0 ? "Out of memory" : std::string();
}

std::string MuxedOutput::write(const uint8_t* rgba, int stride, double* convertSeconds, double* encodeSeconds)
{
    auto start = Clock::now();
    if (av_frame_make_writable(frame_) < 0) // the encoder may still hold the last one
        return "Out of memory";
    sws_scale(sws_, &rgba, &stride, 0, enc_->height, frame_->data, frame_->linesize);
    frame_->pts = next_++;
    *convertSeconds += since(start);

    start = Clock::now();
    std::string why = mux::encodeAndWrite(fmt_, enc_, stream_, frame_, pkt_);
    *encodeSeconds += since(start);
    return why;
}

std::string MuxedOutput::finish()
{
    if (next_ == 0)
        return "No frames were rendered";
    if (std::string why = mux::encodeAndWrite(fmt_, enc_, stream_, nullptr, pkt_); !why.empty())
        return why;
    if (audio_)
        if (std::string why = audio_->finish(); !why.empty())
            return why;
    if (const int ret = av_write_trailer(fmt_); ret < 0)
        return mux::writeFailure(ret);
    if (const int ret = avio_closep(&fmt_->pb); ret < 0)
        return mux::writeFailure(ret);
    return {};
}

} // namespace

VideoKind videoKindOf(const std::string& path)
{
    const std::string ext = lowerExtension(path);
    if (ext == ".mp4")
        return VideoKind::mp4;
    if (ext == ".mkv")
        return VideoKind::mkv;
    if (ext == ".webm")
        return VideoKind::webm;
    if (ext == ".png" && FramePattern::parse(path).error.empty())
        return VideoKind::pngSequence;
    return VideoKind::unknown;
}

struct VideoEncoder::Impl {
    std::unique_ptr<MuxedOutput> muxed;
    std::unique_ptr<PngSequence> png;
    std::string error;
    bool failed = false;
    bool finished = false;
    int width = 0, height = 0, channels = 0;
    int64_t frames = 0;
    double convertSeconds = 0, encodeSeconds = 0;

    // A call after finish() or after a failure: the output is left as it is.
    bool refuse()
    {
        if (finished)
            error = "The video is already finished";
        return false;
    }
    bool fail(std::string why)
    {
        if (!failed) {
            error = std::move(why);
            failed = true;
            discard();
        }
        return false;
    }
    void discard()
    {
        if (muxed)
            muxed->remove();
        if (png)
            png->remove();
    }
};

std::unique_ptr<VideoEncoder> VideoEncoder::open(const VideoFormatOptions& options, std::string* error)
{
    static std::once_flag quiet; // the libraries' chatter would land on the user's terminal
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    const VideoKind kind = videoKindOf(options.path);
    std::string why = checkOptions(options, kind);
    auto impl = std::make_unique<Impl>();
    if (why.empty() && kind == VideoKind::pngSequence) {
        impl->png = std::make_unique<PngSequence>();
        why = impl->png->open(FramePattern::parse(options.path), options.width, options.height, options.transparent);
    } else if (why.empty()) {
        impl->muxed = std::make_unique<MuxedOutput>();
        why = impl->muxed->open(options, kind);
    }
    if (!why.empty()) {
        impl->discard();
        if (error)
            *error = why;
        return nullptr;
    }
    impl->width = options.width;
    impl->height = options.height;
    impl->channels = options.audioRate > 0 ? options.audioChannels : 0;
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(impl)));
}

VideoEncoder::VideoEncoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

VideoEncoder::~VideoEncoder()
{
    if (!impl_->finished)
        impl_->discard();
}

bool VideoEncoder::writeFrame(const uint8_t* rgba, int stride)
{
    Impl& d = *impl_;
    if (d.failed || d.finished)
        return d.refuse();
    if (!rgba || stride < d.width * 4)
        return d.fail("Bad frame: no pixels, or rows shorter than the width");
    std::string why = d.muxed ? d.muxed->write(rgba, stride, &d.convertSeconds, &d.encodeSeconds)
                              : d.png->write(rgba, stride, &d.convertSeconds, &d.encodeSeconds);
    if (!why.empty())
        return d.fail(std::move(why));
    ++d.frames;
    return true;
}

bool VideoEncoder::writeAudio(const float* interleaved, int64_t frames)
{
    Impl& d = *impl_;
    if (d.failed || d.finished)
        return d.refuse();
    if (frames < 0 || (frames > 0 && !interleaved))
        return d.fail("Bad sound block");
    if (!d.muxed || d.channels == 0 || frames == 0)
        return true;
    std::string why = d.muxed->writeAudio(interleaved, frames);
    return why.empty() || d.fail(std::move(why));
}

bool VideoEncoder::finish()
{
    Impl& d = *impl_;
    if (d.failed || d.finished)
        return d.refuse();
    if (d.muxed) {
        if (std::string why = d.muxed->finish(); !why.empty())
            return d.fail(std::move(why));
        d.muxed->keep();
    } else if (d.frames == 0) {
        return d.fail("No frames were rendered");
    }
    d.finished = true;
    return true;
}

const std::string& VideoEncoder::error() const { return impl_->error; }
int64_t VideoEncoder::framesWritten() const { return impl_->frames; }
double VideoEncoder::conversionSeconds() const { return impl_->convertSeconds; }
double VideoEncoder::encodingSeconds() const { return impl_->encodeSeconds; }
