// 8 kHz mu-law audio (G.711) to 16-bit linear samples, by table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace decode {

// The linear value of one mu-law code: the code is stored inverted; its low four bits are the
// step within a segment, bits 4..6 the segment, bit 7 the sign (set: positive).
constexpr int16_t mulaw_expand(uint8_t code) {
    constexpr int kBias = 0x84;
    const int inverted = static_cast<uint8_t>(~code);
    const int magnitude = (((inverted & 0x0F) << 3) + kBias) << ((inverted & 0x70) >> 4);
    return static_cast<int16_t>((inverted & 0x80) ? kBias - magnitude : magnitude - kBias);
}

using MulawTable = std::array<int16_t, 256>;

constexpr MulawTable make_mulaw_table() {
    MulawTable table{};
    for (size_t i = 0; i < table.size(); ++i) table[i] = mulaw_expand(static_cast<uint8_t>(i));
    return table;
}

inline constexpr MulawTable kMulawTable = make_mulaw_table();

// `count` codes from `in` to `out`, which holds at least `count` samples.
inline void mulaw_decode(const uint8_t* in, size_t count, int16_t* out) {
    for (size_t i = 0; i < count; ++i) out[i] = kMulawTable[in[i]];
}

}  // namespace decode
