// Targets the converter must refuse before swscale writes a byte, and images that keep their
// buffer.
#include <gtest/gtest.h>

#include <vector>

#include "decode/channel_decoder.h"
#include "decode/decode_errors.h"
#include "decode/rgb_converter.h"
#include "tests/decode/clips.h"

namespace {

using decode::RgbFormat;
using decode::RgbTarget;

TEST(RgbConverter, RefusesBadTargetsAndMissingPictures) {
    const auto& c = decodetest::clip(sample::Codec::Mpeg4, 96, 64, 2);
    ASSERT_FALSE(c.frames.empty());
    decode::ChannelDecoder decoder;
    const auto& key = c.frames.front();
    ASSERT_EQ(decoder.decode(key.bytes.data(), key.bytes.size(), key.picture_size, key.time), 1);
    const decode::DecodedPicture& picture = *decoder.picture();

    decode::RgbConverter converter;
    std::vector<uint8_t> pixels(64 * 48 * 4, 0xAB);
    const RgbTarget good{pixels.data(), 64, 48, 64 * 4, RgbFormat::Rgb32};
    const auto with = [&](auto change) {
        RgbTarget t = good;
        change(t);
        return converter.convert(picture, t);
    };
    EXPECT_EQ(with([](RgbTarget& t) { t.pixels = nullptr; }), decode::DECODE_E_ARGUMENT);
    EXPECT_EQ(with([](RgbTarget& t) { t.width = 0; }), decode::DECODE_E_ARGUMENT);
    EXPECT_EQ(with([](RgbTarget& t) { t.height = -48; }), decode::DECODE_E_ARGUMENT);
    EXPECT_EQ(with([](RgbTarget& t) { t.width = decode::kMaxPictureSide + 1; }),
              decode::DECODE_E_ARGUMENT);
    // A stride one byte short of a row of 32-bit pixels, and a 24-bit stride given 32-bit pixels.
    EXPECT_EQ(with([](RgbTarget& t) { t.stride = 64 * 4 - 1; }), decode::DECODE_E_ARGUMENT);
    EXPECT_EQ(with([](RgbTarget& t) { t.stride = 64 * 3; }), decode::DECODE_E_ARGUMENT);
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint8_t b) { return b == 0xAB; }));
    EXPECT_EQ(converter.convert(decode::DecodedPicture{}, good), decode::DECODE_E_NO_PICTURE);

    // The good target is written in full, and only it: a 24-bit picture in the same buffer
    // leaves the bytes past its rows alone.
    EXPECT_EQ(converter.convert(picture, good), 0);
    std::fill(pixels.begin(), pixels.end(), 0xAB);
    EXPECT_EQ(converter.convert(picture, {pixels.data(), 64, 48, 64 * 3, RgbFormat::Rgb24}), 0);
    EXPECT_TRUE(std::all_of(pixels.begin() + 64 * 48 * 3, pixels.end(),
                            [](uint8_t b) { return b == 0xAB; }));
    EXPECT_FALSE(std::all_of(pixels.begin(), pixels.begin() + 64 * 48 * 3,
                             [](uint8_t b) { return b == 0xAB; }));

    decode::RgbImage image;
    EXPECT_EQ(converter.convert(picture, nullptr, 0, 0, RgbFormat::Rgb32),
              decode::DECODE_E_ARGUMENT);
    EXPECT_EQ(converter.convert(decode::DecodedPicture{}, &image, 0, 0, RgbFormat::Rgb32),
              decode::DECODE_E_NO_PICTURE);
}

// An image grows for a bigger picture and keeps its buffer for a smaller one; its rows stay
// aligned and its time is the picture's.
TEST(RgbImage, KeepsItsBufferAndTheTime) {
    const auto& c = decodetest::clip(sample::Codec::H264, 96, 64, 2);
    ASSERT_GE(c.frames.size(), 2u);
    decode::ChannelDecoder decoder;
    for (size_t i = 0; i < 2; ++i) {
        const auto& f = c.frames[i];
        ASSERT_EQ(decoder.decode(f.bytes.data(), f.bytes.size(), f.picture_size, f.time), 1);
    }
    decode::RgbConverter converter;
    decode::RgbImage image;
    EXPECT_EQ(image.resize(0, 10, RgbFormat::Rgb32), decode::DECODE_E_ARGUMENT);
    EXPECT_EQ(image.resize(10, decode::kMaxPictureSide + 1, RgbFormat::Rgb32),
              decode::DECODE_E_ARGUMENT);
    ASSERT_EQ(converter.convert(*decoder.picture(), &image, 0, 0, RgbFormat::Rgb24), 0);
    EXPECT_EQ(image.width(), 96);
    EXPECT_EQ(image.height(), 64);
    EXPECT_EQ(image.time, c.frames[1].time);
    const uint8_t* buffer = image.pixels();
    ASSERT_EQ(converter.convert(*decoder.picture(), &image, 33, 21, RgbFormat::Rgb32,
                                decode::Scaling::Fast),
              0);
    EXPECT_EQ(image.pixels(), buffer);
    EXPECT_EQ(image.width(), 33);
    EXPECT_EQ(image.stride() % 16, 0);
    EXPECT_GE(image.stride(), 33 * 4);
}

}  // namespace
