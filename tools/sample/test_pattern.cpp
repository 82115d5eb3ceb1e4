#include "tools/sample/test_pattern.h"

#include <cstdio>
#include <algorithm>
#include <array>
#include <map>

#include "disk/recorder_time.h"

namespace sample {
namespace {

// Rows of 5 bits, top row first.
const std::map<char, std::array<uint8_t, 7>>& font() {
    static const std::map<char, std::array<uint8_t, 7>> glyphs = {
        {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
        {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
        {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
        {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
        {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
        {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
        {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
        {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
        {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
        {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
        {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
        {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
        {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
        {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
        {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
        {' ', {0, 0, 0, 0, 0, 0, 0}},
    };
    return glyphs;
}

void put_pixel(RgbImage& img, int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    if (x < 0 || y < 0 || x >= img.width || y >= img.height) return;
    uint8_t* p = &img.pixels[(static_cast<size_t>(y) * img.width + x) * 3];
    p[0] = r;
    p[1] = g;
    p[2] = b;
}

void draw_caption(RgbImage& img, const std::string& text, int scale) {
    const int band = 9 * scale;
    const int top = img.height - band - scale;
    for (int y = top; y < top + band; ++y) {
        for (int x = 0; x < img.width; ++x) put_pixel(img, x, y, 0, 0, 0);
    }
    int x0 = scale * 2;
    for (char ch : text) {
        auto it = font().find(ch);
        if (it != font().end()) {
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    if (!(it->second[row] & (0x10 >> col))) continue;
                    for (int dy = 0; dy < scale; ++dy) {
                        for (int dx = 0; dx < scale; ++dx) {
                            put_pixel(img, x0 + col * scale + dx, top + scale + row * scale + dy,
                                      255, 255, 255);
                        }
                    }
                }
            }
        }
        x0 += 6 * scale;
    }
}

}  // namespace

RgbImage test_pattern(int width, int height, const std::string& caption, int seed) {
    static const uint8_t kBars[8][3] = {{192, 192, 192}, {192, 192, 0}, {0, 192, 192}, {0, 192, 0},
                                        {192, 0, 192},   {192, 0, 0},   {0, 0, 192},   {16, 16, 16}};
    RgbImage img{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int bar = (x * 8 / std::max(width, 1) + seed) & 7;
            put_pixel(img, x, y, kBars[bar][0], kBars[bar][1], kBars[bar][2]);
        }
    }
    const int scale = std::max(1, std::min(width / (6 * static_cast<int>(caption.size() + 4)), height / 12));
    draw_caption(img, caption, scale);
    return img;
}

std::string caption_for(int video_channel, uint32_t time) {
    const CivilTime t = civil_from_recorder(time);
    char text[48];
    std::snprintf(text, sizeof text, "CH%02d %04d-%02d-%02d %02d:%02d:%02d", video_channel, t.year,
                  t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

}  // namespace sample
