// libavcodec encoders (libx264 for H.264, the native MPEG-4 part 2 encoder) fed with test-pattern
// pictures converted to YUV 4:2:0 by swscale.
#include "tools/sample/video_encoder.h"

#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "decode/av_handles.h"
#include "tools/sample/test_pattern.h"

namespace sample {
namespace {

constexpr int kMaxDimension = 4096;
constexpr int kMaxFps = 60;
constexpr int kMaxGopFrames = 1000;
// Fixed MPEG-4 quantiser: sharp enough to read the caption, small enough for a recorder's GOP.
constexpr int kMpeg4Quantiser = 4;

using decode::CodecContextPtr;
using decode::FramePtr;
using decode::PacketPtr;
using decode::SwsPtr;
struct DictFree {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

std::string av_message(const char* what, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return std::string(what) + ": " + text;
}

void set_error(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

// The caption of frame `index` of a GOP: the channel, the recorder time of its second and its
// number within that second, so that frames of one second can be told apart.
std::string frame_caption(int video_channel, uint32_t time, int index, int fps) {
    const uint32_t second = time + static_cast<uint32_t>(index / fps);
    char number[16];
    std::snprintf(number, sizeof number, " %02d", index % fps);
    return caption_for(video_channel, second) + number;
}

}  // namespace

struct VideoEncoder::Impl {
    Codec codec = Codec::H264;
    int width = 0;
    int height = 0;
    int fps = 0;
    int gop = 0;  // GOP length the open context was set up for
    int64_t next_pts = 0;
    CodecContextPtr context;
    FramePtr picture;
    PacketPtr packet;
    SwsPtr to_yuv;

    bool open(int gop_frames, std::string* error);
    bool fill_picture(const RgbImage& image, std::string* error);
    bool encode(bool key, std::vector<EncodedFrame>& out, std::string* error);
};

// A fresh context per GOP length: the key-frame interval then equals the GOP, and no scene-cut
// or B-frame decision can put a second key frame or a reordered frame inside it.
bool VideoEncoder::Impl::open(int gop_frames, std::string* error) {
    context.reset();
    const AVCodec* encoder = codec == Codec::H264 ? avcodec_find_encoder_by_name("libx264")
                                                  : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (!encoder) {
        set_error(error, codec == Codec::H264 ? "libx264 encoder not available"
                                              : "MPEG-4 part 2 encoder not available");
        return false;
    }
    CodecContextPtr c(avcodec_alloc_context3(encoder));
    if (!c) {
        set_error(error, "cannot allocate an encoder context");
        return false;
    }
    c->width = width;
    c->height = height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->gop_size = gop_frames;
    c->max_b_frames = 0;
    c->thread_count = 1;  // one frame in, one frame out, the same bytes on every run
    // The encoder's informational chatter (CPU flags, closing statistics) would land in the
    // trace on standard error: push it two levels down so that only errors still show.
    c->log_level_offset = AV_LOG_DEBUG - AV_LOG_INFO;
    // No global header: parameter sets and the VOL header stay in-band on every key frame.
    c->flags &= ~AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* raw_options = nullptr;
    if (codec == Codec::H264) {
        c->keyint_min = gop_frames;
        av_dict_set(&raw_options, "preset", "ultrafast", 0);
        av_dict_set(&raw_options, "tune", "zerolatency", 0);
        av_dict_set(&raw_options, "forced-idr", "1", 0);
        av_dict_set(&raw_options, "x264-params", "repeat-headers=1:annexb=1:scenecut=0", 0);
    } else {
        c->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_BITEXACT;
        c->global_quality = FF_QP2LAMBDA * kMpeg4Quantiser;
        // The native encoder turns a P-frame into an I-frame above this score: never.
        av_dict_set(&raw_options, "sc_threshold", "1000000000", 0);
    }
    int rc = avcodec_open2(c.get(), encoder, &raw_options);
    std::unique_ptr<AVDictionary, DictFree> options(raw_options);
    if (rc < 0) {
        set_error(error, av_message("cannot open the encoder", rc));
        return false;
    }
    if (const AVDictionaryEntry* left =
            av_dict_get(options.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX)) {
        set_error(error, std::string("encoder option not recognised: ") + left->key);
        return false;
    }
    context = std::move(c);
    gop = gop_frames;
    next_pts = 0;
    return true;
}

bool VideoEncoder::Impl::fill_picture(const RgbImage& image, std::string* error) {
    // The encoder may still hold a reference to the previous picture.
    int rc = av_frame_make_writable(picture.get());
    if (rc < 0) {
        set_error(error, av_message("cannot write the picture", rc));
        return false;
    }
    const uint8_t* source[1] = {image.pixels.data()};
    const int source_stride[1] = {image.width * 3};
    rc = sws_scale(to_yuv.get(), source, source_stride, 0, image.height, picture->data,
                   picture->linesize);
    if (rc != image.height) {
        set_error(error, "picture conversion failed");
        return false;
    }
    return true;
}

bool VideoEncoder::Impl::encode(bool key, std::vector<EncodedFrame>& out, std::string* error) {
    picture->pts = next_pts++;
    picture->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (codec == Codec::Mpeg4) picture->quality = context->global_quality;
    int rc = avcodec_send_frame(context.get(), picture.get());
    if (rc < 0) {
        set_error(error, av_message("cannot encode a picture", rc));
        return false;
    }
    for (;;) {
        rc = avcodec_receive_packet(context.get(), packet.get());
        if (rc == AVERROR(EAGAIN)) return true;
        if (rc < 0) {
            set_error(error, av_message("cannot take an encoded frame", rc));
            return false;
        }
        EncodedFrame frame;
        frame.bytes.assign(packet->data, packet->data + packet->size);
        frame.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_unref(packet.get());
        if (codec == Codec::H264 && !ensure_long_start_code(frame.bytes)) {
            set_error(error, "encoded H.264 frame does not start with a start code");
            return false;
        }
        out.push_back(std::move(frame));
    }
}

VideoEncoder::VideoEncoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VideoEncoder::~VideoEncoder() = default;

std::unique_ptr<VideoEncoder> VideoEncoder::create(Codec codec, int width, int height, int fps,
                                                   std::string* error) {
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension ||
        width % 2 != 0 || height % 2 != 0) {
        set_error(error, "picture size must be even and between 2 and 4096: " +
                             std::to_string(width) + "x" + std::to_string(height));
        return nullptr;
    }
    if (fps <= 0 || fps > kMaxFps) {
        set_error(error, "frame rate must be between 1 and 60: " + std::to_string(fps));
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->codec = codec;
    impl->width = width;
    impl->height = height;
    impl->fps = fps;
    impl->picture.reset(av_frame_alloc());
    impl->packet.reset(av_packet_alloc());
    if (!impl->picture || !impl->packet) {
        set_error(error, "cannot allocate encoder buffers");
        return nullptr;
    }
    impl->picture->format = AV_PIX_FMT_YUV420P;
    impl->picture->width = width;
    impl->picture->height = height;
    if (int rc = av_frame_get_buffer(impl->picture.get(), 0); rc < 0) {
        set_error(error, av_message("cannot allocate a picture", rc));
        return nullptr;
    }
    impl->to_yuv.reset(sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height,
                                      AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!impl->to_yuv) {
        set_error(error, "cannot set up the picture conversion");
        return nullptr;
    }
    // Open now, with a one-second GOP, so that a missing codec shows here and not mid-build.
    if (!impl->open(fps, error)) return nullptr;
    return std::unique_ptr<VideoEncoder>(new VideoEncoder(std::move(impl)));
}

std::vector<EncodedFrame> VideoEncoder::encode_gop(int video_channel, uint32_t time, int frames,
                                                   std::string* error) {
    Impl& s = *impl_;
    if (frames <= 0 || frames > kMaxGopFrames) {
        set_error(error, "frames per GOP must be between 1 and 1000: " + std::to_string(frames));
        return {};
    }
    if (frames != s.gop || !s.context) {
        if (!s.open(frames, error)) return {};
    }
    std::vector<EncodedFrame> out;
    out.reserve(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const RgbImage image = test_pattern(
            s.width, s.height, frame_caption(video_channel, time, i, s.fps), video_channel);
        if (!s.fill_picture(image, error) || !s.encode(i == 0, out, error)) {
            s.context.reset();  // a half-fed encoder is not reused
            return {};
        }
    }
    // Zero latency and no B-frames: one frame out per picture in, the first one a key frame.
    if (out.size() != static_cast<size_t>(frames)) {
        s.context.reset();
        set_error(error, "encoder delivered " + std::to_string(out.size()) + " frames for " +
                             std::to_string(frames) + " pictures");
        return {};
    }
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i].key != (i == 0)) {
            s.context.reset();
            set_error(error, "encoder put a key frame at position " + std::to_string(i));
            return {};
        }
    }
    return out;
}

Codec VideoEncoder::codec() const {
    return impl_->codec;
}
int VideoEncoder::width() const {
    return impl_->width;
}
int VideoEncoder::height() const {
    return impl_->height;
}
int VideoEncoder::fps() const {
    return impl_->fps;
}

bool ensure_long_start_code(std::vector<uint8_t>& frame) {
    if (frame.size() >= 4 && frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == 1) {
        return true;
    }
    if (frame.size() >= 3 && frame[0] == 0 && frame[1] == 0 && frame[2] == 1) {
        frame.insert(frame.begin(), 0);
        return true;
    }
    return false;
}

}  // namespace sample
