#include "decode/decode_errors.h"

namespace decode {

const char* error_text(int result) {
    switch (result) {
    case DECODE_E_ARGUMENT: return "bad argument";
    case DECODE_E_PICTURE_SIZE: return "bad picture size";
    case DECODE_E_NO_KEY_FRAME: return "waiting for a key frame";
    case DECODE_E_CODEC: return "decoder unavailable";
    case DECODE_E_DATA: return "frame does not decode";
    case DECODE_E_MEMORY: return "out of memory";
    case DECODE_E_CONVERT: return "conversion failed";
    case DECODE_E_NO_PICTURE: return "no picture";
    default: return result >= 0 ? "ok" : "unknown error";
    }
}

}  // namespace decode
