// Conversion of a decoded picture to RGB at the size it is shown at, by swscale, straight into
// the caller's pixels. One converter per channel: its scaler context is kept while the source
// and target stay the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode/channel_decoder.h"

namespace decode {

enum class RgbFormat {
    // 4 bytes a pixel, the 32-bit word 0xFFRRGGBB in native byte order: QImage::Format_RGB32.
    Rgb32,
    // 3 bytes a pixel, R, G, B: QImage::Format_RGB888, and what `ffmpeg -pix_fmt rgb24` writes.
    Rgb24,
};

int bytes_per_pixel(RgbFormat format);

enum class Scaling {
    Exact,  // bicubic, as FFmpeg's tools scale: single view, stills, anything saved
    Fast,   // fast bilinear: small tiles
    // Nearest pixel: tiles of half the picture's size or less, where it costs little more
    // than half of Fast and the difference is lost in the shrinking anyway.
    Nearest,
};

// Pixels the caller owns: `height` rows of `stride` bytes.
struct RgbTarget {
    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
    RgbFormat format = RgbFormat::Rgb32;
};

// An RGB picture that keeps its buffer: it grows when a bigger picture comes and never shrinks,
// so that a channel converting into the same few images allocates nothing per frame.
class RgbImage {
public:
    // 0, or DECODE_E_ARGUMENT for a size outside 1..kMaxPictureSide.
    int resize(int width, int height, RgbFormat format);
    RgbTarget target();
    const uint8_t* pixels() const { return bytes_.data(); }
    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return stride_; }
    RgbFormat format() const { return format_; }
    FrameTime time;  // of the picture it holds

private:
    std::vector<uint8_t> bytes_;
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    RgbFormat format_ = RgbFormat::Rgb32;
};

class RgbConverter {
public:
    RgbConverter();
    ~RgbConverter();
    RgbConverter(const RgbConverter&) = delete;
    RgbConverter& operator=(const RgbConverter&) = delete;

    // The picture scaled to the target's size. 0, or DECODE_E_ARGUMENT for a target without
    // pixels, a size outside 1..kMaxPictureSide or a stride too short, DECODE_E_NO_PICTURE, or
    // DECODE_E_CONVERT when swscale refuses.
    int convert(const DecodedPicture& picture, const RgbTarget& target,
                Scaling scaling = Scaling::Exact);

    // The same into `image`, sized width x height (the decoded size when either is 0), with
    // the picture's time.
    int convert(const DecodedPicture& picture, RgbImage* image, int width, int height,
                RgbFormat format, Scaling scaling = Scaling::Exact);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace decode
