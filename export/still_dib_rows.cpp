// DIB rows to top-down RGB rows. Each source row is read from its own 4-byte-aligned start, so
// pictures whose rows need padding (odd widths at 16 bits, most widths at 24) come out whole.
#include "export/still_i.h"

namespace {

// 5-bit channel to 8 bits: 1 gives 16 rather than 8, 31 gives full brightness.
uint8_t expand5(uint32_t v) {
    if (v == 0) return 0;
    if (v == 1) return 16;
    if (v == 31) return 255;
    return static_cast<uint8_t>(8 * v);
}

void put(uint8_t* out, uint8_t red, uint8_t green, uint8_t blue) {
    out[0] = red;
    out[1] = green;
    out[2] = blue;
}

// Colour-table pictures: indexes packed most significant bits first.
void palette_row(const StillDib& dib, const uint8_t* src, uint8_t* out) {
    const uint32_t bits = dib.bit_count;
    const uint32_t per_byte = 8 / bits;
    const uint32_t mask = (1u << bits) - 1;
    for (int32_t x = 0; x < dib.width; ++x, out += 3) {
        const auto ux = static_cast<uint32_t>(x);
        const uint32_t shift = 8 - bits * (ux % per_byte + 1);
        const uint32_t index = (src[ux / per_byte] >> shift) & mask;
        const uint8_t* c = &dib.colors[4 * index];
        put(out, c[2], c[1], c[0]);
    }
}

void row_16(const StillDib& dib, const uint8_t* src, uint8_t* out) {
    for (int32_t x = 0; x < dib.width; ++x, src += 2, out += 3) {
        const uint32_t w = static_cast<uint32_t>(src[0] | src[1] << 8);
        put(out, expand5(w >> 10 & 31), expand5(w >> 5 & 31), expand5(w & 31));
    }
}

// 24 and 32 bits: blue, green, red (and an unused byte at 32).
void row_bgr(const StillDib& dib, const uint8_t* src, uint8_t* out) {
    const size_t step = dib.bit_count / 8;
    for (int32_t x = 0; x < dib.width; ++x, src += step, out += 3) put(out, src[2], src[1], src[0]);
}

using RowFn = void (*)(const StillDib&, const uint8_t*, uint8_t*);

RowFn row_function(uint16_t bit_count) {
    switch (bit_count) {
        case 1:
        case 4:
        case 8:
            return palette_row;
        case 16:
            return row_16;
        case 24:
        case 32:
            return row_bgr;
        default:
            return nullptr;
    }
}

// The DIB's own sizes agree with its buffers, so no row or colour index can reach past them.
bool consistent(const StillDib& dib, uint64_t stride) {
    if (dib.width <= 0 || dib.height <= 0 || stride == 0) return false;
    const auto rows = static_cast<uint64_t>(dib.height);
    if (static_cast<uint64_t>(dib.width) * rows > kStillMaxPixels) return false;
    if (dib.bits.size() / stride < rows) return false;
    return dib.bit_count > 8 || dib.colors.size() >= (size_t{4} << dib.bit_count);
}

}  // namespace

int32_t still_dib_to_rgb(const StillDib& dib, std::vector<uint8_t>* rgb, std::string* error) {
    if (rgb == nullptr || dib.width <= 0)
        return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    const RowFn convert = row_function(dib.bit_count);
    if (convert == nullptr)
        return still_fail(error, STILL_ERR_BIT_COUNT, "Invalid bitmap bit count");
    const uint64_t stride = still_row_stride(dib.width, dib.bit_count);
    if (!consistent(dib, stride)) return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    const size_t out_stride = static_cast<size_t>(dib.width) * 3;
    rgb->resize(out_stride * static_cast<size_t>(dib.height));
    for (int32_t y = 0; y < dib.height; ++y) {
        const int32_t source_row = dib.top_down ? y : dib.height - 1 - y;
        const uint8_t* src = dib.bits.data() + static_cast<size_t>(source_row) * stride;
        convert(dib, src, rgb->data() + static_cast<size_t>(y) * out_stride);
    }
    return 0;
}
