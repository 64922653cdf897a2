#include "media/AudioTrackEncoder.h"

#include "media/MuxSupport.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>

namespace {

// Input frames converted per step: bounds the scratch buffers whatever a
// caller hands over at once.
constexpr int64_t kBlock = 4096;

// The rate itself where the codec takes it, else the nearest it has above
// (Opus: 48 kHz for 44.1), else its highest.
int encoderRate(const AVCodec* codec, int rate)
{
    if (!codec->supported_samplerates)
        return rate;
    int above = 0, highest = 0;
    for (const int* r = codec->supported_samplerates; *r; ++r) {
        if (*r == rate)
            return rate;
        if (*r > rate && (!above || *r < above))
            above = *r;
        highest = std::max(highest, *r);
    }
    return above ? above : highest;
}

AVSampleFormat encoderFormat(const AVCodec* codec)
{
    if (!codec->sample_fmts)
        return AV_SAMPLE_FMT_FLTP;
    for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_FLTP || *f == AV_SAMPLE_FMT_FLT)
            return *f; // no precision lost on the way
    return codec->sample_fmts[0];
}

} // namespace

AudioTrackEncoder::~AudioTrackEncoder()
{
    av_packet_free(&pkt_);
    av_frame_free(&frame_);
    av_audio_fifo_free(fifo_);
    swr_free(&swr_);
    avcodec_free_context(&enc_);
}

std::string AudioTrackEncoder::open(AVFormatContext* fmt, const char* encoderName, int rate, int channels)
{
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    if (!codec)
        return std::string("This FFmpeg has no ") + encoderName + " encoder";
    fmt_ = fmt;
    channels_ = channels;
    stream_ = avformat_new_stream(fmt, nullptr);
    enc_ = avcodec_alloc_context3(codec);
    pkt_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!stream_ || !enc_ || !pkt_ || !frame_)
        return "Out of memory";

    enc_->sample_rate = encoderRate(codec, rate);
    enc_->sample_fmt = encoderFormat(codec);
    av_channel_layout_default(&enc_->ch_layout, channels);
    enc_->time_base = {1, enc_->sample_rate};
    if (codec->id == AV_CODEC_ID_AAC)
        enc_->bit_rate = 192000;
    else if (codec->id == AV_CODEC_ID_OPUS)
        enc_->bit_rate = 128000; // Opus at 128k matches AAC at 192k
    if (fmt->oformat->flags & AVFMT_GLOBALHEADER)
        enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int ret = avcodec_open2(enc_, codec, nullptr); ret < 0)
        return std::string("Cannot start the ") + encoderName + " encoder (" + mux::avError(ret) + ")";
    if (avcodec_parameters_from_context(stream_->codecpar, enc_) < 0)
        return "Out of memory";
    stream_->time_base = enc_->time_base;

    frameSize_ = enc_->frame_size > 0 ? enc_->frame_size : 1024;
    shortLastFrame_ = codec->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);

    AVChannelLayout in{};
    av_channel_layout_default(&in, channels);
    const int ret = swr_alloc_set_opts2(&swr_, &enc_->ch_layout, enc_->sample_fmt, enc_->sample_rate, &in,
                                        AV_SAMPLE_FMT_FLT, rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (ret < 0 || swr_init(swr_) < 0)
        return "Cannot convert the sound to " + std::to_string(enc_->sample_rate) + " Hz";
    fifo_ = av_audio_fifo_alloc(enc_->sample_fmt, channels, frameSize_ * 2);
    return fifo_ ? std::string() : "Out of memory";
}

std::string AudioTrackEncoder::write(const float* interleaved, int64_t frames)
{
    uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
    for (int64_t done = 0; done < frames || !interleaved;) {
        const int n = static_cast<int>(std::min(kBlock, frames - done));
        if (interleaved) {
            clean_.resize(static_cast<size_t>(n * channels_));
            const float* from = interleaved + done * channels_;
            for (size_t i = 0; i < clean_.size(); ++i)
                clean_[i] = std::isfinite(from[i]) ? std::clamp(from[i], -1.0f, 1.0f) : 0.0f;
        }
        // Null input: what the resampler still holds.
        const int room = swr_get_out_samples(swr_, interleaved ? n : 0);
        const int bytes = av_samples_get_buffer_size(nullptr, channels_, std::max(room, 1), enc_->sample_fmt, 1);
        if (room < 0 || bytes < 0)
            return "Cannot convert the sound";
        converted_.resize(static_cast<size_t>(bytes));
        av_samples_fill_arrays(planes, nullptr, converted_.data(), channels_, std::max(room, 1), enc_->sample_fmt, 1);
        const uint8_t* in = interleaved ? reinterpret_cast<const uint8_t*>(clean_.data()) : nullptr;
        const int got = swr_convert(swr_, planes, std::max(room, 1), interleaved ? &in : nullptr, interleaved ? n : 0);
        if (got < 0)
            return "Cannot convert the sound";
        if (got > 0 && av_audio_fifo_write(fifo_, reinterpret_cast<void**>(planes), got) < got)
            return "Out of memory";
        if (std::string why = drain(false); !why.empty())
            return why;
        if (!interleaved)
            break;
        done += n;
    }
    return {};
}

std::string AudioTrackEncoder::drain(bool all)
{
    while (av_audio_fifo_size(fifo_) >= frameSize_ || (all && av_audio_fifo_size(fifo_) > 0)) {
        const int n = std::min(av_audio_fifo_size(fifo_), frameSize_);
        av_frame_unref(frame_); // the encoder may still hold the last one
        frame_->format = enc_->sample_fmt;
        frame_->sample_rate = enc_->sample_rate;
        frame_->nb_samples = shortLastFrame_ ? n : frameSize_;
        if (av_channel_layout_copy(&frame_->ch_layout, &enc_->ch_layout) < 0 || av_frame_get_buffer(frame_, 0) < 0)
            return "Out of memory";
        if (n < frame_->nb_samples) // a fixed-size codec's last frame: padded with silence
            av_samples_set_silence(frame_->data, 0, frame_->nb_samples, channels_, enc_->sample_fmt);
        if (av_audio_fifo_read(fifo_, reinterpret_cast<void**>(frame_->data), n) < n)
            return "Cannot convert the sound";
        frame_->pts = pts_;
        pts_ += n;
        if (std::string why = mux::encodeAndWrite(fmt_, enc_, stream_, frame_, pkt_); !why.empty())
            return why;
    }
    return {};
}

std::string AudioTrackEncoder::finish()
{
    if (std::string why = write(nullptr, 0); !why.empty())
        return why;
    if (std::string why = drain(true); !why.empty())
        return why;
    return mux::encodeAndWrite(fmt_, enc_, stream_, nullptr, pkt_);
}
