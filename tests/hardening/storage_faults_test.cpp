// The calendar, the day search and the log readers over a drive that fails part way: each
// keeps what it read before the bad sector and ends with the codes and trace lines its layer
// gives.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "disk/channel_i.h"
#include "disk/recorder_time.h"
#include "tests/hardening/core_fault_test.h"
#include "tests/testkit/tool_run.h"
#include "tools/sample/log_records.h"

namespace {

using hardening::CoreFaultTest;
using hardening::channel_sector;
using testkit::kT0;

uint32_t at(int y, int mo, int d, int h = 0) {
    return static_cast<uint32_t>(recorder_from_civil(y, mo, d, h, 0, 0));
}

sample::ChannelData writes_at(int32_t channel, const std::vector<uint32_t>& times) {
    sample::ChannelData d;
    d.channel = channel;
    for (uint32_t t : times) d.writes.push_back({t, testkit::pattern_bytes(channel, t, 16)});
    return d;
}

using StorageFaultTest = CoreFaultTest;

TEST_F(StorageFaultTest, CalendarKeepsTheMonthsReadBeforeTheFailingOne) {
    sample::VolumeContent content;
    content.channels = {writes_at(3, {at(2026, 1, 30, 10), at(2026, 2, 14, 12), at(2026, 3, 2, 8)})};
    sample::DiskSpec spec = testkit::small_recorder(content, 15);
    spec.bare.recorder.block_size = 64 * 1024;
    spec.bare.recorder.map_sectors_per_channel = 8;
    ASSERT_EQ(mount(spec), 0);
    // The super index holds one 24-byte entry per hour from 30 January 10:00.
    const int64_t march = (at(2026, 3, 1) - at(2026, 1, 30, 10)) / 3600 * 24;
    plan_->fail_sectors(channel_sector(DVR_CH_SUPER, march), 2);
    std::vector<uint32_t> map(size_t{kMonthMapMonths} * kMonthMapEntries, 0);
    start_trace();
    EXPECT_EQ(tvfs_getexistmonthlog(map.data()), DVR_EDISK);
    const std::string trace = stop_trace();
    EXPECT_EQ(map[0 * kMonthMapEntries], 1u << 29);  // 30 January
    EXPECT_EQ(map[1 * kMonthMapEntries], 1u << 13);  // 14 February
    EXPECT_EQ(map[2 * kMonthMapEntries], 0u);
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("tvfs_getexistmonthlog  close DVR_CH_SUPER"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("tvfs_getexistmonthlog  close DVR_CH_SUPER 3"), std::string::npos) << trace;
    plan_->clear();
    std::fill(map.begin(), map.end(), 0u);
    EXPECT_GT(tvfs_getexistmonthlog(map.data()), 0);
    EXPECT_EQ(map[2 * kMonthMapEntries], 1u << 1);
}

TEST_F(StorageFaultTest, CalendarOverADriveThatShrinksUnderIt) {
    sample::VolumeContent content;
    content.channels = {writes_at(3, {at(2026, 1, 30, 10), at(2026, 2, 14, 12)})};
    sample::DiskSpec spec = testkit::small_recorder(content, 15);
    spec.bare.recorder.block_size = 64 * 1024;
    spec.bare.recorder.map_sectors_per_channel = 8;
    ASSERT_EQ(mount(spec), 0);
    plan_->shrink_to(0);
    std::vector<uint32_t> map(size_t{kMonthMapMonths} * kMonthMapEntries, 0);
    start_trace();
    const int32_t rc = tvfs_getexistmonthlog(map.data());
    const std::string trace = stop_trace();
    EXPECT_TRUE(rc == DVR_EDISK || rc == DVR_ENOINDEX) << rc;
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos) << trace;
    for (uint32_t m : map) ASSERT_EQ(m, 0u);
}

TEST_F(StorageFaultTest, DaySearchMapsTheQuarterMinutesBeforeTheFailingSector) {
    sample::VolumeContent content;
    content.channels = {testkit::steady_channel(3, kT0, kT0 + 7200, 16)};
    ASSERT_EQ(mount(testkit::small_recorder(content, 29)), 0);
    // The search log holds one 16-byte record per quarter minute from kT0 (07:00).
    const int64_t bad_offset = 300 * 16;
    plan_->fail_sectors(channel_sector(DVR_CH_SLOG, bad_offset));
    std::vector<uint32_t> map(kDaySlots, 0);
    start_trace();
    EXPECT_EQ(tvfs_getsearchlog(kT0, map.data()), 0);
    const std::string trace = stop_trace();
    const size_t kept = static_cast<size_t>(bad_offset / 512 * 512 / 16);
    const size_t first = 7 * 240;
    for (size_t s = 0; s < map.size(); ++s) {
        ASSERT_EQ(map[s], s >= first && s < first + kept ? 1u : 0u) << "slot " << s;
    }
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("tvfs_getsearchlog No more to read\n"), std::string::npos) << trace;
    EXPECT_EQ(api_state().search_busy.load(), 0);
}

// An image cut short, as an interrupted acquisition leaves it: the tool prints the log records
// it could read, and its exit status and one line say the list is partial.
TEST_F(StorageFaultTest, ToolReportsALogCutShortByTheImageEndAsPartial) {
    const char* cli = std::getenv("QUILLON_CLI");
    ASSERT_NE(cli, nullptr);
    sample::ChannelData system;
    system.channel = 28;       // count 29: the system log
    system.first_block = 2000;  // after every other structure on the drive
    for (uint32_t i = 0; i < 200; ++i) {
        const uint32_t t = kT0 + 15 * i;
        system.writes.push_back({t, sample::system_log_record(t, "LINE " + std::to_string(i))});
    }
    sample::VolumeContent content;
    content.channels = {testkit::steady_channel(3, kT0, kT0 + 3000, 16), system};
    sample::DiskSpec spec = testkit::small_recorder(content, 29);
    // The super block near the start, where a shorter image still holds it.
    spec.bare.recorder.placement = sample::Placement::Pointer;
    ASSERT_EQ(mount(spec), 0);
    const uint64_t cut = channel_sector(28, 50 * 64) * 512;
    const std::string whole = dir_.file("disk0.img"), cut_short = dir_.file("cut.img");
    std::filesystem::copy_file(whole, cut_short);
    std::filesystem::resize_file(cut_short, cut);
    // The probe reads the middle of the shorter area first; an empty sector there would pass
    // its checksum and end the probe, so it gets bytes that fail it, as a used disk would.
    {
        std::fstream f(cut_short, std::ios::in | std::ios::out | std::ios::binary);
        const auto middle = static_cast<std::streamoff>(cut / 512 / 2 * 512);
        std::vector<char> sector(512);
        f.seekg(middle);
        f.read(sector.data(), 512);
        ASSERT_TRUE(std::all_of(sector.begin(), sector.end(), [](char c) { return c == 0; }));
        for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<char>(i * 7 + 1);
        f.seekp(middle);
        f.write(sector.data(), 512);
        ASSERT_TRUE(f.good());
    }

    const std::string args = " --json log system --date 2026-03-14";
    testkit::ToolRun r = testkit::run_tool(dir_, std::string(cli) + " --image " + testkit::quoted(whole) + args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(hardening::occurrences(r.out, "LINE "), 200u);
    r = testkit::run_tool(dir_, std::string(cli) + " --image " + testkit::quoted(cut_short) + args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quillon-cli: 1 disk read failed; the results are partial: " +
                         std::string(dvrfs_strerror(DVR_EDISK)) + " (-17)\n");
    EXPECT_EQ(hardening::occurrences(r.out, "LINE "), 48u);  // the 6 whole sectors before the cut
}

TEST_F(StorageFaultTest, DaySearchWhoseSuperIndexFailsReturnsTheError) {
    sample::VolumeContent content;
    content.channels = {testkit::steady_channel(3, kT0, kT0 + 600, 16)};
    ASSERT_EQ(mount(testkit::small_recorder(content, 29)), 0);
    plan_->fail_sectors(channel_sector(DVR_CH_SUPER, 0));
    std::vector<uint32_t> map(kDaySlots, 0);
    start_trace();
    const int32_t rc = tvfs_getsearchlog(kT0, map.data());
    const std::string trace = stop_trace();
    EXPECT_TRUE(rc == DVR_EDISK || rc == DVR_ENOINDEX) << rc;
    EXPECT_TRUE(trace.find("tvfs_getsearchlog backup_locate_index error") != std::string::npos ||
                trace.find("tvfs_getsearchlog backup_read error -17") != std::string::npos)
        << trace;
    for (uint32_t m : map) ASSERT_EQ(m, 0u);
    EXPECT_EQ(api_state().search_busy.load(), 0);
}

TEST_F(StorageFaultTest, LogReadersKeepTheRecordsBeforeTheFailingSector) {
    // Count 29: event log 26, capture log 27, system log 28.
    sample::VolumeContent content;
    sample::ChannelData events, system;
    events.channel = 26;
    system.channel = 28;
    for (uint32_t i = 0; i < 200; ++i) {
        const uint32_t t = kT0 + 15 * i;
        events.writes.push_back({t, sample::event_log_record(t, static_cast<uint8_t>(i % 4), 2)});
        system.writes.push_back({t, sample::system_log_record(t, "LINE " + std::to_string(i))});
    }
    content.channels = {testkit::steady_channel(3, kT0, kT0 + 3000, 16), events, system};
    ASSERT_EQ(mount(testkit::small_recorder(content, 29)), 0);
    plan_->fail_sectors(channel_sector(26, 100 * 8));
    plan_->fail_sectors(channel_sector(28, 50 * 64));

    std::vector<EventLogRecord> event_list(kEventLogMax);
    start_trace();
    EXPECT_EQ(api_get_event_log(kT0, event_list.data()), 64);  // the 512 bytes before
    std::string trace = stop_trace();
    for (uint32_t i = 0; i < 64; ++i) {
        ASSERT_EQ(event_list[i].t, kT0 + 15 * i) << i;
        ASSERT_EQ(event_list[i].channel, i % 4) << i;
    }
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Eventlog no more data ret = -17 \n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Eventlog count ret = 64\n"), std::string::npos) << trace;

    std::vector<SystemLogRecord> system_list(kSystemLogMax);
    EXPECT_EQ(api_get_system_log(kT0, system_list.data()), 48);  // 3,072 bytes: 6 sectors
    EXPECT_STREQ(system_list[47].text, "LINE 47");

    // Reads cut short inside a sector end the list there, without a torn record.
    plan_->clear();
    plan_->cut_reads_at(channel_sector(26, 64 * 8) * 512 + 3);
    EXPECT_EQ(api_get_event_log(kT0, event_list.data()), 64);
    EXPECT_EQ(event_list[63].t, kT0 + 15 * 63);
    EXPECT_GE(plan_->short_reads(), 1u);
}

}  // namespace
