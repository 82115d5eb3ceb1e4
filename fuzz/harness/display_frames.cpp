// The display's frame path: whatever frames and picture sizes the input holds, into one
// channel decoder, with the pictures converted as a tile and at their decoded size.
//
// Input: records of
//   [0]      bit 0 key frame (the picture size counts), bit 1 reset before the frame, bit 2
//            skip the loop filter from here on, bit 3 convert to a 64 x 48 tile, bit 4 convert
//            at the decoded size, bit 5 claim a length beyond any frame (must be refused unread)
//   [1..4]   picture size word (little-endian)
//   [5..6]   length of the frame's bytes (little-endian), cut short by the end of the input
//   then the frame's bytes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "decode/channel_decoder.h"
#include "decode/decode_errors.h"
#include "decode/rgb_converter.h"
#include "fuzz/harness/harness.h"

namespace fuzz {
namespace {

constexpr size_t kHeaderBytes = 7;
constexpr int kMaxRecords = 64;
// Converting a huge picture at its size proves nothing more than a small one, slowly.
constexpr int64_t kMaxConvertedPixels = 1 << 20;

struct Record {
    uint8_t flags = 0;
    uint32_t picture_size = 0;
    const uint8_t* bytes = nullptr;
    size_t length = 0;
};

// The next record at *at, or false at the end of the input.
bool next_record(const uint8_t* data, size_t size, size_t* at, Record* r) {
    if (size - *at < kHeaderBytes) return false;
    const uint8_t* h = data + *at;
    r->flags = h[0];
    r->picture_size = uint32_t{h[1]} | uint32_t{h[2]} << 8 | uint32_t{h[3]} << 16 |
                      uint32_t{h[4]} << 24;
    const size_t wanted = size_t{h[5]} | size_t{h[6]} << 8;
    *at += kHeaderBytes;
    r->bytes = data + *at;
    r->length = std::min(wanted, size - *at);
    *at += r->length;
    return true;
}

void convert(decode::RgbConverter& converter, const decode::DecodedPicture& picture,
             decode::RgbImage& image, uint8_t flags) {
    if (flags & 0x08) {
        converter.convert(picture, &image, 64, 48, decode::RgbFormat::Rgb32,
                          decode::Scaling::Fast);
    }
    const int64_t pixels = int64_t{picture.width} * picture.height;
    if ((flags & 0x10) && pixels <= kMaxConvertedPixels) {
        converter.convert(picture, &image, 0, 0, decode::RgbFormat::Rgb24);
    }
}

void check_picture(const decode::ChannelDecoder& decoder, int result) {
    const decode::DecodedPicture* p = decoder.picture();
    if (result == 1 && (p == nullptr || p->frame == nullptr || p->width <= 0 || p->height <= 0)) {
        std::abort();
    }
}

}  // namespace

int display_frames(const uint8_t* data, size_t size) {
    decode::ChannelDecoder decoder;
    decode::RgbConverter converter;
    decode::RgbImage image;
    size_t at = 0;
    Record r;
    uint32_t n = 0;
    for (int i = 0; i < kMaxRecords && next_record(data, size, &at, &r); ++i, ++n) {
        if (r.flags & 0x02) decoder.reset();
        if (r.flags & 0x04) decoder.set_skip_loop_filter(true);
        const size_t length = (r.flags & 0x20) ? decode::kMaxFrameBytes + 1 : r.length;
        const int rc = decoder.decode(r.bytes, length, (r.flags & 0x01) ? r.picture_size : 0,
                                      {n, n % 1000});
        if ((r.flags & 0x20) && rc != decode::DECODE_E_ARGUMENT) std::abort();
        check_picture(decoder, rc);
        if (rc == 1) convert(converter, *decoder.picture(), image, r.flags);
    }
    const decode::DecoderCounters& c = decoder.counters();
    if (c.frames != n || c.pictures > c.frames) std::abort();
    if (std::getenv("QUILLON_FUZZ_VERBOSE") != nullptr) {
        std::fprintf(stderr,
                     "display_frames: %u frames, %llu pictures, %llu failed, %llu before a key "
                     "frame, %llu refused, %llu opens\n",
                     n, static_cast<unsigned long long>(c.pictures),
                     static_cast<unsigned long long>(c.failed),
                     static_cast<unsigned long long>(c.before_key_frame),
                     static_cast<unsigned long long>(c.refused),
                     static_cast<unsigned long long>(c.opens));
    }
    return 0;
}

}  // namespace fuzz
