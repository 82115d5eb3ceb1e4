// The system, event and capture log readers over one day.
#include <cstring>
#include <vector>

#include "disk/recorder_time.h"
#include "tests/storage/storage_fixture.h"
#include "tests/testkit/stderr_capture.h"
#include "tools/sample/log_records.h"

namespace {

using sample::ChannelData;
using sample::VolumeContent;

uint32_t at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return static_cast<uint32_t>(recorder_from_civil(y, mo, d, h, mi, s));
}

const uint32_t kFirst = at(2026, 8, 20, 9, 30);  // the session's oldest recording
constexpr int32_t kCount = 29;

class LogTest : public testkit::StorageTest {
protected:
    // A count-29 volume from kFirst to the end of the next day, with the given log channel.
    int32_t mount_with(ChannelData log, uint32_t map_sectors = 4) {
        VolumeContent content;
        content.channels = {
            [] {
                ChannelData video;
                video.channel = 3;
                for (uint32_t t : {kFirst, at(2026, 8, 21, 23, 59, 45)}) {
                    video.writes.push_back({t, std::vector<uint8_t>(8, 1)});
                }
                return video;
            }(),
            std::move(log)};
        sample::DiskSpec spec = testkit::small_recorder(content, kCount);
        spec.bare.recorder.map_sectors_per_channel = map_sectors;
        return mount(spec);
    }

    template <typename Record>
    std::vector<Record> list(int32_t (*reader)(uint32_t, Record*), uint32_t day, int max,
                             int32_t* rc) {
        std::vector<Record> out(static_cast<size_t>(max) + 1);
        std::memset(out.data(), 0x5C, out.size() * sizeof(Record));
        *rc = reader(day, out.data());
        // Nothing is written past the list's limit.
        const auto* guard = reinterpret_cast<const uint8_t*>(&out[static_cast<size_t>(max)]);
        for (size_t i = 0; i < sizeof(Record); ++i) EXPECT_EQ(guard[i], 0x5C);
        out.resize(*rc > 0 ? static_cast<size_t>(*rc) : 0);
        return out;
    }
};

ChannelData log_channel(int32_t channel, std::vector<std::pair<uint32_t, std::vector<uint8_t>>> records) {
    ChannelData d;
    d.channel = channel;
    for (auto& [t, bytes] : records) d.writes.push_back({t, std::move(bytes)});
    return d;
}

TEST_F(LogTest, SystemLogKeepsPrintableTextAndTracesTheRest) {
    const uint32_t day = at(2026, 8, 21);
    std::string full(56, 'X');
    std::vector<uint8_t> control = sample::system_log_record(day + 60, "\nBAD");
    ASSERT_EQ(mount_with(log_channel(kCount - 1, {
        {day + 10, sample::system_log_record(day + 10, "ABC")},
        {day + 60, control},
        {day + 70, sample::system_log_record(day + 70, full)},
        {day + 80, sample::system_log_record(day + 80, "HIGH \x80")},
        {day + 90, sample::system_log_record(day + 90, "UNIT\x1f" "SEP")},
    })), 0);
    testkit::StderrCapture capture;
    dvrfs_set_trace(true);
    int32_t rc = 0;
    auto records = list<SystemLogRecord>(api_get_system_log, day, kSystemLogMax, &rc);
    dvrfs_set_trace(false);
    ASSERT_EQ(rc, 2);
    EXPECT_STREQ(records[0].text, "ABC");
    EXPECT_EQ(records[1].time, day + 90);
    const std::string trace = capture.text();
    EXPECT_NE(trace.find("Invalid LOG data[a]\n"), std::string::npos);
    EXPECT_NE(trace.find("Invalid LOG data[ffffff80]\n"), std::string::npos);
}

TEST_F(LogTest, EventLogSkipsUnusedRecordsAndStopsAtATimeAfterTheDay) {
    const uint32_t day = at(2026, 8, 21);
    ASSERT_EQ(mount_with(log_channel(kCount - 3, {
        {day + 5, sample::event_log_record(day + 5, 0, 2)},
        {day + 6, sample::event_log_record(day + 6, 1, 3, 0)},  // not in use
        {day + 7, sample::event_log_record(day + 7, 2, 4)},
        {day + 8, sample::event_log_record(0, 2, 4)},           // no time
        {day + 9, sample::event_log_record(0xFFFFFFFF, 3, 1)},  // ends the list
        {day + 10, sample::event_log_record(day + 10, 3, 1)},
    })), 0);
    int32_t rc = 0;
    auto records = list<EventLogRecord>(api_get_event_log, day, kEventLogMax, &rc);
    ASSERT_EQ(rc, 2);
    EXPECT_EQ(records[0].t, day + 5);
    EXPECT_EQ(records[0].type, 2);
    EXPECT_EQ(records[1].t, day + 7);
    EXPECT_STREQ(event_type_name(records[1].type), "Manual");
    EXPECT_STREQ(event_type_name(0), "No");
}

TEST_F(LogTest, CaptureLogReducesTheKindAndSkipsKindThree) {
    const uint32_t day = at(2026, 8, 21);
    ASSERT_EQ(mount_with(log_channel(kCount - 2, {
        {day + 5, sample::capture_log_record(day + 5, 6, day + 1)},
        {day + 6, sample::capture_log_record(day + 6, 7, day + 2)},
        {day + 7, sample::capture_log_record(day + 7, 1, day + 3)},
    })), 0);
    int32_t rc = 0;
    auto records = list<CaptureLogRecord>(api_get_capture_log, day, kCaptureLogMax, &rc);
    ASSERT_EQ(rc, 2);
    EXPECT_EQ(records[0].kind, 2u);
    EXPECT_STREQ(capture_kind_name(records[0].kind), "AVI Backup");
    EXPECT_EQ(records[1].kind, 1u);
    EXPECT_EQ(records[1].pictured, day + 3);
}

TEST_F(LogTest, FullListStopsAtItsLimit) {
    const uint32_t day = at(2026, 8, 21);
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> records;
    for (uint32_t i = 0; i < kSystemLogMax + 5; ++i) {
        records.push_back({day + 3600 + i * 2, sample::system_log_record(day + 3600 + i * 2, "OK")});
    }
    ASSERT_EQ(mount_with(log_channel(kCount - 1, std::move(records))), 0);
    testkit::StderrCapture capture;
    dvrfs_set_trace(true);
    int32_t rc = 0;
    auto list_ = list<SystemLogRecord>(api_get_system_log, day, kSystemLogMax, &rc);
    dvrfs_set_trace(false);
    EXPECT_EQ(rc, kSystemLogMax);
    EXPECT_EQ(list_.back().time, day + 3600 + (kSystemLogMax - 1) * 2);
    EXPECT_NE(capture.text().find("log list full --- 2048\n"), std::string::npos);
}

TEST_F(LogTest, FirstDayWindowStartsAtTheOldestRecordingOrAtTheNextWholeHour) {
    const uint32_t first_day = at(2026, 8, 20);
    ASSERT_EQ(mount_with(log_channel(kCount - 1, {
        {kFirst + 15, sample::system_log_record(kFirst + 15, "EARLY")},
        {at(2026, 8, 20, 10, 0, 30), sample::system_log_record(at(2026, 8, 20, 10, 0, 30), "LATER")},
    })), 0);
    EXPECT_EQ(api_day_start(first_day), kFirst);
    EXPECT_EQ(api_day_start(kFirst), kFirst);
    EXPECT_EQ(api_day_start(kFirst + 1), first_day);
    int32_t rc = 0;
    auto from_oldest = list<SystemLogRecord>(api_get_system_log, first_day, kSystemLogMax, &rc);
    ASSERT_EQ(rc, 2);
    // Chosen after the oldest time: the window starts at midnight, the first locatable hour is
    // 10:00, so the record at 09:30:15 is not listed.
    auto from_midnight = list<SystemLogRecord>(api_get_system_log, kFirst + 60, kSystemLogMax, &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_STREQ(from_midnight[0].text, "LATER");
}

// A damaged table can make a log channel of any size: a long run of records without a time of
// the day ends the list rather than reading the whole channel, while a shorter one is passed.
TEST_F(LogTest, ALongRunOfRecordsWithoutTheDaysTimeEndsTheList) {
    const uint32_t day = at(2026, 8, 21);
    for (const size_t zeros : {size_t{3} << 20, size_t{5} << 20}) {
        SCOPED_TRACE(zeros);
        ASSERT_EQ(mount_with(log_channel(kCount - 1, {
            {day + 10, sample::system_log_record(day + 10, "BEFORE")},
            {day + 20, std::vector<uint8_t>(zeros, 0)},
            {day + 30, sample::system_log_record(day + 30, "AFTER")},
        }), 64), 0);
        testkit::StderrCapture capture;
        dvrfs_set_trace(true);
        int32_t rc = 0;
        auto records = list<SystemLogRecord>(api_get_system_log, day, kSystemLogMax, &rc);
        dvrfs_set_trace(false);
        const bool stopped = capture.text().find("log read stopped: ") != std::string::npos;
        ASSERT_GE(rc, 1);
        EXPECT_STREQ(records[0].text, "BEFORE");
        if (zeros < (size_t{4} << 20)) {
            ASSERT_EQ(rc, 2);
            EXPECT_STREQ(records[1].text, "AFTER");
            EXPECT_FALSE(stopped);
        } else {
            EXPECT_EQ(rc, 1);
            EXPECT_TRUE(stopped);
        }
        // The next image starts from a fresh drive table.
        api_exit();
        reset();
        ASSERT_EQ(api_init(0, nullptr, nullptr), 0);
    }
}

TEST_F(LogTest, DaysOutsideTheSessionGiveMinusOneAndLeaveTheListAlone) {
    ASSERT_EQ(mount_with(log_channel(kCount - 1, {
        {kFirst + 15, sample::system_log_record(kFirst + 15, "EARLY")},
    })), 0);
    const VolumeRecord* v = backup_selected_volume();
    for (uint32_t t : {at(2026, 8, 19), v->newest + 1, 0u}) {
        int32_t rc = 0;
        list<SystemLogRecord>(api_get_system_log, t, kSystemLogMax, &rc);
        EXPECT_EQ(rc, kApiRefused) << t;
        list<EventLogRecord>(api_get_event_log, t, kEventLogMax, &rc);
        EXPECT_EQ(rc, kApiRefused) << t;
    }
}

TEST_F(LogTest, ALogNeverWrittenListsNothingInsteadOfFailing) {
    // The capture log's head slot names no block, as on a recorder that never captured.
    ChannelData never;
    never.channel = kCount - 2;
    never.zero_block = 0;
    ASSERT_EQ(mount_with(std::move(never)), 0);
    ASSERT_EQ(backup_channel_size(kCount - 2), 0u);
    const uint32_t day = at(2026, 8, 21);
    int32_t rc = -99;
    list<CaptureLogRecord>(api_get_capture_log, day, kCaptureLogMax, &rc);
    EXPECT_EQ(rc, 0);
    // The system log was not given at all: it is empty too.
    list<SystemLogRecord>(api_get_system_log, day, kSystemLogMax, &rc);
    EXPECT_EQ(rc, 0);
    // A day outside the session is still refused.
    list<CaptureLogRecord>(api_get_capture_log, at(2026, 8, 19), kCaptureLogMax, &rc);
    EXPECT_EQ(rc, kApiRefused);
}

}  // namespace
