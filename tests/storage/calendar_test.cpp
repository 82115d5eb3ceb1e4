// The month scan and the day search.
#include <vector>

#include "disk/recorder_time.h"
#include "tests/storage/storage_fixture.h"
#include "tests/testkit/stderr_capture.h"

namespace {

using sample::ChannelData;
using sample::VolumeContent;

uint32_t at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return static_cast<uint32_t>(recorder_from_civil(y, mo, d, h, mi, s));
}

// A channel with one small write at each of the given times.
ChannelData writes_at(int32_t channel, const std::vector<uint32_t>& times) {
    ChannelData d;
    d.channel = channel;
    for (uint32_t t : times) d.writes.push_back({t, testkit::pattern_bytes(channel, t, 16)});
    return d;
}

// A count-15 volume (4 video channels) with larger blocks and maps, for sessions of weeks.
sample::DiskSpec long_volume(const VolumeContent& content) {
    sample::DiskSpec spec = testkit::small_recorder(content, 15);
    spec.bare.recorder.block_size = 64 * 1024;
    spec.bare.recorder.map_sectors_per_channel = 8;
    return spec;
}

class CalendarTest : public testkit::StorageTest {
protected:
    std::vector<uint32_t> scan() {
        std::vector<uint32_t> map(size_t{kMonthMapMonths} * kMonthMapEntries, 0);
        EXPECT_GE(tvfs_getexistmonthlog(map.data()), 0);
        return map;
    }
};

TEST_F(CalendarTest, SessionAcrossThreeMonthsMarksEachDayInItsOwnMonth) {
    VolumeContent content;
    content.channels = {writes_at(3, {at(2026, 1, 30, 10), at(2026, 1, 31, 23, 59, 45),
                                      at(2026, 2, 14, 12), at(2026, 3, 2, 8)})};
    ASSERT_EQ(mount(long_volume(content)), 0);
    const std::vector<uint32_t> map = scan();
    EXPECT_EQ(map[0 * kMonthMapEntries + 0], (1u << 29) | (1u << 30));  // 30 and 31 January
    EXPECT_EQ(map[1 * kMonthMapEntries + 0], 1u << 13);                  // 14 February
    EXPECT_EQ(map[2 * kMonthMapEntries + 0], 1u << 1);                   // 2 March
    for (size_t i = 3 * kMonthMapEntries; i < map.size(); ++i) ASSERT_EQ(map[i], 0u) << i;
    EXPECT_EQ(tvfs_month_day_mask(map.data(), at(2026, 2, 1)), 1 << 13);
    EXPECT_EQ(tvfs_month_day_mask(map.data(), at(2026, 3, 31)), 1 << 1);
    EXPECT_EQ(tvfs_month_day_mask(map.data(), at(2025, 12, 31)), kApiRefused);
}

TEST_F(CalendarTest, DaysOneAndThirtyOneOfAMonth) {
    VolumeContent content;
    content.channels = {writes_at(4, {at(2026, 5, 1, 0, 0, 15), at(2026, 5, 31, 23, 30)})};
    ASSERT_EQ(mount(long_volume(content)), 0);
    const std::vector<uint32_t> map = scan();
    EXPECT_EQ(tvfs_month_day_mask(map.data(), at(2026, 5, 1)), (1 << 0) | (1 << 30));
    EXPECT_EQ(map[1], (1u << 0) | (1u << 30));  // video channel 2 is entry 1
    for (size_t i = kMonthMapEntries; i < map.size(); ++i) ASSERT_EQ(map[i], 0u);
}

TEST_F(CalendarTest, OnlyTheLowestChannelOfAnHourMarksTheDay) {
    VolumeContent content;
    content.channels = {writes_at(5, {at(2026, 6, 3, 10, 5)}), writes_at(7, {at(2026, 6, 3, 10, 7)})};
    ASSERT_EQ(mount(long_volume(content)), 0);
    const std::vector<uint32_t> map = scan();
    EXPECT_EQ(map[2], 1u << 2);  // channel 5 = video channel 3 = entry 2
    EXPECT_EQ(map[4], 0u);       // channel 7 recorded in the same hour, but is not the lowest
}

TEST_F(CalendarTest, MonthScanWithoutSessionIsRefused) {
    std::vector<uint32_t> map(size_t{kMonthMapMonths} * kMonthMapEntries, 0);
    EXPECT_EQ(tvfs_getexistmonthlog(map.data()), kApiRefused);
    std::vector<uint32_t> day(kDaySlots, 0);
    EXPECT_EQ(tvfs_getsearchlog(at(2026, 1, 1), day.data()), kApiRefused);
}

class DaySearchTest : public testkit::StorageTest {
protected:
    std::vector<uint32_t> search(uint32_t day, int32_t expect = 0) {
        std::vector<uint32_t> map(kDaySlots, 0);
        EXPECT_EQ(tvfs_getsearchlog(day, map.data()), expect);
        return map;
    }
};

TEST_F(DaySearchTest, RecordMarksItsQuarterMinuteForItsChannels) {
    VolumeContent content;
    const uint32_t t = at(2026, 7, 9, 13, 7, 44);
    // On a count-15 volume four channels are shown; channel 7 (its first audio channel) is
    // beyond them and its bit is ignored.
    content.channels = {writes_at(3, {at(2026, 7, 9, 12), t}), writes_at(4, {t}), writes_at(7, {t})};
    ASSERT_EQ(mount(testkit::small_recorder(content, 15)), 0);
    ASSERT_EQ(api_display_channels(), 4);
    const std::vector<uint32_t> map = search(at(2026, 7, 9));
    EXPECT_EQ(map[13 * 240 + 7 * 4 + 2], 0x3u);  // slot 3,150: video channels 1 and 2
    EXPECT_EQ(map[12 * 240], 0x1u);
    size_t marked = 0;
    for (uint32_t m : map) marked += m != 0;
    EXPECT_EQ(marked, 2u);
}

TEST_F(DaySearchTest, TornLastRecordEndsTheScanQuietly) {
    VolumeContent content;
    content.channels = {writes_at(3, {at(2026, 7, 9, 13), at(2026, 7, 9, 13, 0, 30)})};
    content.trailing_bytes[2] = std::vector<uint8_t>(10, 0x11);
    ASSERT_EQ(mount(testkit::small_recorder(content, 29)), 0);
    testkit::StderrCapture capture;
    dvrfs_set_trace(true);
    const std::vector<uint32_t> map = search(at(2026, 7, 9));
    dvrfs_set_trace(false);
    EXPECT_EQ(map[13 * 240], 1u);
    EXPECT_EQ(map[13 * 240 + 2], 1u);
    EXPECT_NE(capture.text().find("tvfs_getsearchlog DVR_ENEED_FSCK\n"), std::string::npos);
    EXPECT_EQ(api_state().search_busy, 0);
}

TEST_F(DaySearchTest, DayOutsideTheSessionIsRefused) {
    VolumeContent content;
    content.channels = {writes_at(3, {at(2026, 7, 9, 13), at(2026, 7, 10, 2)})};
    ASSERT_EQ(mount(testkit::small_recorder(content, 29)), 0);
    search(at(2026, 7, 8), kApiRefused);
    search(at(2026, 7, 11), kApiRefused);
    EXPECT_EQ(api_state().search_busy, 0);
    // The session's first day starts at its oldest recording; the next day at midnight.
    EXPECT_EQ(search(at(2026, 7, 9))[13 * 240], 1u);
    const std::vector<uint32_t> second = search(at(2026, 7, 10));
    EXPECT_EQ(second[2 * 240], 1u);
    EXPECT_EQ(second[13 * 240], 0u);
}

}  // namespace
