#include "decode/rgb_converter.h"

#include <bit>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "decode/av_handles.h"
#include "decode/decode_errors.h"

namespace decode {
namespace {

// Format_RGB32 is a native 32-bit word 0xFFRRGGBB: bytes B, G, R, FF on a little-endian
// machine. swscale writes an opaque alpha when the source has none.
AVPixelFormat av_format(RgbFormat format) {
    if (format == RgbFormat::Rgb24) return AV_PIX_FMT_RGB24;
    return std::endian::native == std::endian::little ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
}

bool usable(const RgbTarget& t) {
    return t.pixels != nullptr && t.width >= 1 && t.height >= 1 && t.width <= kMaxPictureSide &&
           t.height <= kMaxPictureSide && t.stride >= t.width * bytes_per_pixel(t.format);
}

}  // namespace

struct RgbConverter::Impl {
    SwsPtr context;
};

RgbConverter::RgbConverter() : impl_(std::make_unique<Impl>()) {}
RgbConverter::~RgbConverter() = default;

int RgbConverter::convert(const DecodedPicture& picture, const RgbTarget& target,
                          Scaling scaling) {
    if (!usable(target)) return DECODE_E_ARGUMENT;
    const AVFrame* frame = picture.frame;
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0) return DECODE_E_NO_PICTURE;
    const int flags = scaling == Scaling::Fast      ? SWS_FAST_BILINEAR
                      : scaling == Scaling::Nearest ? SWS_POINT
                                                    : SWS_BICUBIC;
    // The cached context is reused when nothing changed, else freed and replaced.
    impl_->context.reset(sws_getCachedContext(
        impl_->context.release(), frame->width, frame->height,
        static_cast<AVPixelFormat>(frame->format), target.width, target.height,
        av_format(target.format), flags, nullptr, nullptr, nullptr));
    if (!impl_->context) return DECODE_E_CONVERT;
    uint8_t* planes[4] = {target.pixels, nullptr, nullptr, nullptr};
    const int strides[4] = {target.stride, 0, 0, 0};
    const int rows = sws_scale(impl_->context.get(), frame->data, frame->linesize, 0,
                               frame->height, planes, strides);
    return rows == target.height ? 0 : DECODE_E_CONVERT;
}

int RgbConverter::convert(const DecodedPicture& picture, RgbImage* image, int width, int height,
                          RgbFormat format, Scaling scaling) {
    if (image == nullptr) return DECODE_E_ARGUMENT;
    if (picture.frame == nullptr) return DECODE_E_NO_PICTURE;
    if (width == 0 || height == 0) {
        width = picture.width;
        height = picture.height;
    }
    int rc = image->resize(width, height, format);
    if (rc < 0) return rc;
    rc = convert(picture, image->target(), scaling);
    if (rc == 0) image->time = picture.time;
    return rc;
}

}  // namespace decode
