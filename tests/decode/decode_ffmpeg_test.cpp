// The display's decoding path against the `ffmpeg` tool: every picture of the sample builder's
// H.264 and MPEG-4 recordings, decoded frame by frame as the engine delivers them and converted
// to RGB, must match what ffmpeg decodes from the same frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "decode/channel_decoder.h"
#include "decode/rgb_converter.h"
#include "tests/decode/clips.h"

namespace {

using decode::ChannelDecoder;
using decode::RgbConverter;
using decode::RgbFormat;
using decode::RgbImage;
using decodetest::Clip;

constexpr double kMinPsnr = 40.0;

struct Decoded {
    std::vector<std::vector<uint8_t>> pictures;  // packed rows
    std::vector<decode::FrameTime> times;
};

// Every frame through one channel decoder, each picture converted at `width` x `height`
// (0: the decoded size).
Decoded decode_clip(const Clip& c, RgbFormat format, decode::Scaling scaling, int width = 0,
                    int height = 0) {
    Decoded out;
    ChannelDecoder decoder;
    RgbConverter converter;
    RgbImage image;
    for (const decodetest::ClipFrame& f : c.frames) {
        const int rc = decoder.decode(f.bytes.data(), f.bytes.size(), f.picture_size, f.time);
        EXPECT_EQ(rc, 1) << "frame at " << f.time.seconds << "." << f.time.ms;
        if (rc != 1) continue;
        const decode::DecodedPicture* picture = decoder.picture();
        EXPECT_NE(picture, nullptr);
        if (picture == nullptr) continue;
        EXPECT_EQ(converter.convert(*picture, &image, width, height, format, scaling), 0);
        out.pictures.push_back(decodetest::packed_rows(image));
        out.times.push_back(image.time);
    }
    return out;
}

class DecodeAgainstFfmpeg : public ::testing::TestWithParam<sample::Codec> {};

TEST_P(DecodeAgainstFfmpeg, EveryPictureMatchesAtItsDecodedSize) {
    const Clip& c = decodetest::clip(GetParam(), 352, 240, 2);
    ASSERT_GE(c.frames.size(), 24u);  // three GOPs
    testkit::TempDir dir;
    const decodetest::RgbPictures expected = decodetest::ffmpeg_pictures(dir, c);
    const Decoded got = decode_clip(c, RgbFormat::Rgb24, decode::Scaling::Exact);
    ASSERT_EQ(got.pictures.size(), c.frames.size());
    ASSERT_EQ(expected.pictures.size(), c.frames.size());
    double lowest = 1000;
    for (size_t i = 0; i < c.frames.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(got.pictures[i].size(), expected.pictures[i].size());
        lowest = std::min(lowest, decodetest::psnr(got.pictures[i], expected.pictures[i]));
        // The picture carries its own frame's recorder time.
        EXPECT_EQ(got.times[i], c.frames[i].time);
    }
    EXPECT_GE(lowest, kMinPsnr);
    RecordProperty("lowest_psnr_db", std::to_string(lowest));
    std::printf("lowest PSNR against ffmpeg: %.2f dB over %zu pictures\n", lowest,
                c.frames.size());
}

// Tiles: scaled straight to the tile's size. The exact scaler gives ffmpeg's own picture; the
// fast and nearest ones (small tiles) stay close to it, where another picture, a shifted one or
// swapped colours would not.
TEST_P(DecodeAgainstFfmpeg, ScaledToATile) {
    const Clip& c = decodetest::clip(GetParam(), 352, 240, 2);
    ASSERT_FALSE(c.frames.empty());
    testkit::TempDir dir;
    const decodetest::RgbPictures expected = decodetest::ffmpeg_pictures(dir, c, 176, 120);
    for (const auto scaling :
         {decode::Scaling::Exact, decode::Scaling::Fast, decode::Scaling::Nearest}) {
        const bool exact = scaling == decode::Scaling::Exact;
        const char* name = exact ? "exact" : scaling == decode::Scaling::Fast ? "fast" : "nearest";
        SCOPED_TRACE(name);
        const Decoded got = decode_clip(c, RgbFormat::Rgb24, scaling, 176, 120);
        ASSERT_EQ(got.pictures.size(), expected.pictures.size());
        double lowest = 1000;
        for (size_t i = 0; i < got.pictures.size(); ++i) {
            ASSERT_EQ(got.pictures[i].size(), size_t{176} * 120 * 3);
            lowest = std::min(lowest, decodetest::psnr(got.pictures[i], expected.pictures[i]));
        }
        EXPECT_GE(lowest, exact ? kMinPsnr : 20.0);
        std::printf("lowest PSNR of 176x120 tiles (%s) against ffmpeg's scaling: %.2f dB\n",
                    name, lowest);
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, DecodeAgainstFfmpeg,
                         ::testing::Values(sample::Codec::H264, sample::Codec::Mpeg4),
                         [](const auto& p) {
                             return p.param == sample::Codec::H264 ? "H264" : "Mpeg4";
                         });

// The 32-bit format holds the word 0xFFRRGGBB in native order, as QImage::Format_RGB32 reads it,
// with the same colours as the 24-bit one.
TEST(RgbFormats, Rgb32IsTheNativeWordOfTheRgb24Colours) {
    const Clip& c = decodetest::clip(sample::Codec::H264, 352, 240, 2);
    ASSERT_GE(c.frames.size(), 2u);
    ChannelDecoder decoder;
    for (size_t i = 0; i < 2; ++i) {
        const auto& f = c.frames[i];
        ASSERT_EQ(decoder.decode(f.bytes.data(), f.bytes.size(), f.picture_size, f.time), 1);
    }
    RgbConverter converter;
    RgbImage rgb24, rgb32;
    ASSERT_EQ(converter.convert(*decoder.picture(), &rgb24, 0, 0, RgbFormat::Rgb24), 0);
    ASSERT_EQ(converter.convert(*decoder.picture(), &rgb32, 0, 0, RgbFormat::Rgb32), 0);
    ASSERT_EQ(rgb32.width(), 352);
    ASSERT_EQ(rgb32.height(), 240);
    const std::vector<uint8_t> a = decodetest::packed_rows(rgb24);
    const std::vector<uint8_t> b = decodetest::packed_rows(rgb32);
    ASSERT_EQ(b.size() / 4, a.size() / 3);
    size_t mismatches = 0;
    for (size_t p = 0; p < a.size() / 3; ++p) {
        uint32_t word;
        std::memcpy(&word, &b[p * 4], 4);
        const uint32_t want = 0xFF000000u | uint32_t{a[p * 3]} << 16 |
                              uint32_t{a[p * 3 + 1]} << 8 | a[p * 3 + 2];
        if (word != want) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u);
}

}  // namespace
