// Sessions whose oldest recording lies inside an hour, or between two quarter minutes: the
// month scan, the day search of the first and of later days, the first day's log window and
// the time seek, on rings that wrapped and ones that did not.
#include <vector>

#include "disk/recorder_time.h"
#include "tests/storage/storage_fixture.h"
#include "tools/sample/log_records.h"

namespace {

using sample::ChannelData;
using sample::VolumeContent;

uint32_t at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return static_cast<uint32_t>(recorder_from_civil(y, mo, d, h, mi, s));
}

int slot_of(uint32_t t) {
    const CivilTime c = civil_from_recorder(t);
    return c.hour * 240 + c.minute * 4 + c.second / 15;
}

constexpr int32_t kCount = 15;  // four video channels
constexpr int32_t kVideo = 3;   // video channel 1
constexpr int kRecordBytes = 16;

struct Session {
    std::vector<uint32_t> writes;  // video channel 1, in time order; the first is the oldest
    bool wrapped = false;
    std::vector<std::pair<uint32_t, std::string>> system_log;
};

// 07:20:07: inside its hour and off the quarter-minute grain; the newest time lies earlier in
// its hour (05:10) than the oldest does (07:20), and is the only recording of its day.
Session off_hour_wrapped() {
    return {{at(2026, 3, 14, 7, 20, 7), at(2026, 3, 14, 8), at(2026, 3, 15, 2),
             at(2026, 3, 16, 5, 10)},
            true,
            {{at(2026, 3, 14, 7, 20, 3), "FIRST INTERVAL"}, {at(2026, 3, 14, 7, 50), "LATER"}}};
}

// 07:00:07: on its hour's first quarter minute but off the grain.
Session off_grain() {
    return {{at(2026, 3, 14, 7, 0, 7), at(2026, 3, 14, 7, 40), at(2026, 3, 15, 1)}, false, {}};
}

// From 23:30 into the next day.
Session across_midnight() {
    return {{at(2026, 3, 14, 23, 30), at(2026, 3, 14, 23, 59, 45), at(2026, 3, 15),
             at(2026, 3, 15, 1, 15)},
            false,
            {}};
}

class UnalignedOldestTest : public testkit::StorageTest {
protected:
    int32_t mount_session(const Session& s) {
        ChannelData video;
        video.channel = kVideo;
        for (uint32_t t : s.writes) video.writes.push_back({t, testkit::pattern_bytes(kVideo, t, kRecordBytes)});
        ChannelData log;
        log.channel = kCount - 1;
        for (const auto& [t, text] : s.system_log) log.writes.push_back({t, sample::system_log_record(t, text)});
        VolumeContent content;
        if (s.wrapped) {
            // Older data was overwritten: every ring starts two slots before its end.
            video.head_slot = 1022;
            video.head_offset = 1000;
            log.head_slot = 1022;
            content.index_head_slot = 1020;
        }
        content.channels = {video, log};
        sample::DiskSpec spec = testkit::small_recorder(content, kCount);
        spec.bare.recorder.block_size = 64 * 1024;
        spec.bare.recorder.map_sectors_per_channel = 8;  // 1,024 slots
        spec.bare.recorder.oldest = s.writes.front();
        return mount(spec);
    }

    std::vector<uint32_t> month_scan() {
        std::vector<uint32_t> map(size_t{kMonthMapMonths} * kMonthMapEntries, 0);
        EXPECT_GE(tvfs_getexistmonthlog(map.data()), 0);
        return map;
    }

    // The marked slots of a day, as (slot, mask).
    std::vector<std::pair<int, uint32_t>> day(uint32_t midnight) {
        std::vector<uint32_t> map(kDaySlots, 0);
        EXPECT_EQ(tvfs_getsearchlog(midnight, map.data()), 0);
        std::vector<std::pair<int, uint32_t>> marked;
        for (int i = 0; i < kDaySlots; ++i) {
            if (map[i] != 0) marked.emplace_back(i, map[i]);
        }
        return marked;
    }

    // What the day search must give: the slots of the session's writes on that day.
    static std::vector<std::pair<int, uint32_t>> expected_day(const Session& s, uint32_t midnight) {
        std::vector<std::pair<int, uint32_t>> marked;
        for (uint32_t t : s.writes) {
            if (t >= midnight && t < midnight + 86400) marked.emplace_back(slot_of(t), 1u);
        }
        return marked;
    }
};

TEST_F(UnalignedOldestTest, MonthScanMarksEveryRecordedDayIncludingTheLastHour) {
    for (const Session& s : {off_hour_wrapped(), off_grain(), across_midnight()}) {
        SCOPED_TRACE(dvrfs_time_string(s.writes.front(), 1));
        ASSERT_EQ(mount_session(s), 0);
        const std::vector<uint32_t> map = month_scan();
        uint32_t days = 0;
        for (uint32_t t : s.writes) days |= 1u << (civil_from_recorder(t).day - 1);
        EXPECT_EQ(map[0], days);
        EXPECT_EQ(tvfs_month_day_mask(map.data(), at(2026, 3, 1)), static_cast<int32_t>(days));
        api_exit();
        reset();
        ASSERT_EQ(api_init(0, nullptr, nullptr), 0);
    }
}

TEST_F(UnalignedOldestTest, DaySearchOfTheFirstAndOfLaterDays) {
    for (const Session& s : {off_hour_wrapped(), off_grain(), across_midnight()}) {
        SCOPED_TRACE(dvrfs_time_string(s.writes.front(), 1));
        ASSERT_EQ(mount_session(s), 0);
        const CivilTime f = civil_from_recorder(s.writes.front());
        const uint32_t first_day = at(f.year, f.month, f.day);
        for (uint32_t midnight = first_day; midnight <= s.writes.back(); midnight += 86400) {
            SCOPED_TRACE(dvrfs_time_string(midnight, 1));
            const auto expected = expected_day(s, midnight);
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(day(midnight), expected);
        }
        api_exit();
        reset();
        ASSERT_EQ(api_init(0, nullptr, nullptr), 0);
    }
}

TEST_F(UnalignedOldestTest, FirstDayLogWindowOpensAtTheOldestQuarterMinute) {
    const Session s = off_hour_wrapped();
    ASSERT_EQ(mount_session(s), 0);
    const uint32_t first_day = at(2026, 3, 14);
    const uint32_t first_interval = at(2026, 3, 14, 7, 20);
    EXPECT_EQ(api_day_start(first_day), first_interval);
    EXPECT_EQ(api_day_start(first_interval), first_interval);
    EXPECT_EQ(api_day_start(first_interval + 1), first_day);
    std::vector<SystemLogRecord> list(kSystemLogMax);
    ASSERT_EQ(api_get_system_log(first_day, list.data()), 2);
    EXPECT_STREQ(list[0].text, "FIRST INTERVAL");
    EXPECT_STREQ(list[1].text, "LATER");
}

TEST_F(UnalignedOldestTest, TimeSeekCountsHoursFromTheHourOfTheOldestTime) {
    const Session s = off_hour_wrapped();
    ASSERT_EQ(mount_session(s), 0);
    const int32_t fd = backup_open(kVideo);
    ASSERT_GE(fd, 0);
    // Each write is located by its own quarter minute; the first also before its second.
    const std::vector<uint32_t> located = {at(2026, 3, 14, 7, 20), s.writes[1], s.writes[2], s.writes[3]};
    for (size_t i = 0; i < located.size(); ++i) {
        SCOPED_TRACE(dvrfs_time_string(located[i], 1));
        ASSERT_EQ(backup_locate_index(fd, static_cast<int32_t>(located[i]), nullptr), 0);
        std::vector<uint8_t> bytes(kRecordBytes);
        ASSERT_EQ(backup_read(fd, bytes.data(), kRecordBytes), kRecordBytes);
        EXPECT_EQ(bytes, testkit::pattern_bytes(kVideo, s.writes[i], kRecordBytes));
    }
    EXPECT_EQ(backup_locate_index(fd, static_cast<int32_t>(at(2026, 3, 14, 7, 19, 59)), nullptr),
              DVR_ENOINDEX);
    // The super index itself: the entry of 08:00 is the second one.
    const int32_t super = backup_open(DVR_CH_SUPER);
    ASSERT_GE(super, 0);
    ASSERT_EQ(backup_locate_index(super, static_cast<int32_t>(at(2026, 3, 14, 8, 30)), nullptr), 0);
    uint32_t entry[6] = {};
    ASSERT_EQ(backup_read(super, entry, sizeof entry), 24);
    EXPECT_EQ(entry[4], at(2026, 3, 14, 8));
    backup_close(super);
    backup_close(fd);
}

TEST_F(UnalignedOldestTest, PlayTimesBeforeTheOldestSecondClampToItsQuarterMinute) {
    ASSERT_EQ(mount_session(off_grain()), 0);
    const uint32_t first_interval = at(2026, 3, 14, 7);
    EXPECT_EQ(api_align_time(first_interval + 3, 0), first_interval);
    EXPECT_EQ(api_align_time(first_interval - 1, 0), 0u);
    EXPECT_EQ(api_align_time(first_interval - 3600, 1), first_interval);
}

}  // namespace
