// BMP files byte by byte for the still-capture tests and fuzz seeds, with every header field
// settable so that tests can make files that lie.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace testkit {

struct BmpSpec {
    uint32_t header_size = 40;  // 12: core header with 16-bit sizes and 3-byte palette entries
    int32_t width = 1;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bit_count = 24;
    uint32_t compression = 0;
    uint32_t colors_used = 0;
    std::vector<uint8_t> masks;    // stored right after a 40-byte header
    std::vector<uint8_t> palette;  // stored as given
    std::vector<uint8_t> pixels;   // stored as given
    int64_t pixel_offset = -1;     // -1: right after the palette
};

inline void put_le(std::vector<uint8_t>* out, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        (*out)[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

inline std::vector<uint8_t> build_bmp(const BmpSpec& s) {
    const size_t palette_at = 14 + s.header_size + s.masks.size();
    const size_t natural = palette_at + s.palette.size();
    const size_t pixels_at = s.pixel_offset < 0 ? natural : static_cast<size_t>(s.pixel_offset);
    std::vector<uint8_t> out(std::max(natural, pixels_at) + s.pixels.size(), 0);
    out[0] = 'B';
    out[1] = 'M';
    put_le(&out, 2, out.size(), 4);
    put_le(&out, 10, static_cast<uint32_t>(pixels_at), 4);
    put_le(&out, 14, s.header_size, 4);
    if (s.header_size == 12) {
        put_le(&out, 18, static_cast<uint32_t>(s.width), 2);
        put_le(&out, 20, static_cast<uint32_t>(s.height), 2);
        put_le(&out, 22, s.planes, 2);
        put_le(&out, 24, s.bit_count, 2);
    } else if (s.header_size >= 40) {
        put_le(&out, 18, static_cast<uint32_t>(s.width), 4);
        put_le(&out, 22, static_cast<uint32_t>(s.height), 4);
        put_le(&out, 26, s.planes, 2);
        put_le(&out, 28, s.bit_count, 2);
        put_le(&out, 30, s.compression, 4);
        put_le(&out, 46, s.colors_used, 4);
    }
    std::copy(s.masks.begin(), s.masks.end(), out.begin() + 14 + s.header_size);
    std::copy(s.palette.begin(), s.palette.end(),
              out.begin() + static_cast<std::ptrdiff_t>(palette_at));
    std::copy(s.pixels.begin(), s.pixels.end(),
              out.begin() + static_cast<std::ptrdiff_t>(pixels_at));
    return out;
}

}  // namespace testkit
