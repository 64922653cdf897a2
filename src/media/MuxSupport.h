#pragma once

// Shared by VideoEncoder's parts; not part of the library's interface.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <string>

namespace mux {

inline std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

inline std::string writeFailure(int code) { return "The video could not be written (" + avError(code) + ")"; }

// Hands `frame` (null: the end) to the encoder and writes every packet it has
// ready. Empty on success, else why not.
inline std::string encodeAndWrite(AVFormatContext* fmt, AVCodecContext* enc, AVStream* st, const AVFrame* frame,
                                  AVPacket* pkt)
{
    int ret = avcodec_send_frame(enc, frame);
    if (ret < 0)
        return std::string("The ") + enc->codec->name + " encoder failed (" + avError(ret) + ")";
    while ((ret = avcodec_receive_packet(enc, pkt)) >= 0) {
        av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
        pkt->stream_index = st->index;
        ret = av_interleaved_write_frame(fmt, pkt); // takes the packet's data, leaves it blank
        if (ret < 0)
            return writeFailure(ret);
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        return std::string("The ") + enc->codec->name + " encoder failed (" + avError(ret) + ")";
    return {};
}

} // namespace mux
