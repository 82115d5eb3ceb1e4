// A channel's stream as the engine delivers it, with what goes wrong on real disks: codec and
// size changes, damaged frames, playback starting between key frames, impossible sizes.
#include <gtest/gtest.h>

#include <vector>

#include "decode/channel_decoder.h"
#include "decode/decode_errors.h"
#include "tests/decode/clips.h"

namespace {

using decode::ChannelDecoder;
using decode::VideoCodec;
using decodetest::ClipFrame;
using sample::Codec;

constexpr size_t kGop = 8;  // frames per GOP of the clips

const decodetest::Clip& small(Codec codec, int width = 96, int height = 64) {
    return decodetest::clip(codec, width, height, 2);
}

// Results of feeding frames in order.
std::vector<int> feed(ChannelDecoder& decoder, const std::vector<ClipFrame>& frames) {
    std::vector<int> results;
    for (const ClipFrame& f : frames) {
        results.push_back(decoder.decode(f.bytes.data(), f.bytes.size(), f.picture_size, f.time));
    }
    return results;
}

std::vector<int> all(size_t n, int result) { return std::vector<int>(n, result); }

void expect_picture(const ChannelDecoder& decoder, int width, int height,
                    decode::FrameTime time) {
    const decode::DecodedPicture* p = decoder.picture();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->width, width);
    EXPECT_EQ(p->height, height);
    EXPECT_EQ(p->time, time);
}

TEST(ChannelDecoderStream, CodecAndSizeChangesReopenTheDecoder) {
    const auto h264 = decodetest::frames(small(Codec::H264), 0, kGop);
    const auto mpeg4 = decodetest::frames(small(Codec::Mpeg4), 0, kGop);
    const auto larger = decodetest::frames(small(Codec::H264, 128, 96), 0, kGop);
    const auto h264_next = decodetest::frames(small(Codec::H264), kGop, 2 * kGop);
    ASSERT_EQ(h264.size(), kGop);
    ASSERT_EQ(mpeg4.size(), kGop);
    ASSERT_EQ(larger.size(), kGop);
    ASSERT_FALSE(h264_next.empty());

    ChannelDecoder decoder;
    EXPECT_EQ(decoder.codec(), VideoCodec::None);
    EXPECT_EQ(feed(decoder, h264), all(kGop, 1));
    EXPECT_EQ(decoder.codec(), VideoCodec::H264);
    // The next GOP of the same stream goes on in the same decoder.
    EXPECT_EQ(feed(decoder, h264_next), all(h264_next.size(), 1));
    EXPECT_EQ(decoder.counters().opens, 1u);

    EXPECT_EQ(feed(decoder, mpeg4), all(kGop, 1));
    EXPECT_EQ(decoder.codec(), VideoCodec::Mpeg4);
    EXPECT_EQ(decoder.counters().opens, 2u);
    expect_picture(decoder, 96, 64, mpeg4.back().time);

    EXPECT_EQ(feed(decoder, larger), all(kGop, 1));
    EXPECT_EQ(decoder.counters().opens, 3u);
    EXPECT_EQ(decoder.picture_size(), (decode::PictureSize{128, 96}));
    expect_picture(decoder, 128, 96, larger.back().time);

    // Back to the small H.264 stream, with the loop filter skipped from here on.
    decoder.set_skip_loop_filter(true);
    EXPECT_EQ(feed(decoder, h264), all(kGop, 1));
    EXPECT_EQ(decoder.counters().opens, 4u);
    expect_picture(decoder, 96, 64, h264.back().time);
    EXPECT_EQ(decoder.counters().failed, 0u);
    EXPECT_EQ(decoder.counters().pictures, decoder.counters().frames);
}

// The same picture size word but another codec still reopens: MPEG-4 bytes must never reach
// the H.264 decoder.
TEST(ChannelDecoderStream, CodecChangeAtTheSameSize) {
    ChannelDecoder decoder;
    const auto mpeg4 = decodetest::frames(small(Codec::Mpeg4), 0, 2);
    const auto h264 = decodetest::frames(small(Codec::H264), 0, 2);
    ASSERT_EQ(mpeg4.front().picture_size, h264.front().picture_size);
    EXPECT_EQ(feed(decoder, mpeg4), all(2, 1));
    EXPECT_EQ(feed(decoder, h264), all(2, 1));
    EXPECT_EQ(decoder.counters().opens, 2u);
}

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>(seed >> 16);
    }
    return b;
}

class GarbageFrames : public ::testing::TestWithParam<Codec> {};

// Damaged frames anywhere are counted and passed over; the channel goes on, and the next key
// frame gives a good picture again.
TEST_P(GarbageFrames, AreCountedAndTheNextKeyFrameDecodes) {
    const auto& c = small(GetParam());
    const auto first = decodetest::frames(c, 0, kGop);
    const auto second = decodetest::frames(c, kGop, 2 * kGop);
    ASSERT_EQ(first.size(), kGop);
    ASSERT_FALSE(second.empty());
    const uint32_t size_word = first.front().picture_size;

    ChannelDecoder decoder;
    EXPECT_EQ(feed(decoder, decodetest::frames(c, 0, 3)), all(3, 1));

    // Noise where a P-frame belongs, a key frame of noise in each codec's framing, and a real
    // frame cut to its first bytes.
    std::vector<uint8_t> h264_noise = noise(600, 7);
    h264_noise[0] = h264_noise[1] = h264_noise[2] = 0;
    h264_noise[3] = 1;
    const std::vector<uint8_t> other_noise = noise(600, 9);
    const std::vector<uint8_t> cut(first[3].bytes.begin(), first[3].bytes.begin() + 6);
    EXPECT_EQ(decoder.decode(other_noise.data(), other_noise.size(), 0, {}), decode::DECODE_E_DATA);
    EXPECT_EQ(decoder.decode(cut.data(), cut.size(), 0, {}), decode::DECODE_E_DATA);
    EXPECT_EQ(decoder.decode(h264_noise.data(), h264_noise.size(), size_word, {}),
              decode::DECODE_E_DATA);
    EXPECT_EQ(decoder.decode(other_noise.data(), other_noise.size(), size_word, {}),
              decode::DECODE_E_DATA);
    EXPECT_EQ(decoder.counters().failed, 4u);
    EXPECT_EQ(decoder.counters().pictures, 3u);

    // The rest of the damaged GOP may or may not decode; the next GOP must, in full.
    feed(decoder, decodetest::frames(c, 3, kGop));
    EXPECT_EQ(feed(decoder, second), all(second.size(), 1));
    expect_picture(decoder, c.width, c.height, second.back().time);
}

INSTANTIATE_TEST_SUITE_P(Codecs, GarbageFrames, ::testing::Values(Codec::H264, Codec::Mpeg4),
                         [](const auto& p) { return p.param == Codec::H264 ? "H264" : "Mpeg4"; });

// Playback starts anywhere: frames before the first key frame, and after a reset (a
// reposition), are dropped and counted until a key frame comes.
TEST(ChannelDecoderStream, FramesBeforeAKeyFrameAreDropped) {
    const auto& c = small(Codec::H264);
    const auto tail = decodetest::frames(c, 3, kGop);
    const auto next = decodetest::frames(c, kGop, kGop + 3);
    ASSERT_FALSE(tail.empty());
    ASSERT_EQ(next.size(), 3u);

    ChannelDecoder decoder;
    EXPECT_EQ(feed(decoder, tail), all(tail.size(), decode::DECODE_E_NO_KEY_FRAME));
    EXPECT_EQ(decoder.counters().before_key_frame, tail.size());
    EXPECT_EQ(decoder.picture(), nullptr);
    EXPECT_EQ(decoder.counters().opens, 0u);
    EXPECT_EQ(feed(decoder, next), all(3, 1));
    expect_picture(decoder, 96, 64, next.back().time);

    decoder.reset();
    EXPECT_EQ(decoder.picture(), nullptr);
    EXPECT_EQ(feed(decoder, tail), all(tail.size(), decode::DECODE_E_NO_KEY_FRAME));
    EXPECT_EQ(decoder.counters().before_key_frame, 2 * tail.size());
    // The same stream after the reset: no reopen.
    EXPECT_EQ(feed(decoder, next), all(3, 1));
    EXPECT_EQ(decoder.counters().opens, 1u);
    EXPECT_EQ(decoder.counters().failed, 0u);
}

// What cannot be a frame or a picture is refused before any decoder or picture is made.
TEST(ChannelDecoderStream, ImpossibleFramesAndSizesAreRefused) {
    const auto& c = small(Codec::H264);
    const auto gop = decodetest::frames(c, 0, kGop);
    ASSERT_EQ(gop.size(), kGop);
    const ClipFrame& key = gop.front();
    ChannelDecoder decoder;

    EXPECT_EQ(decoder.decode(nullptr, 100, key.picture_size, {}), decode::DECODE_E_ARGUMENT);
    EXPECT_EQ(decoder.decode(key.bytes.data(), 0, key.picture_size, {}), decode::DECODE_E_ARGUMENT);
    // Never read: the length is refused first.
    EXPECT_EQ(decoder.decode(key.bytes.data(), decode::kMaxFrameBytes + 1, key.picture_size, {}),
              decode::DECODE_E_ARGUMENT);
    for (const uint32_t word : {0x00000040u, 0x00600000u, 0x10010040u, 0x00601001u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(word);
        EXPECT_EQ(decoder.decode(key.bytes.data(), key.bytes.size(), word, {}),
                  decode::DECODE_E_PICTURE_SIZE);
    }
    EXPECT_EQ(decoder.counters().refused, 8u);
    EXPECT_EQ(decoder.counters().opens, 0u);
    // The GOP behind a refused key frame waits for a good one.
    EXPECT_EQ(feed(decoder, decodetest::frames(c, 1, 3)), all(2, decode::DECODE_E_NO_KEY_FRAME));

    // The largest accepted size opens; the stream's own smaller picture decodes in it.
    const uint32_t largest = uint32_t{decode::kMaxPictureSide} << 16 | decode::kMaxPictureSide;
    EXPECT_EQ(decoder.decode(key.bytes.data(), key.bytes.size(), largest, key.time), 1);
    expect_picture(decoder, 96, 64, key.time);

    // A refused key frame mid-stream stops the GOP's P-frames too.
    EXPECT_EQ(decoder.decode(key.bytes.data(), key.bytes.size(), 0x00000040u, {}),
              decode::DECODE_E_PICTURE_SIZE);
    EXPECT_EQ(feed(decoder, decodetest::frames(c, 1, 2)), all(1, decode::DECODE_E_NO_KEY_FRAME));
}

// The codec is told by the first four bytes alone.
TEST(FrameProbe, CodecAndPictureSize) {
    const std::vector<uint8_t> long_code{0, 0, 0, 1, 0x67};
    const std::vector<uint8_t> short_code{0, 0, 1, 0xB0, 0};
    const std::vector<uint8_t> three{0, 0, 0};
    EXPECT_EQ(decode::codec_of(long_code.data(), long_code.size()), VideoCodec::H264);
    EXPECT_EQ(decode::codec_of(long_code.data(), 4), VideoCodec::H264);
    EXPECT_EQ(decode::codec_of(short_code.data(), short_code.size()), VideoCodec::Mpeg4);
    EXPECT_EQ(decode::codec_of(three.data(), three.size()), VideoCodec::Mpeg4);
    EXPECT_EQ(decode::codec_of(nullptr, 4), VideoCodec::None);
    EXPECT_EQ(decode::codec_of(long_code.data(), 0), VideoCodec::None);

    decode::PictureSize s{7, 7};
    EXPECT_EQ(decode::parse_picture_size(704u << 16 | 576u, &s), 0);
    EXPECT_EQ(s, (decode::PictureSize{704, 576}));
    EXPECT_EQ(decode::parse_picture_size(1u << 16 | 1u, &s), 0);
    EXPECT_EQ(s, (decode::PictureSize{1, 1}));
    EXPECT_EQ(decode::parse_picture_size(4097u << 16 | 576u, &s), decode::DECODE_E_PICTURE_SIZE);
    EXPECT_EQ(decode::parse_picture_size(704u << 16, &s), decode::DECODE_E_PICTURE_SIZE);
    EXPECT_EQ(s, (decode::PictureSize{1, 1}));
}

}  // namespace
