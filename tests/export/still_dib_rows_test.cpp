// DIB rows to RGB: row order, row padding, palettes and the 5-bit table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/still_capture.h"

namespace {

using Rgb = std::vector<uint8_t>;

Rgb convert(const StillDib& dib) {
    Rgb rgb;
    std::string error;
    EXPECT_EQ(still_dib_to_rgb(dib, &rgb, &error), 0) << error;
    return rgb;
}

Rgb pixel(const Rgb& rgb, int width, int x, int y) {
    const auto at = static_cast<size_t>((y * width + x) * 3);
    return Rgb(rgb.begin() + static_cast<std::ptrdiff_t>(at),
               rgb.begin() + static_cast<std::ptrdiff_t>(at) + 3);
}

uint16_t word555(int red, int green, int blue) {
    return static_cast<uint16_t>(red << 10 | green << 5 | blue);
}

// Three pixels of two bytes make a 6-byte row stored in 8; the two padding bytes of every row
// must be skipped, or the second row starts two bytes early.
TEST(StillDibRows, SixteenBitOddWidthReadsEachRowFromItsAlignedStart) {
    StillDib dib;
    dib.width = 3;
    dib.height = 2;
    dib.bit_count = 16;
    const uint16_t bottom[3] = {word555(31, 0, 0), word555(0, 31, 0), word555(0, 0, 31)};
    const uint16_t top[3] = {word555(4, 5, 6), word555(31, 31, 31), word555(0, 0, 0)};
    for (const uint16_t* row : {bottom, top}) {
        for (int x = 0; x < 3; ++x) {
            dib.bits.push_back(static_cast<uint8_t>(row[x]));
            dib.bits.push_back(static_cast<uint8_t>(row[x] >> 8));
        }
        dib.bits.push_back(0xAA);  // padding that must never show
        dib.bits.push_back(0xAA);
    }
    const Rgb rgb = convert(dib);
    ASSERT_EQ(rgb.size(), 18u);
    EXPECT_EQ(pixel(rgb, 3, 0, 0), (Rgb{32, 40, 48}));
    EXPECT_EQ(pixel(rgb, 3, 1, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(pixel(rgb, 3, 2, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(pixel(rgb, 3, 0, 1), (Rgb{255, 0, 0}));
    EXPECT_EQ(pixel(rgb, 3, 1, 1), (Rgb{0, 255, 0}));
    EXPECT_EQ(pixel(rgb, 3, 2, 1), (Rgb{0, 0, 255}));
}

// Every 5-bit value in each channel: 1 gives 16 (not 8), 31 gives 255, the rest 8 times v.
TEST(StillDibRows, FiveBitValuesExpandByTheTable) {
    StillDib dib;
    dib.width = 32;
    dib.height = 1;
    dib.bit_count = 16;
    for (int v = 0; v < 32; ++v) {
        const uint16_t w = word555(v, 31 - v, v);
        dib.bits.push_back(static_cast<uint8_t>(w));
        dib.bits.push_back(static_cast<uint8_t>(w >> 8));
    }
    const Rgb rgb = convert(dib);
    const auto expect = [](int v) { return v == 1 ? 16 : v == 31 ? 255 : 8 * v; };
    for (int v = 0; v < 32; ++v) {
        SCOPED_TRACE(v);
        EXPECT_EQ(pixel(rgb, 32, v, 0),
                  (Rgb{static_cast<uint8_t>(expect(v)), static_cast<uint8_t>(expect(31 - v)),
                       static_cast<uint8_t>(expect(v))}));
    }
    EXPECT_EQ(pixel(rgb, 32, 1, 0)[0], 16);
}

// A palette of 2^bits distinct colours: entry i is blue i, green 255 - i, red 3 * i (mod 256).
std::vector<uint8_t> palette(int bits) {
    std::vector<uint8_t> colors;
    for (int i = 0; i < (1 << bits); ++i) {
        colors.push_back(static_cast<uint8_t>(i));
        colors.push_back(static_cast<uint8_t>(255 - i));
        colors.push_back(static_cast<uint8_t>(3 * i));
        colors.push_back(0x77);
    }
    return colors;
}

Rgb entry(int i) {
    return {static_cast<uint8_t>(3 * i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i)};
}

// Indexes are packed most significant bits first; rows that end inside a byte or a word still
// start at their own 4-byte boundary.
TEST(StillDibRows, PalettesOfOneFourAndEightBits) {
    struct Case {
        uint16_t bits;
        int width;
        std::vector<uint8_t> rows;  // two rows, bottom first, padded
        std::vector<int> top;       // expected indexes of the top row
        std::vector<int> bottom;
    };
    const std::vector<Case> cases = {
        {1,
         10,
         {0xA5, 0x80, 0xFF, 0xFF, 0x3C, 0x40, 0xFF, 0xFF},
         {0, 0, 1, 1, 1, 1, 0, 0, 0, 1},
         {1, 0, 1, 0, 0, 1, 0, 1, 1, 0}},
        {4, 3, {0x12, 0x3F, 0xFF, 0xFF, 0xEF, 0x0F, 0xFF, 0xFF}, {14, 15, 0}, {1, 2, 3}},
        {8,
         5,
         {0, 1, 127, 128, 255, 0xEE, 0xEE, 0xEE, 9, 8, 7, 6, 5, 0xEE, 0xEE, 0xEE},
         {9, 8, 7, 6, 5},
         {0, 1, 127, 128, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        StillDib dib;
        dib.width = c.width;
        dib.height = 2;
        dib.bit_count = c.bits;
        dib.colors = palette(c.bits);
        dib.bits = c.rows;
        const Rgb rgb = convert(dib);
        for (int x = 0; x < c.width; ++x) {
            EXPECT_EQ(pixel(rgb, c.width, x, 0), entry(c.top[static_cast<size_t>(x)])) << x;
            EXPECT_EQ(pixel(rgb, c.width, x, 1), entry(c.bottom[static_cast<size_t>(x)])) << x;
        }
    }
}

// 24 bits: 5 pixels of 3 bytes stored in 16; 32 bits: the fourth byte is ignored. Top-down
// DIBs keep their row order.
TEST(StillDibRows, TwentyFourAndThirtyTwoBitsAndTopDownRows) {
    StillDib dib24;
    dib24.width = 5;
    dib24.height = 2;
    dib24.bit_count = 24;
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 5; ++x) {
            for (int c = 0; c < 3; ++c)
                dib24.bits.push_back(static_cast<uint8_t>(row * 100 + x * 10 + c));
        }
        dib24.bits.push_back(0xEE);
    }
    Rgb rgb = convert(dib24);
    EXPECT_EQ(pixel(rgb, 5, 4, 0), (Rgb{142, 141, 140}));  // top row is the second stored
    EXPECT_EQ(pixel(rgb, 5, 0, 1), (Rgb{2, 1, 0}));
    dib24.top_down = true;
    rgb = convert(dib24);
    EXPECT_EQ(pixel(rgb, 5, 4, 0), (Rgb{42, 41, 40}));

    StillDib dib32;
    dib32.width = 2;
    dib32.height = 1;
    dib32.bit_count = 32;
    dib32.bits = {1, 2, 3, 0xFF, 4, 5, 6, 0x80};
    EXPECT_EQ(convert(dib32), (Rgb{3, 2, 1, 6, 5, 4}));
}

TEST(StillDibRows, RefusesBadBitCountsAndInconsistentDibs) {
    std::string error;
    Rgb rgb;
    for (const int bits : {0, 2, 15, 48}) {
        StillDib dib;
        dib.width = 4;
        dib.height = 1;
        dib.bit_count = static_cast<uint16_t>(bits);
        dib.bits.assign(64, 0);
        dib.colors.assign(1024, 0);
        EXPECT_EQ(still_dib_to_rgb(dib, &rgb, &error), STILL_ERR_BIT_COUNT) << bits;
        EXPECT_EQ(error, "Invalid bitmap bit count");
    }
    StillDib good;
    good.width = 3;
    good.height = 2;
    good.bit_count = 8;
    good.colors = palette(8);
    good.bits.assign(8, 0);
    ASSERT_EQ(still_dib_to_rgb(good, &rgb, &error), 0);

    const auto refused = [&](StillDib dib, const char* what) {
        error.clear();
        EXPECT_EQ(still_dib_to_rgb(dib, &rgb, &error), STILL_ERR_INPUT) << what;
        EXPECT_EQ(error, "Invalid input data") << what;
    };
    StillDib d = good;
    d.width = 0;
    refused(d, "no width");
    d = good;
    d.width = -3;
    refused(d, "negative width");
    d = good;
    d.bits.resize(7);
    refused(d, "rows shorter than the sizes say");
    d = good;
    d.colors.resize(4 * 255);
    refused(d, "colour table without every index");
    d = good;
    d.height = 0;
    refused(d, "no rows");
}

}  // namespace
