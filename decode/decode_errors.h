// Results and limits shared by the decoding layer. Every function returns 0 (or a positive
// count) on success and one of these negative codes on failure; nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>

namespace decode {

enum DecodeError : int {
    DECODE_E_ARGUMENT = -1,      // no data, an empty or too long frame, a bad target
    DECODE_E_PICTURE_SIZE = -2,  // a key frame's picture size of 0 or beyond the limits
    DECODE_E_NO_KEY_FRAME = -3,  // the channel waits for a key frame; the frame was dropped
    DECODE_E_CODEC = -4,         // the decoder could not be found or opened
    DECODE_E_DATA = -5,          // the frame did not decode
    DECODE_E_MEMORY = -6,
    DECODE_E_CONVERT = -7,       // the picture could not be converted
    DECODE_E_NO_PICTURE = -8,    // nothing decoded yet
};

// Largest picture accepted, in either direction.
inline constexpr int kMaxPictureSide = 4096;
// Largest frame accepted: a recorder's whole GOP buffer.
inline constexpr size_t kMaxFrameBytes = 3072000;

// A short English name of a result, for traces and messages.
const char* error_text(int result);

}  // namespace decode
