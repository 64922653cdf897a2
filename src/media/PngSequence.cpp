#include "media/PngSequence.h"

#include "media/MuxSupport.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Writes the whole file or says why not; fclose's result counts, since a full
// disk often shows only when the buffer is flushed.
std::string writeWhole(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return std::strerror(errno);
    const bool wrote = std::fwrite(data, 1, size, file) == size;
    int err = errno;
    if (std::fclose(file) != 0 && wrote)
        err = errno;
    else if (wrote)
        return {};
    return std::strerror(err);
}

} // namespace

FramePattern FramePattern::parse(const std::string& path)
{
    FramePattern p;
    const size_t nameAt = path.rfind('/') + 1; // npos + 1 == 0
    p.folder = p.head = path.substr(0, nameAt);
    std::string* part = &p.head;
    int directives = 0;
    for (size_t i = nameAt; i < path.size(); ++i) {
        if (path[i] != '%') {
            *part += path[i];
            continue;
        }
        if (i + 1 < path.size() && path[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        int digits = 0;
        if (j < path.size() && path[j] == '0')
            while (++j < path.size() && path[j] >= '0' && path[j] <= '9' && digits < 100)
                digits = digits * 10 + (path[j] - '0');
        if (j >= path.size() || path[j] != 'd' || (path[i + 1] == '0' && (digits < 1 || digits > 20))) {
            p.error = "Only %d or %0Nd (N from 1 to 20) may number the frames";
            return p;
        }
        ++directives;
        p.digits = digits;
        part = &p.tail;
        i = j;
    }
    if (directives != 1)
        p.error = "A picture sequence needs one frame number in its file name, such as frame%06d.png";
    else if (p.tail.size() < 4 || strcasecmp(p.tail.c_str() + p.tail.size() - 4, ".png") != 0)
        p.error = "A picture sequence must end in .png";
    return p;
}

std::string FramePattern::name(int64_t frame) const
{
    std::string number = std::to_string(frame);
    if (static_cast<int>(number.size()) < digits)
        number.insert(0, static_cast<size_t>(digits) - number.size(), '0');
    return head + number + tail;
}

PngSequence::~PngSequence()
{
    av_packet_free(&pkt_);
    av_frame_free(&frame_);
    sws_freeContext(sws_);
    avcodec_free_context(&enc_);
}

std::string PngSequence::open(const FramePattern& pattern, int width, int height, bool alpha)
{
    pattern_ = pattern;
    // Nothing is written until the first frame; say now if it never could be.
    const std::string folder = pattern.folder.empty() ? "." : pattern.folder;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "Folder not found: " + folder;
    if (::access(folder.c_str(), W_OK) != 0)
        return "Cannot write into " + folder;

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!codec)
        return "This FFmpeg has no png encoder";
    enc_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    pkt_ = av_packet_alloc();
    if (!enc_ || !frame_ || !pkt_)
        return "Out of memory";
    const AVPixelFormat format = alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
    enc_->width = width;
    enc_->height = height;
    enc_->pix_fmt = format;
    enc_->time_base = {1, 1};
    if (const int ret = avcodec_open2(enc_, codec, nullptr); ret < 0)
        return "Cannot start the png encoder (" + mux::avError(ret) + ")";
    sws_ = sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, format, SWS_POINT, nullptr, nullptr, nullptr);
    frame_->format = format;
    frame_->width = width;
    frame_->height = height;
    if (!sws_ || av_frame_get_buffer(frame_, 0) < 0)
        return "Out of memory";
    return {};
}

std::string PngSequence::write(const uint8_t* rgba, int stride, double* convertSeconds, double* encodeSeconds)
{
    auto start = Clock::now();
    if (av_frame_make_writable(frame_) < 0)
        return "Out of memory";
    sws_scale(sws_, &rgba, &stride, 0, enc_->height, frame_->data, frame_->linesize);
    *convertSeconds += since(start);

    start = Clock::now();
    int ret = avcodec_send_frame(enc_, frame_);
    if (ret >= 0)
        ret = avcodec_receive_packet(enc_, pkt_);
    if (ret < 0)
        return "The png encoder failed (" + mux::avError(ret) + ")";
    const std::string path = pattern_.name(written_++); // counted first: remove() takes a partial file too
    std::string why = writeWhole(path, pkt_->data, static_cast<size_t>(pkt_->size));
    av_packet_unref(pkt_);
    *encodeSeconds += since(start);
    return why.empty() ? why : path + " could not be written (" + why + ")";
}

void PngSequence::remove()
{
    for (int64_t k = 0; k < written_; ++k)
        ::unlink(pattern_.name(k).c_str());
    written_ = 0;
}
