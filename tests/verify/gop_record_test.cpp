// GOP records and lists of sources read back: every length is checked against the bytes there
// are, and lines that cannot be read are refused with their number.
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "playback/record_format.h"
#include "tests/testkit/temp_image.h"
#include "verify/gop_record.h"
#include "verify/sources_list.h"

namespace {

// A record of frames of the given lengths (multiples of 4), each filled with its own byte.
std::vector<uint8_t> record_of(const std::vector<uint32_t>& lengths) {
    GopHeader h{};
    h.start_bits = kStartBits;
    h.time = RecordTime{14, 3, 2026, 5, 0, 7};
    h.milliseconds = 500;
    h.frame_count = static_cast<uint32_t>(lengths.size());
    std::vector<uint8_t> out(sizeof h);
    for (size_t i = 0; i < lengths.size(); ++i) {
        h.frames[i] = frame_entry(lengths[i] / 4, 33, i == 0 ? 1 : 2);
        out.insert(out.end(), lengths[i], static_cast<uint8_t>(0x10 + i));
    }
    h.gop_length = static_cast<uint32_t>(out.size());
    std::memcpy(out.data(), &h, sizeof h);
    return out;
}

void set_word(std::vector<uint8_t>& r, size_t offset, uint32_t value) { std::memcpy(r.data() + offset, &value, 4); }

TEST(GopRecord, FramesAreCutOutByTheFrameTable) {
    const std::vector<uint8_t> r = record_of({400, 8, 1200});
    verify::GopFrames g;
    std::string error;
    ASSERT_EQ(verify::parse_gop_record(r, &g, &error), 0) << error;
    ASSERT_EQ(g.frames.size(), 3u);
    EXPECT_EQ(g.frames[0], std::vector<uint8_t>(400, 0x10));
    EXPECT_EQ(g.frames[1], std::vector<uint8_t>(8, 0x11));
    EXPECT_EQ(g.frames[2], std::vector<uint8_t>(1200, 0x12));
    EXPECT_EQ(g.milliseconds, 500u);
    EXPECT_EQ(g.gop_length, r.size());
}

TEST(GopRecord, DamagedHeadersAndLengthsAreRefused) {
    const std::vector<uint8_t> good = record_of({400, 8});
    verify::GopFrames g;
    std::string error;
    auto refused = [&](std::vector<uint8_t> r) {
        error.clear();
        return verify::parse_gop_record(r, &g, &error) == -1 && !error.empty();
    };
    auto r = good;
    set_word(r, 0, 0xFF0FF0FE);
    EXPECT_TRUE(refused(r)) << "start bits";
    r = good;
    set_word(r, 16, static_cast<uint32_t>(good.size()) + 4);
    EXPECT_TRUE(refused(r)) << "GOP length beyond the record";
    r = good;
    set_word(r, 24, 0);
    EXPECT_TRUE(refused(r)) << "no frames";
    r = good;
    set_word(r, 24, 17);
    EXPECT_TRUE(refused(r)) << "17 frames";
    r = good;
    set_word(r, 28 + 4, frame_entry(0xFFFF, 33, 2));
    EXPECT_TRUE(refused(r)) << "a frame past the end";
    EXPECT_NE(error.find("frame 1"), std::string::npos) << error;
    EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + 90))) << "short";
}

std::string list_file(const testkit::TempDir& dir, const std::string& text) {
    const std::string path = dir.file("x.avi.sources.csv");
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(SourcesList, LinesAreReadWithAllTheirRanges) {
    testkit::TempDir dir;
    const std::string path = list_file(dir,
                                       "time,ms,channel,gop_length,frames,ranges\n"
                                       "2026-03-14 07:00:05,500,2,5000,15,1048576+4096;2097152+904\n"
                                       "2026-03-14 07:00:06,0,2,300,1,3145728+300\n");
    std::vector<verify::SourceLine> lines;
    std::string error;
    ASSERT_EQ(verify::read_sources_list(path, &lines, &error), 0) << error;
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].line, 2);
    EXPECT_EQ(lines[0].time_text, "2026-03-14 07:00:05");
    EXPECT_EQ(lines[0].milliseconds, 500u);
    EXPECT_EQ(lines[0].channel, 2);
    EXPECT_EQ(lines[0].gop_length, 5000u);
    EXPECT_EQ(lines[0].frame_count, 15u);
    ASSERT_EQ(lines[0].ranges.size(), 2u);
    EXPECT_EQ(lines[0].ranges[1].offset, 2097152u);
    EXPECT_EQ(lines[0].ranges[1].length, 904u);
    EXPECT_EQ(lines[1].ranges.size(), 1u);
}

TEST(SourcesList, UnreadableLinesAreNamed) {
    testkit::TempDir dir;
    const std::string header = "time,ms,channel,gop_length,frames,ranges\n";
    std::vector<verify::SourceLine> lines;
    std::string error;
    for (const std::string bad : {"2026-03-14 07:00:05,500,2,5000,15,\n", "2026-03-14 07:00:05,500,2,5000,15,12+\n",
                                  "2026-03-14 07:00:05,500,2,5000,15,12+0\n", "2026-03-14 07:00:05,x,2,5000,15,1+2\n",
                                  "2026-03-14 07:00:05,500,2,5000,1+2\n", "2026-03-14 07:00:05,500,2,-5,15,1+2\n"}) {
        EXPECT_EQ(verify::read_sources_list(list_file(dir, header + bad), &lines, &error), -1) << bad;
        EXPECT_EQ(error, "line 2 cannot be read") << bad;
    }
    EXPECT_EQ(verify::read_sources_list(list_file(dir, "time,ms\n"), &lines, &error), -1);
    EXPECT_EQ(verify::read_sources_list(dir.file("absent.csv"), &lines, &error), -1);
}

}  // namespace
