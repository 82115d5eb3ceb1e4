// Constant-rate placement of one second's frames, by milliseconds and by even spread, at 25 and
// 30 frames per second.
#include "export/placement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// 'F' for a frame, '.' for an empty one; and the frames in the order placed.
std::string shape(const Placement& p) {
    std::string s;
    for (int i = 0; i < p.count; ++i)
        s += p.video[static_cast<size_t>(i)] == kEmptyFrame ? '.' : 'F';
    return s;
}

std::vector<int> order(const Placement& p) {
    std::vector<int> v;
    for (int i = 0; i < p.count; ++i) {
        if (p.video[static_cast<size_t>(i)] != kEmptyFrame)
            v.push_back(p.video[static_cast<size_t>(i)]);
    }
    return v;
}

std::string x(const std::string& s, int n) {
    std::string r;
    while (n-- > 0) r += s;
    return r;
}

TEST(EvenSpread, TheGapAndPeriodRulesAtThirtyAndTwentyFive) {
    // V <= H: G = 30 / 12 - 1 = 1 empty after each frame, then padding.
    EXPECT_EQ(shape(place_evenly(12, 30)), x("F.", 12) + x(".", 6));
    // V > 15: need = 10, period = 2: an empty whenever the written count is even.
    EXPECT_EQ(shape(place_evenly(20, 30)), "FF." + x("F.", 9) + x("F", 9));
    // H = 13 at 25: 13 frames take G = 0; 14 frames: need = 11, period = 14 / 3 = 4.
    EXPECT_EQ(shape(place_evenly(13, 25)), x("F", 13) + x(".", 12));
    EXPECT_EQ(shape(place_evenly(14, 25)), "FFFF.FFF.FFF.FFF.F" + x(".", 7));
    EXPECT_EQ(shape(place_evenly(2, 25)), "F" + x(".", 11) + "F" + x(".", 12));
}

TEST(EvenSpread, EveryCountFillsTheSecondExactlyAndKeepsEveryFrameInOrder) {
    for (int fps : {25, 30}) {
        for (int v = 0; v <= fps + 5; ++v) {
            const Placement p = place_evenly(v, fps);
            ASSERT_EQ(p.count, fps) << fps << " fps, " << v << " frames";
            std::vector<int> expected;
            for (int i = 0; i < std::min(v, fps); ++i) expected.push_back(i);
            EXPECT_EQ(order(p), expected) << fps << " fps, " << v << " frames";
        }
    }
}

TEST(ByMilliseconds, PositionsCollisionsAndLateFrames) {
    EXPECT_EQ(shape(place_by_milliseconds(std::vector<uint16_t>{520}, 30)),
              x(".", 15) + "F" + x(".", 14));  // 520 / 33
    EXPECT_EQ(shape(place_by_milliseconds(std::vector<uint16_t>{520}, 25)),
              x(".", 13) + "F" + x(".", 11));  // 520 / 40
    // Two frames for position 3: the first is kept.
    const Placement same = place_by_milliseconds(std::vector<uint16_t>{100, 120, 200}, 30);
    EXPECT_EQ(shape(same), "...F..F" + x(".", 23));
    EXPECT_EQ(order(same), (std::vector<int>{0, 2}));
    // A frame behind the position already reached is dropped.
    EXPECT_EQ(order(place_by_milliseconds(std::vector<uint16_t>{500, 100, 600}, 30)),
              (std::vector<int>{0, 2}));
    // 995 / 33 = 30 lies past the second: the frame takes the last position, and the
    // second stays 30 frames long.
    EXPECT_EQ(shape(place_by_milliseconds(std::vector<uint16_t>{995}, 30)), x(".", 29) + "F");
    EXPECT_EQ(place_by_milliseconds(std::vector<uint16_t>{980, 995}, 30).count, 30);
}

TEST(ByMilliseconds, RegularRecorderTimingPlacesEveryFrame) {
    for (int fps : {25, 30}) {
        std::vector<uint16_t> ms;
        for (int i = 0; i < fps; ++i) ms.push_back(static_cast<uint16_t>(i * 1000 / fps));
        EXPECT_EQ(shape(place_by_milliseconds(ms, fps)), x("F", fps)) << fps;
    }
    // Half-second groups of 15 frames 33 ms apart, as a recorder delivers them at 30 fps.
    std::vector<uint16_t> ms;
    for (int g = 0; g < 2; ++g) {
        for (int i = 0; i < 15; ++i) ms.push_back(static_cast<uint16_t>(g * 500 + i * 33));
    }
    EXPECT_EQ(shape(place_by_milliseconds(ms, 30)), x("F", 30));
}

}  // namespace
