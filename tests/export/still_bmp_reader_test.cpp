// The BMP reader: what real files hold comes through; headers that lie are refused before any
// byte is read through them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "export/still_capture.h"
#include "tests/testkit/bmp_builder.h"

namespace {

using testkit::BmpSpec;
using testkit::build_bmp;

int32_t parse(const std::vector<uint8_t>& bytes, StillDib* dib, std::string* error) {
    return still_parse_bmp(bytes.data(), bytes.size(), dib, error);
}

// 3 x 2 at 24 bits: rows of 9 bytes stored in 12.
BmpSpec small24() {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    for (int i = 0; i < 24; ++i) s.pixels.push_back(static_cast<uint8_t>(i + 1));
    return s;
}

TEST(StillBmpReader, ReadsHeadersPaletteAndRows) {
    StillDib dib;
    std::string error;
    ASSERT_EQ(parse(build_bmp(small24()), &dib, &error), 0) << error;
    EXPECT_EQ(dib.width, 3);
    EXPECT_EQ(dib.height, 2);
    EXPECT_FALSE(dib.top_down);
    EXPECT_EQ(dib.bit_count, 24);
    EXPECT_EQ(dib.bits, small24().pixels);

    // Negative height: top-down rows. A 4-bit palette that names 3 colours is filled up with
    // black to 16 entries, so every index can be looked up.
    BmpSpec s;
    s.width = 2;
    s.height = -2;
    s.bit_count = 4;
    s.colors_used = 3;
    s.palette = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0};
    s.pixels = {0x12, 0, 0, 0, 0xF0, 0, 0, 0};
    ASSERT_EQ(parse(build_bmp(s), &dib, &error), 0) << error;
    EXPECT_TRUE(dib.top_down);
    EXPECT_EQ(dib.height, 2);
    ASSERT_EQ(dib.colors.size(), 64u);
    EXPECT_EQ(dib.colors[8], 7);
    EXPECT_EQ(dib.colors[12], 0);
    std::vector<uint8_t> rgb;
    ASSERT_EQ(still_dib_to_rgb(dib, &rgb, &error), 0);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{6, 5, 4, 9, 8, 7, 0, 0, 0, 3, 2, 1}));
}

// The core header: 16-bit sizes and palette entries of 3 bytes. A 40-byte header with bit
// fields that describe 5-5-5 reads as plain 16 bits.
TEST(StillBmpReader, CoreHeaderAndPlainBitFields) {
    BmpSpec core;
    core.header_size = 12;
    core.width = 2;
    core.height = 1;
    core.bit_count = 1;
    core.palette = {10, 20, 30, 40, 50, 60};
    core.pixels = {0x40, 0, 0, 0};
    StillDib dib;
    std::string error;
    ASSERT_EQ(parse(build_bmp(core), &dib, &error), 0) << error;
    std::vector<uint8_t> rgb;
    ASSERT_EQ(still_dib_to_rgb(dib, &rgb, &error), 0);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{30, 20, 10, 60, 50, 40}));

    BmpSpec fields;
    fields.width = 1;
    fields.bit_count = 16;
    fields.compression = 3;
    fields.masks = {0x00, 0x7C, 0, 0, 0xE0, 0x03, 0, 0, 0x1F, 0, 0, 0};
    fields.pixels = {0x1F, 0x00, 0, 0};
    ASSERT_EQ(parse(build_bmp(fields), &dib, &error), 0) << error;
    ASSERT_EQ(still_dib_to_rgb(dib, &rgb, &error), 0);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{0, 0, 255}));
    // 5-6-5 would be read with the wrong colours: refused.
    fields.masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    EXPECT_EQ(parse(build_bmp(fields), &dib, &error), STILL_ERR_FORMAT);
}

// Every cut of a valid file, from nothing to one byte short, is refused.
TEST(StillBmpReader, EveryTruncationIsRefused) {
    BmpSpec s = small24();
    s.bit_count = 8;
    s.width = 5;
    s.palette.assign(1024, 0x33);
    s.pixels.assign(16, 7);
    const std::vector<uint8_t> whole = build_bmp(s);
    StillDib dib;
    std::string error;
    ASSERT_EQ(parse(whole, &dib, &error), 0) << error;
    for (size_t n = 0; n < whole.size(); ++n) {
        const std::vector<uint8_t> cut(whole.begin(),
                                       whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_LT(parse(cut, &dib, &error), 0) << n;
    }
}

TEST(StillBmpReader, LyingHeadersAreRefused) {
    struct Case {
        const char* what;
        BmpSpec spec;
        int32_t code;
    };
    std::vector<Case> cases;
    const auto add = [&](const char* what, auto change, int32_t code = STILL_ERR_FORMAT) {
        BmpSpec s = small24();
        change(s);
        cases.push_back({what, s, code});
    };
    add("pixel offset inside the headers", [](BmpSpec& s) { s.pixel_offset = 20; });
    add("pixel offset over the palette", [](BmpSpec& s) {
        s.bit_count = 8;
        s.width = 4;
        s.palette.assign(1024, 1);
        s.pixel_offset = 54 + 512;
    });
    add("palette past the end", [](BmpSpec& s) {
        s.bit_count = 8;
        s.width = 4;
        s.palette.assign(100, 1);
        s.pixels.clear();
    });
    add("height larger than the rows", [](BmpSpec& s) { s.height = 3; });
    add("width larger than the rows", [](BmpSpec& s) { s.width = 5; });
    add("zero width", [](BmpSpec& s) { s.width = 0; });
    add("negative width", [](BmpSpec& s) { s.width = -3; });
    add("zero height", [](BmpSpec& s) { s.height = 0; });
    add("most negative height", [](BmpSpec& s) { s.height = INT32_MIN; });
    add("width * height overflows", [](BmpSpec& s) {
        s.width = 0x7FFFFFFF;
        s.height = 0x7FFFFFFF;
        s.bit_count = 32;
    });
    add("width * bits overflows 32 bits", [](BmpSpec& s) {
        s.width = 0x40000000;
        s.height = 1;
        s.bit_count = 32;
    });
    add("two planes", [](BmpSpec& s) { s.planes = 2; });
    add(
        "bit count 2", [](BmpSpec& s) { s.bit_count = 2; }, STILL_ERR_BIT_COUNT);
    add(
        "bit count 0", [](BmpSpec& s) { s.bit_count = 0; }, STILL_ERR_BIT_COUNT);
    add("run-length compression", [](BmpSpec& s) {
        s.bit_count = 8;
        s.compression = 1;
        s.palette.assign(1024, 0);
    });
    add("bit fields on 24 bits", [](BmpSpec& s) {
        s.compression = 3;
        s.masks.assign(12, 0xFF);
    });
    add("header size 0", [](BmpSpec& s) { s.header_size = 0; });
    add("header size 64", [](BmpSpec& s) { s.header_size = 64; });
    add("header larger than the file", [](BmpSpec& s) {
        s.header_size = 124;
        s.pixels.clear();
        s.pixel_offset = 0;
    });
    for (const Case& c : cases) {
        StillDib dib;
        std::string error;
        std::vector<uint8_t> bytes = build_bmp(c.spec);
        if (std::string(c.what) == "header larger than the file") bytes.resize(60);
        EXPECT_EQ(parse(bytes, &dib, &error), c.code) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
    StillDib dib;
    std::string error;
    std::vector<uint8_t> not_bmp = build_bmp(small24());
    not_bmp[0] = 'P';
    EXPECT_EQ(parse(not_bmp, &dib, &error), STILL_ERR_FORMAT);
    // Pixel offsets past the end, including ones whose sum with the image size wraps 32 bits.
    for (const uint32_t offset : {0x40000000u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> far = build_bmp(small24());
        testkit::put_le(&far, 10, offset, 4);
        EXPECT_EQ(parse(far, &dib, &error), STILL_ERR_FORMAT) << offset;
    }
    EXPECT_EQ(still_read_bmp_file("/nonexistent/x.bmp", &dib, &error), STILL_ERR_OPEN);
    EXPECT_EQ(error, "Cannot open /nonexistent/x.bmp");
}

}  // namespace
