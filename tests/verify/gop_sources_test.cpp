// The GOPs an export job notes: one entry per GOP record however often its frames come (a
// restart reads part of the span again), and per file only those with a frame inside it.
#include <gtest/gtest.h>

#include "export/gop_sources.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tests/testkit/volume_helpers.h"
#include "verify/sources_list.h"

namespace {

using testkit::kT0;

GopSource source_at(uint64_t offset, uint32_t time, uint32_t length) {
    GopSource s{};
    s.time = time;
    s.milliseconds = 500;
    s.gop_length = length;
    s.frame_count = 8;
    s.range_count = 2;
    s.ranges[0] = ImageRange{offset, length - 100};
    s.ranges[1] = ImageRange{offset + 4096, 100};
    return s;
}

FrameTime at(uint32_t t, uint16_t ms) { return FrameTime{t, ms}; }

TEST(GopSources, AGopHandedAgainStaysOneEntryWithAllItsFrames) {
    GopSources g;
    const GopSource a = source_at(1 << 20, kT0, 3000), b = source_at(2 << 20, kT0 + 1, 3000);
    g.note(0, a, at(kT0, 533));
    g.note(0, a, at(kT0, 866));
    g.note(0, b, at(kT0 + 1, 533));
    // A restart goes back and hands both again, then goes on.
    g.note(0, a, at(kT0, 533));
    g.note(0, b, at(kT0 + 1, 533));
    g.note(0, b, at(kT0 + 1, 999));
    const auto all = g.within(0, at(0, 0), at(UINT32_MAX, 999));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].ranges[0].offset, uint64_t{1} << 20);
    EXPECT_EQ(all[0].last.milliseconds, 866);
    EXPECT_EQ(all[1].first.milliseconds, 533);
    EXPECT_EQ(all[1].last.milliseconds, 999);
    EXPECT_TRUE(g.within(1, at(0, 0), at(UINT32_MAX, 999)).empty()) << "another channel";
}

TEST(GopSources, AFileListsTheGopsWithAFrameInsideIt) {
    GopSources g;
    for (uint32_t i = 0; i < 6; ++i) {
        const GopSource s = source_at((i + 1) * 65536ull, kT0 + i, 2000);
        g.note(2, s, at(kT0 + i, 100));
        g.note(2, s, at(kT0 + i, 900));
    }
    // A part from the middle of second 1 to the start of second 3.
    const auto part = g.within(2, at(kT0 + 1, 500), at(kT0 + 3, 100));
    ASSERT_EQ(part.size(), 3u);
    EXPECT_EQ(part.front().time, kT0 + 1);
    EXPECT_EQ(part.back().time, kT0 + 3);
    EXPECT_TRUE(g.within(2, at(kT0 + 3, 901), at(kT0 + 3, 999)).empty());
    // Once a file up to second 3 is finished, the GOPs before are forgotten; a GOP met again
    // after that is one entry again.
    g.drop_before(2, at(kT0 + 3, 100));
    EXPECT_EQ(g.within(2, at(0, 0), at(UINT32_MAX, 999)).size(), 3u);
    g.note(2, source_at(4 * 65536ull, kT0 + 3, 2000), at(kT0 + 3, 950));
    const auto left = g.within(2, at(0, 0), at(UINT32_MAX, 999));
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left.front().last.milliseconds, 950);
    g.clear();
    EXPECT_TRUE(g.within(2, at(0, 0), at(UINT32_MAX, 999)).empty());
}

TEST(GopSources, SourcesWithoutRangesAreNotNoted) {
    GopSources g;
    GopSource none = source_at(4096, kT0, 1000);
    none.range_count = 0;
    g.note(0, none, at(kT0, 0));
    GopSource too_many = source_at(8192, kT0, 1000);
    too_many.range_count = kGopSourceRanges + 1;
    g.note(0, too_many, at(kT0, 0));
    // A frame whose slot names no source is counted: the list cannot trace it.
    g.note(3, -1, kT0, 0);
    g.note(3, kPlaybackSlots, kT0, 33);
    EXPECT_EQ(g.unplaced(3), 2u);
    EXPECT_EQ(g.unplaced(0), 0u);
    g.note(-1, source_at(4096, kT0, 1000), at(kT0, 0));
    g.note(kVideoChannels, source_at(4096, kT0, 1000), at(kT0, 0));
    EXPECT_TRUE(g.within(0, at(0, 0), at(UINT32_MAX, 999)).empty());
    g.clear();
    EXPECT_EQ(g.unplaced(3), 0u);
}

// What the job writes reads back line for line.
TEST(GopSources, TheWrittenListReadsBack) {
    GopSources g;
    g.note(4, source_at(3 << 20, kT0 + 7, 5000), at(kT0 + 7, 600));
    const auto gops = g.within(4, at(0, 0), at(UINT32_MAX, 999));
    testkit::TempDir dir;
    const std::string path = dir.file("x.avi.sources.csv");
    std::string error;
    ASSERT_EQ(write_gop_sources(path, gops, 5, &error), 0) << error;
    std::vector<verify::SourceLine> lines;
    ASSERT_EQ(verify::read_sources_list(path, &lines, &error), 0) << error;
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].time_text, "2026-03-14 07:00:07");
    EXPECT_EQ(lines[0].channel, 5);
    EXPECT_EQ(lines[0].gop_length, 5000u);
    ASSERT_EQ(lines[0].ranges.size(), 2u);
    EXPECT_EQ(lines[0].ranges[1].offset, (3u << 20) + 4096u);
    EXPECT_EQ(lines[0].ranges[1].length, 100u);
    EXPECT_EQ(write_gop_sources(dir.file("no/such/folder.csv"), gops, 5, &error), -1);
    // A second list under the name replaces nothing.
    EXPECT_EQ(write_gop_sources(path, {}, 5, &error), -1);
    EXPECT_NE(error.find("exists already"), std::string::npos) << error;
    ASSERT_EQ(verify::read_sources_list(path, &lines, &error), 0) << error;
    EXPECT_EQ(lines.size(), 1u);
}

}  // namespace
