#include "speed/thumbnail.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file.h"
#include "speed/text_util.h"

namespace tarvospeed {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ScaleCloser {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

void put_le(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

// A bottom-up 24-bit BMP of `rgb` (BGR rows of `stride` bytes).
std::string bmp_bytes(const std::uint8_t* bgr, int stride, int w, int h) {
    int row = (w * 3 + 3) & ~3;
    std::uint32_t pixels = static_cast<std::uint32_t>(row * h);
    std::string out;
    out += "BM";
    put_le(out, 54 + pixels, 4);
    put_le(out, 0, 4);
    put_le(out, 54, 4);
    put_le(out, 40, 4);
    put_le(out, static_cast<std::uint32_t>(w), 4);
    put_le(out, static_cast<std::uint32_t>(h), 4);
    put_le(out, 1, 2);
    put_le(out, 24, 2);
    put_le(out, 0, 4);
    put_le(out, pixels, 4);
    put_le(out, 2835, 4);
    put_le(out, 2835, 4);
    put_le(out, 0, 4);
    put_le(out, 0, 4);
    for (int y = h - 1; y >= 0; --y) {
        out.append(reinterpret_cast<const char*>(bgr + y * stride),
                   static_cast<std::size_t>(w) * 3);
        out.append(static_cast<std::size_t>(row - w * 3), '\0');
    }
    return out;
}

std::string av_text(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

}  // namespace

std::string thumbnail_path(const std::string& cache_folder, const std::string& video) {
    std::string name = file_name_of(video);
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        name += ".bmp";
    } else {
        std::string ext = name.substr(dot);
        std::string out;
        for (std::size_t i = 0; i < name.size();) {
            if (name.compare(i, ext.size(), ext) == 0) {
                out += ".bmp";
                i += ext.size();
            } else {
                out += name[i++];
            }
        }
        name = out;
    }
    std::string folder = cache_folder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder + "bmp/" + name;
}

int grab_thumbnail(const std::string& video, int seconds, const std::string& bmp_path,
                   std::string& error) {
    AVFormatContext* raw = nullptr;
    int r = avformat_open_input(&raw, video.c_str(), nullptr, nullptr);
    if (r < 0) {
        error = "cannot open " + video + ": " + av_text(r);
        return -1;
    }
    std::unique_ptr<AVFormatContext, FormatCloser> fmt(raw);
    if ((r = avformat_find_stream_info(fmt.get(), nullptr)) < 0) {
        error = "no stream information in " + video + ": " + av_text(r);
        return -1;
    }
    const AVCodec* codec = nullptr;
    int stream = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || codec == nullptr) {
        error = "no video stream in " + video;
        return -1;
    }
    AVStream* st = fmt->streams[stream];
    std::unique_ptr<AVCodecContext, CodecCloser> dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0 ||
        avcodec_open2(dec.get(), codec, nullptr) < 0) {
        error = "cannot decode the video of " + video;
        return -1;
    }
    std::int64_t target = av_rescale_q(static_cast<std::int64_t>(seconds) * AV_TIME_BASE,
                                       AV_TIME_BASE_Q, st->time_base);
    if (seconds > 0) av_seek_frame(fmt.get(), stream, target, AVSEEK_FLAG_BACKWARD);

    std::unique_ptr<AVPacket, PacketCloser> pkt(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
    std::unique_ptr<AVFrame, FrameCloser> kept(av_frame_alloc());
    bool have = false, done = false;
    auto take_frames = [&] {
        while (!done && avcodec_receive_frame(dec.get(), frame.get()) == 0) {
            av_frame_unref(kept.get());
            av_frame_move_ref(kept.get(), frame.get());
            have = true;
            std::int64_t pts = kept->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && pts >= target) done = true;
        }
    };
    while (!done && av_read_frame(fmt.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == stream && avcodec_send_packet(dec.get(), pkt.get()) == 0)
            take_frames();
        av_packet_unref(pkt.get());
    }
    if (!done) {
        avcodec_send_packet(dec.get(), nullptr);  // what the decoder still holds
        take_frames();
    }
    if (!have) {
        error = "no frame decoded from " + video;
        return -1;
    }

    std::unique_ptr<SwsContext, ScaleCloser> sws(sws_getContext(
        kept->width, kept->height, static_cast<AVPixelFormat>(kept->format), THUMB_WIDTH,
        THUMB_HEIGHT, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws) {
        error = "cannot scale the frame of " + video;
        return -1;
    }
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(THUMB_WIDTH) * 3 * THUMB_HEIGHT);
    std::uint8_t* dst[4] = {bgr.data(), nullptr, nullptr, nullptr};
    int dst_stride[4] = {THUMB_WIDTH * 3, 0, 0, 0};
    sws_scale(sws.get(), kept->data, kept->linesize, 0, kept->height, dst, dst_stride);

    std::size_t slash = bmp_path.rfind('/');
    if (slash != std::string::npos &&
        platform::make_folders(bmp_path.substr(0, slash).c_str()) != 0) {
        error = "cannot create the folder of " + bmp_path;
        return -1;
    }
    if (platform::file_replace(bmp_path.c_str(), bmp_bytes(bgr.data(), THUMB_WIDTH * 3, THUMB_WIDTH,
                                                           THUMB_HEIGHT)) != 0) {
        error = "cannot write " + bmp_path;
        return -1;
    }
    return 0;
}

}  // namespace tarvospeed
