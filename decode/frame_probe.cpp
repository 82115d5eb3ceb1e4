#include "decode/frame_probe.h"

#include "decode/decode_errors.h"

namespace decode {

VideoCodec codec_of(const uint8_t* data, size_t length) {
    if (data == nullptr || length == 0) return VideoCodec::None;
    const bool long_start_code =
        length >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1;
    return long_start_code ? VideoCodec::H264 : VideoCodec::Mpeg4;
}

int parse_picture_size(uint32_t word, PictureSize* size) {
    const int width = static_cast<int>(word >> 16);
    const int height = static_cast<int>(word & 0xFFFF);
    if (width < 1 || height < 1 || width > kMaxPictureSide || height > kMaxPictureSide) {
        return DECODE_E_PICTURE_SIZE;
    }
    size->width = width;
    size->height = height;
    return 0;
}

}  // namespace decode
