// Constant-rate placement of one second's frames, by milliseconds and by even spread, at 25 and
// 30 frames per second.
#include "export/placement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
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

// Appends the pieces (a literal joined to a string with + trips an optimiser warning of gcc 12).
std::string cat(std::initializer_list<std::string_view> parts) {
    std::string r;
    for (std::string_view p : parts) r += p;
    return r;
}

TEST(EvenSpread, TheGapAndPeriodRulesAtThirtyAndTwentyFive) {
    // V <= H: G = 30 / 12 - 1 = 1 empty after each frame, then padding.
    EXPECT_EQ(shape(place_evenly(12, 30)), cat({x("F.", 12), x(".", 6)}));
    // V > 15: need = 10, period = 2: an empty whenever the written count is even.
    EXPECT_EQ(shape(place_evenly(20, 30)), cat({"FF.", x("F.", 9), x("F", 9)}));
    // H = 13 at 25: 13 frames take G = 0; 14 frames: need = 11, period = 14 / 3 = 4.
    EXPECT_EQ(shape(place_evenly(13, 25)), cat({x("F", 13), x(".", 12)}));
    EXPECT_EQ(shape(place_evenly(14, 25)), cat({"FFFF.FFF.FFF.FFF.F", x(".", 7)}));
    EXPECT_EQ(shape(place_evenly(2, 25)), cat({"F", x(".", 11), "F", x(".", 12)}));
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
              cat({x(".", 15), "F", x(".", 14)}));  // 520 / 33
    EXPECT_EQ(shape(place_by_milliseconds(std::vector<uint16_t>{520}, 25)),
              cat({x(".", 13), "F", x(".", 11)}));  // 520 / 40
    // Two frames for position 3: the second takes the next free position.
    const Placement same = place_by_milliseconds(std::vector<uint16_t>{100, 120, 200}, 30);
    EXPECT_EQ(shape(same), cat({"...FF.F", x(".", 23)}));
    EXPECT_EQ(order(same), (std::vector<int>{0, 1, 2}));
    // A frame behind the position already reached follows the one before it.
    EXPECT_EQ(shape(place_by_milliseconds(std::vector<uint16_t>{500, 100, 600}, 30)),
              cat({x(".", 15), "FF.F", x(".", 11)}));
    // 995 / 33 = 30 lies past the second: the frame takes the last position, and the
    // second stays 30 frames long.
    EXPECT_EQ(shape(place_by_milliseconds(std::vector<uint16_t>{995}, 30)), cat({x(".", 29), "F"}));
    EXPECT_EQ(shape(place_by_milliseconds(std::vector<uint16_t>{980, 995}, 30)),
              cat({x(".", 28), "FF"}));
}

// Late frames crowding the end of a second move earlier only as far as needed; none is lost.
TEST(ByMilliseconds, EveryFrameUpToTheRateIsKeptInOrder) {
    for (int fps : {25, 30}) {
        for (int v = 1; v <= fps + 3; ++v) {
            for (uint16_t ms : {uint16_t{0}, uint16_t{500}, uint16_t{999}}) {
                const std::vector<uint16_t> all(static_cast<size_t>(v), ms);
                const Placement p = place_by_milliseconds(all, fps);
                ASSERT_EQ(p.count, fps);
                std::vector<int> expected;
                for (int i = 0; i < std::min(v, fps); ++i) expected.push_back(i);
                EXPECT_EQ(order(p), expected) << fps << " fps, " << v << " frames at " << ms;
            }
        }
    }
    // Frames at 900 ms and later: the last five positions at 30 fps.
    EXPECT_EQ(shape(place_by_milliseconds(std::vector<uint16_t>{10, 900, 910, 920, 930, 940}, 30)),
              cat({"F", x(".", 24), "FFFFF"}));
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
