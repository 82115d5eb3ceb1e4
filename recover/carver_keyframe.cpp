// Key frames through the display's decoder, and the parameter sets in front of them.
#include "recover/carver_keyframe.h"

#include <algorithm>

#include "decode/channel_decoder.h"

namespace recover {
namespace {

constexpr uint8_t kH264Sps = 7;
constexpr uint8_t kH264Pps = 8;
constexpr uint8_t kMpeg4VopCode = 0xB6;
// Parameter sets are a few dozen bytes; a frame that claims more is compared by this much.
constexpr size_t kMaxParameterBytes = 1024;

// The offset just past the next 00 00 01 at or after `at`, or `length` when there is none.
size_t after_start_code(const uint8_t* p, size_t at, size_t length) {
    for (size_t i = at; i + 3 <= length; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i + 3;
    }
    return length;
}

// The end of a unit that starts at `at`: the zeros of the next start code are not its own.
size_t unit_end(const uint8_t* p, size_t at, size_t length) {
    const size_t next = after_start_code(p, at, length);
    if (next == length) return length;
    size_t end = next - 3;
    while (end > at && p[end - 1] == 0) --end;
    return end;
}

std::vector<uint8_t> h264_parameters(const uint8_t* p, size_t length) {
    std::vector<uint8_t> out;
    size_t at = after_start_code(p, 0, length);
    while (at < length && out.size() < kMaxParameterBytes) {
        const uint8_t type = p[at] & 0x1F;
        if (type != kH264Sps && type != kH264Pps) break;  // the slices start here
        const size_t end = unit_end(p, at, length);
        out.insert(out.end(), p + at, p + end);
        at = after_start_code(p, end, length);
    }
    if (out.size() > kMaxParameterBytes) out.resize(kMaxParameterBytes);
    return out;
}

std::vector<uint8_t> mpeg4_parameters(const uint8_t* p, size_t length) {
    size_t at = 0;
    for (;;) {
        const size_t next = after_start_code(p, at, length);
        if (next >= length || p[next] == kMpeg4VopCode) {
            const size_t end = next >= length ? length : next - 3;
            return std::vector<uint8_t>(p, p + std::min(end, kMaxParameterBytes));
        }
        at = next;
    }
}

}  // namespace

bool DecoderKeyFrameCheck::decodes(const uint8_t* frame, size_t length, int width, int height) {
    if (frame == nullptr || length == 0 || width < 1 || height < 1) return false;
    ++decoded_;
    decode::ChannelDecoder decoder;
    const uint32_t size = static_cast<uint32_t>(width) << 16 | static_cast<uint32_t>(height);
    if (decoder.decode(frame, length, size, decode::FrameTime{}) != 1) return false;
    const decode::DecodedPicture* picture = decoder.picture();
    return picture != nullptr && picture->width == width && picture->height == height;
}

std::vector<uint8_t> stream_parameters(const uint8_t* frame, size_t length, bool h264) {
    if (frame == nullptr || length == 0) return {};
    return h264 ? h264_parameters(frame, length) : mpeg4_parameters(frame, length);
}

}  // namespace recover
