#include "decode/decode_errors.h"
#include "decode/rgb_converter.h"

namespace decode {

int bytes_per_pixel(RgbFormat format) { return format == RgbFormat::Rgb24 ? 3 : 4; }

int RgbImage::resize(int width, int height, RgbFormat format) {
    if (width < 1 || height < 1 || width > kMaxPictureSide || height > kMaxPictureSide) {
        return DECODE_E_ARGUMENT;
    }
    // Rows on 16-byte boundaries, as swscale's vector code wants them.
    const int stride = (width * bytes_per_pixel(format) + 15) / 16 * 16;
    const size_t needed = static_cast<size_t>(stride) * static_cast<size_t>(height);
    if (bytes_.size() < needed) bytes_.resize(needed);
    width_ = width;
    height_ = height;
    stride_ = stride;
    format_ = format;
    return 0;
}

RgbTarget RgbImage::target() {
    return {bytes_.data(), width_, height_, stride_, format_};
}

}  // namespace decode
