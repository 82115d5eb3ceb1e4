// The session commands end to end: channels, read, calendar, day, log and capture-image run
// by the tool on images built here, their output compared with what was written, and the
// image checked unchanged after every run.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>

#include <gtest/gtest.h>

#include "disk/disk.h"
#include "disk/disk_i.h"
#include "platform/drive.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "tools/sample/log_records.h"
#include "tools/sample/test_pattern.h"

namespace {

using clitest::CliResult;
using nlohmann::json;
using sample::ChannelData;
using Bytes = std::vector<uint8_t>;

// Recorder times from calendar fields through the C library, not through the code under test.
uint32_t at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<uint32_t>(timegm(&tm));
}

std::string text_of(uint32_t t) {
    const std::time_t tt = t;
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

json stamp(uint32_t t) {
    return t == 0 ? json(nullptr) : json(text_of(t));
}

json month(int year, int number, const std::vector<int>& days) {
    json j = json::object();
    j["year"] = year;
    j["month"] = number;
    j["days"] = days;
    return j;
}

// Writes at each time, of lengths that vary, so that a byte out of place shows.
ChannelData writes_at(int32_t channel, const std::vector<uint32_t>& times) {
    ChannelData d;
    d.channel = channel;
    for (size_t i = 0; i < times.size(); ++i) {
        d.writes.push_back({times[i], testkit::pattern_bytes(channel, times[i], 40 + i * 37 % 90)});
    }
    return d;
}

std::vector<uint32_t> every(uint32_t from, uint32_t to_inclusive, uint32_t step) {
    std::vector<uint32_t> times;
    for (uint32_t t = from; t <= to_inclusive; t += step) times.push_back(t);
    return times;
}

ChannelData records(int32_t channel, std::vector<std::pair<uint32_t, Bytes>> list) {
    ChannelData d;
    d.channel = channel;
    for (auto& [t, bytes] : list) d.writes.push_back({t, std::move(bytes)});
    return d;
}

// The stored bytes from the first byte written at or after t: where the index puts t.
std::string bytes_from(const ChannelData& c, uint32_t t, size_t length = std::string::npos) {
    std::string all;
    size_t from = std::string::npos;
    for (const auto& w : c.writes) {
        if (w.time >= t && from == std::string::npos) from = all.size();
        all.append(w.bytes.begin(), w.bytes.end());
    }
    if (from == std::string::npos) from = all.size();
    return all.substr(from, length);
}

uint64_t size_of(const ChannelData& c) {
    uint64_t n = 0;
    for (const auto& w : c.writes) n += w.bytes.size();
    return n;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Bytes still(int video_channel, uint32_t t) {
    return sample::encode_jpeg(
        sample::test_pattern(64, 48, sample::caption_for(video_channel, t), 3), 80);
}

// Roles of the channels of a count-29 or count-15 volume, as a user sees them.
json roles(int32_t count) {
    const int32_t video = count == 15 ? 4 : 16;
    const std::map<int32_t, const char*> named = {
        {0, "super index"},       {1, "index"},
        {2, "search log"},        {7 + video, "capture images"},
        {count - 3, "event log"}, {count - 2, "capture log"},
        {count - 1, "system log"}};
    json out = json::array();
    for (int32_t c = 0; c < count; ++c) {
        if (auto it = named.find(c); it != named.end()) {
            out.push_back({{"channel", c}, {"role", it->second}});
        } else if (c < 3 + video) {
            out.push_back({{"channel", c}, {"role", "video"}, {"number", c - 2}});
        } else if (c < 7 + video) {
            out.push_back({{"channel", c}, {"role", "audio"}, {"number", c - 2 - video}});
        } else {
            out.push_back({{"channel", c}, {"role", "unused"}});
        }
    }
    return out;
}

// The day map a search must give: one mask per quarter minute, from the writes of the shown
// video channels.
json day_slots(uint32_t midnight, uint32_t window_start, int shown,
               const std::vector<const ChannelData*>& channels) {
    std::map<int, uint32_t> masks;
    for (const ChannelData* c : channels) {
        const int v = c->channel - 3;
        if (v < 0 || v >= shown) continue;
        for (const auto& w : c->writes) {
            if (w.time < window_start || w.time >= midnight + 86400) continue;
            masks[static_cast<int>((w.time - midnight) / 15)] |= 1u << v;
        }
    }
    json slots = json::array();
    for (const auto& [slot, mask] : masks) {
        json chans = json::array();
        for (int v = 0; v < 32; ++v) {
            if (mask & (1u << v)) chans.push_back(v + 1);
        }
        const uint32_t t = midnight + static_cast<uint32_t>(slot) * 15;
        slots.push_back({{"slot", slot},
                         {"time", t},
                         {"time_text", text_of(t)},
                         {"mask", mask},
                         {"channels", chans}});
    }
    return slots;
}

// Compares two lists item by item and names the first difference, instead of printing both.
void expect_same_list(const json& got, const json& want) {
    ASSERT_TRUE(got.is_array()) << got.dump().substr(0, 200);
    EXPECT_EQ(got.size(), want.size());
    for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
        if (got[i] != want[i]) {
            ADD_FAILURE() << "item " << i << ": " << got[i] << "\n   want " << want[i];
            return;
        }
    }
}

// An image built once for a suite, and the tool run on it with the image's bytes checked after
// every run.
class ImageSuite {
  public:
    void build(const std::string& name, const sample::DiskSpec& disk) {
        path_ = testkit::make_image(dir_, name, disk);
        print_ = testkit::fingerprint(path_);
    }
    CliResult run(std::vector<std::string> args) const {
        args.insert(args.end(), {"--image", path_});
        CliResult r = clitest::run_cli(args);
        EXPECT_EQ(testkit::fingerprint(path_), print_) << "the image changed";
        return r;
    }
    // --json output of a command that must succeed.
    json doc(std::vector<std::string> args) const {
        args.push_back("--json");
        const CliResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.status == 0 ? r.json() : json();
    }
    // The position a time seek reaches in a channel, found in this process.
    ChannelPosition seek(int session, int32_t channel, uint32_t time) const {
        ChannelPosition p{-1, -1};
        EXPECT_EQ(testkit::mount_volume(path_, session), 0);
        const int32_t fd = backup_open(channel);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(backup_locate_index(fd, static_cast<int32_t>(time), &p), 0);
        backup_close(fd);
        disk_layer_reset();
        platform::detach_all();
        return p;
    }
    const testkit::TempDir& dir() const { return dir_; }

  private:
    testkit::TempDir dir_;
    std::string path_;
    std::string print_;
};

// --- A recorder volume over two days ---------------------------------------------------------
//
// Count 29, from 2026-08-20 22:00 to 2026-08-21 02:59:45. Video channel 1 writes every quarter
// minute into a ring that wraps; video channels 3 and 8 write now and then; video channel 11
// wrote but its size field says 0, so it is not shown; the logs hold the damaged records a
// power cut leaves behind.

const uint32_t kFirst = at(2026, 8, 20, 22);
const uint32_t kLast = at(2026, 8, 21, 2, 59, 45);
const uint32_t kDay2 = at(2026, 8, 21);
constexpr int32_t kBlock = 4096;
constexpr uint32_t kRingSlots = 256;
constexpr uint32_t kHeadSlot = 250;
constexpr uint32_t kHeadOffset = 1000;
// Channel bytes before this offset lie in the ring's last slots, the rest from slot 0 on.
constexpr size_t kRingEnd = (kRingSlots - kHeadSlot) * kBlock - kHeadOffset;

// 0x1F is the one control byte a system log text may hold.
const char* const kUnitSeparated = "UNIT\x1fSEP";

struct RecorderContent {
    ChannelData video1 = writes_at(3, every(kFirst, kLast, 15));
    ChannelData video3 = writes_at(5, {at(2026, 8, 20, 22, 30), at(2026, 8, 20, 22, 30, 15), kDay2,
                                       at(2026, 8, 21, 2, 59, 45)});
    ChannelData video8 = writes_at(10, {at(2026, 8, 20, 23, 15), at(2026, 8, 21, 1, 7, 44)});
    ChannelData video11 = writes_at(13, {kDay2, at(2026, 8, 21, 0, 0, 15)});
    ChannelData audio1 = writes_at(19, every(kFirst, kFirst + 600, 60));
    Bytes still_a = still(1, kDay2 + 1802), still_b = still(2, kDay2 + 1809),
          still_c = still(3, kDay2 + 4530);
    ChannelData images =
        records(23, {{kDay2 + 1802, sample::capture_image_record(kDay2 + 1802, still_a)},
                     {kDay2 + 1809, sample::capture_image_record(kDay2 + 1809, still_b)},
                     {kDay2 + 4530, sample::capture_image_record(kDay2 + 4530, still_c)}});
    ChannelData events = records(
        26,
        {
            {kFirst + 300, sample::event_log_record(kFirst + 300, 0, 2)},
            {kDay2 + 600, sample::event_log_record(kDay2 + 600, 1, 3)},
            {kDay2 + 605, sample::event_log_record(kDay2 + 605, 2, 5, 0)},  // not in use
            {kDay2 + 1200, sample::event_log_record(kDay2 + 1200, 2, 4)},
            {kDay2 + 1500, sample::event_log_record(0, 3, 1)},  // no time
            {kDay2 + 3600, sample::event_log_record(kDay2 + 3600, 15, 9)},
            {kDay2 + 7200, sample::event_log_record(0xFFFFFFFF, 0, 1)},  // never written: the end
            {kDay2 + 7800, sample::event_log_record(kDay2 + 7800, 0, 1)},
        });
    ChannelData system = records(
        28,
        {
            {kFirst, sample::system_log_record(kFirst, "POWER ON")},
            {kDay2 - 1, sample::system_log_record(kDay2 - 1, "LAST OF THE DAY")},
            {kDay2 + 5, sample::system_log_record(kDay2 + 5, "HDD CHECK OK")},
            {kDay2 + 60, sample::system_log_record(kDay2 + 60, "\aBELL")},  // control byte
            {kDay2 + 120, sample::system_log_record(kDay2 + 120, std::string(56, 'Z'))},  // no end
            {kDay2 + 180, sample::system_log_record(kDay2 + 180, kUnitSeparated)},
            {kDay2 + 240, sample::system_log_record(kDay2 - 50, "BEFORE THE DAY")},
            {kDay2 + 300, sample::system_log_record(kDay2 + 300, "TEMP 40\xb0")},  // high byte
            {kDay2 + 5400, sample::system_log_record(kDay2 + 5400, "RECORD START")},
            {kDay2 + 9000, sample::system_log_record(0xFFFFFFFF, "UNWRITTEN")},
            {kDay2 + 9600, sample::system_log_record(kDay2 + 9600, "AFTER THE END")},
        });
    ChannelData captures = records(
        27,
        {
            {kDay2 + 1802, sample::capture_log_record(kDay2 + 1802, 0, 0)},
            {kDay2 + 1809, sample::capture_log_record(kDay2 + 1809, 1, kFirst + 2700)},
            {kDay2 + 2400, sample::capture_log_record(kDay2 + 2400, 3, kFirst)},  // no such kind
            {kDay2 + 3000, sample::capture_log_record(kDay2 + 3000, 6, kFirst + 3600)},
            {kDay2 + 4530, sample::capture_log_record(kDay2 + 4530, 1, kDay2 + 4200)},
            {kDay2 + 7200, sample::capture_log_record(0xFFFFFFFF, 0, 0)},
            {kDay2 + 7500, sample::capture_log_record(kDay2 + 7500, 0, 0)},
        });

    RecorderContent() {
        video1.head_slot = kHeadSlot;
        video1.head_offset = kHeadOffset;
        video11.size = 0;
    }
    std::vector<const ChannelData*> all() const {
        return {&video1, &video3, &video8, &video11, &audio1, &images, &events, &system, &captures};
    }
};

class cli_recorder_session : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        content_ = new RecorderContent;
        suite_ = new ImageSuite;
        sample::VolumeContent v;
        for (const ChannelData* c : content_->all()) v.channels.push_back(*c);
        suite_->build("recorder.img", testkit::small_recorder(v, 29));
    }
    static void TearDownTestSuite() {
        delete suite_;
        delete content_;
    }
    static CliResult run(const std::vector<std::string>& args) { return suite_->run(args); }
    static json doc(const std::vector<std::string>& args) { return suite_->doc(args); }
    static inline RecorderContent* content_ = nullptr;
    static inline ImageSuite* suite_ = nullptr;
};

TEST_F(cli_recorder_session, ChannelsListsRolesSizesAndTheShownVideoChannels) {
    const json d = doc({"channels"});
    // Video channel 8 is the highest with a size; channel 11's size field is 0.
    EXPECT_EQ(d["display_channels"], 8);
    json want = roles(29);
    const RecorderContent& c = *content_;
    std::map<int, uint64_t> sizes = {
        {0, 5 * 24},               // five hours of super index
        {1, 1200 * (4 + 8 * 26)},  // 1,200 quarter minutes of index, 26 columns
        {2, 1200 * 16},            // and of search log
    };
    for (const ChannelData* ch : c.all()) sizes[ch->channel] = ch == &c.video11 ? 0 : size_of(*ch);
    for (json& e : want) e["size"] = sizes[e["channel"].get<int>()];
    expect_same_list(d["channels"], want);
}

TEST_F(cli_recorder_session, ReadByOffsetFollowsTheRingAcrossItsEnd) {
    const std::string all = bytes_from(content_->video1, 0);
    ASSERT_GT(all.size(), kRingEnd + 4 * kBlock) << "the channel must wrap";
    CliResult r = run({"read", "--channel", "3", "--offset", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == all) << "whole channel: " << r.out.size() << " of " << all.size();

    const size_t from = kRingEnd - 300;
    r = run({"read", "--channel", "3", "--offset", std::to_string(from), "--length", "700"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == all.substr(from, 700));
    // A length beyond the tail stops at the tail.
    r = run({"read", "--channel", "3", "--offset", std::to_string(all.size() - 10), "--length",
             "1000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == all.substr(all.size() - 10));
}

TEST_F(cli_recorder_session, ReadByTimeAndByTheSeekPositionGiveTheSameBytes) {
    const ChannelData& v1 = content_->video1;
    // 23:40 lies past the ring's end; the seconds are rounded down to the quarter minute.
    const uint32_t t = at(2026, 8, 20, 23, 40);
    const std::string want = bytes_from(v1, t);
    ASSERT_GT(bytes_from(v1, 0).size() - want.size(), kRingEnd);
    CliResult r = run({"read", "--channel", "3", "--time", "2026-08-20 23:40:07"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == want) << r.out.size() << " bytes, want " << want.size();

    const ChannelPosition p = suite_->seek(0, 3, t);
    ASSERT_GE(p.block, 1);
    r = run({"read", "--channel", "3", "--position",
             std::to_string(p.block) + ":" + std::to_string(p.offset)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == want);

    // The first quarter minute of an hour, and a channel that wrote only now and then.
    r = run({"read", "--channel", "3", "--time", "2026-08-21 01:00:07", "--length", "500"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == bytes_from(v1, at(2026, 8, 21, 1), 500));
    r = run({"read", "--channel", "10", "--time", "2026-08-21 01:07:37"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == bytes_from(content_->video8, at(2026, 8, 21, 1, 7, 30)));
}

TEST_F(cli_recorder_session, CalendarMarksBothDaysOfTheSession) {
    EXPECT_EQ(doc({"calendar"})["months"], json::array({month(2026, 8, {20, 21})}));
}

TEST_F(cli_recorder_session, DayMapsTheShownChannelsOfEveryQuarterMinute) {
    const RecorderContent& c = *content_;
    const std::vector<const ChannelData*> video = {&c.video1, &c.video3, &c.video8, &c.video11};
    // The first day's window opens at the oldest recording.
    json d = doc({"day", "--date", "2026-08-20"});
    EXPECT_EQ(d["date"], "2026-08-20");
    json want = day_slots(at(2026, 8, 20), kFirst, 8, video);
    ASSERT_EQ(want.size(), 480u);
    expect_same_list(d["slots"], want);
    EXPECT_EQ(d["slots"][120]["channels"], json({1, 3}));  // 22:30:00

    d = doc({"day", "--date", "2026-08-21"});
    want = day_slots(kDay2, kDay2, 8, video);
    ASSERT_EQ(want.size(), 720u);
    expect_same_list(d["slots"], want);
    // 01:07:44 is in slot 1 x 240 + 7 x 4 + 2; video channel 11 wrote at midnight, unshown.
    EXPECT_EQ(d["slots"][270]["mask"], 0x81);
    EXPECT_EQ(d["slots"][0]["mask"], 0x5);
}

TEST_F(cli_recorder_session, DaysOutsideTheSessionFail) {
    for (const char* date : {"2026-08-19", "2026-08-22"}) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"day", "--date", date},
              std::vector<std::string>{"log", "event", "--date", date}}) {
            const CliResult r = run(args);
            EXPECT_EQ(r.status, 1) << args[0] << " " << date;
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find(date), std::string::npos) << r.err;
        }
    }
}

TEST_F(cli_recorder_session, EventLogSkipsUnusedAndTimelessRecordsAndEndsAtAnUnwrittenTime) {
    auto event = [](uint32_t t, int channel, int type, const char* name) {
        return json{{"time", t},
                    {"time_text", text_of(t)},
                    {"channel", channel},
                    {"type", type},
                    {"type_name", name}};
    };
    json d = doc({"log", "event", "--date", "2026-08-21"});
    EXPECT_EQ(d["records"],
              json::array({event(kDay2 + 600, 2, 3, "Sensor"), event(kDay2 + 1200, 3, 4, "Manual"),
                           event(kDay2 + 3600, 16, 9, "No")}));
    // The first day starts at the oldest recording and ends before the next day's records.
    d = doc({"log", "event", "--date", "2026-08-20"});
    EXPECT_EQ(d["records"], json::array({event(kFirst + 300, 1, 2, "Motion")}));
}

TEST_F(cli_recorder_session, SystemLogKeepsOnlyTerminatedPrintableText) {
    auto message = [](uint32_t t, const char* text) {
        return json{{"time", t}, {"time_text", text_of(t)}, {"text", text}};
    };
    json d = doc({"log", "system", "--date", "2026-08-21"});
    EXPECT_EQ(d["records"],
              json::array({message(kDay2 + 5, "HDD CHECK OK"), message(kDay2 + 180, kUnitSeparated),
                           message(kDay2 + 5400, "RECORD START")}));
    d = doc({"log", "system", "--date", "2026-08-20"});
    EXPECT_EQ(d["records"],
              json::array({message(kFirst, "POWER ON"), message(kDay2 - 1, "LAST OF THE DAY")}));
}

TEST_F(cli_recorder_session, CaptureLogReducesKindsAndSkipsKindThree) {
    auto capture = [](uint32_t t, uint32_t kind, const char* name, uint32_t pictured) {
        return json{
            {"time", t},         {"time_text", text_of(t)}, {"kind", kind},
            {"kind_name", name}, {"pictured", pictured},    {"pictured_text", stamp(pictured)}};
    };
    json d = doc({"log", "capture", "--date", "2026-08-21"});
    EXPECT_EQ(d["records"],
              json::array({capture(kDay2 + 1802, 0, "Live JPEG", kDay2 + 1802),  // its own moment
                           capture(kDay2 + 1809, 1, "Play JPEG", kFirst + 2700),
                           capture(kDay2 + 3000, 2, "AVI Backup", kFirst + 3600),
                           capture(kDay2 + 4530, 1, "Play JPEG", kDay2 + 4200)}));
    // The first day has no captures: an empty list, not a failure.
    EXPECT_EQ(doc({"log", "capture", "--date", "2026-08-20"})["records"], json::array());
}

TEST_F(cli_recorder_session, CaptureImageWritesTheStoredJpeg) {
    const RecorderContent& c = *content_;
    struct Case {
        const char* time;
        const Bytes* still;
    };
    // 00:30:05 lies between two stills of one quarter minute: the reader goes on to the next.
    for (const Case& k :
         {Case{"2026-08-21 00:30:02", &c.still_a}, Case{"2026-08-21 00:30:05", &c.still_b},
          Case{"2026-08-21 00:30:09", &c.still_b}, Case{"2026-08-21 01:15:30", &c.still_c}}) {
        const std::string out = suite_->dir().file("still.jpg");
        const json d = doc({"capture-image", "--time", k.time, "--out", out});
        EXPECT_EQ(d["bytes"], k.still->size()) << k.time;
        EXPECT_EQ(d["out"], out);
        const std::string file = slurp(out);
        EXPECT_TRUE(file == std::string(k.still->begin(), k.still->end())) << k.time;
        std::remove(out.c_str());
    }
    const CliResult r = run({"capture-image", "--time", "2026-08-22 00:00:00", "--out",
                             suite_->dir().file("none.jpg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no capture image"), std::string::npos) << r.err;
}

TEST_F(cli_recorder_session, TextOutputShowsTheSameRecords) {
    CliResult r = run({"calendar"});
    EXPECT_EQ(r.out, "2026-08: 20 21\n");
    r = run({"channels"});
    EXPECT_NE(r.out.find("Display channels: 8\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("capture images"), std::string::npos) << r.out;
    r = run({"day", "--date", "2026-08-21"});
    EXPECT_NE(r.out.find("Recorded quarter minutes of 2026-08-21: 720\n"), std::string::npos);
    EXPECT_NE(r.out.find("2026-08-21 01:07:30  1,8\n"), std::string::npos) << r.out.substr(0, 300);
    r = run({"log", "capture", "--date", "2026-08-21"});
    EXPECT_EQ(r.out.substr(0, 10), "4 records\n");
    EXPECT_NE(r.out.find("AVI Backup"), std::string::npos) << r.out;
    r = run({"log", "system", "--date", "2026-08-20"});
    EXPECT_NE(r.out.find("2026-08-20 23:59:59  LAST OF THE DAY"), std::string::npos) << r.out;
}

// The recorder's clock has no zone: the machine's zone changes no date, time or slot.
TEST_F(cli_recorder_session, ResultsDoNotDependOnTheTimeZone) {
    const std::vector<std::vector<std::string>> commands = {
        {"calendar", "--json"},
        {"day", "--date", "2026-08-20", "--json"},
        {"log", "event", "--date", "2026-08-21", "--json"},
        {"log", "system", "--date", "2026-08-20", "--json"},
        {"read", "--channel", "3", "--time", "2026-08-21 00:00:07", "--length", "4000"},
    };
    // The tool inherits this process's environment; TZ is set here rather than appended, so
    // that a TZ the tests run under cannot shadow it.
    const char* outer = std::getenv("TZ");
    const std::string saved = outer != nullptr ? outer : "";
    auto run_in = [](const char* zone, const std::vector<std::string>& args) {
        setenv("TZ", zone, 1);
        return run(args);
    };
    for (const auto& args : commands) {
        const CliResult utc = run_in("UTC", args);
        ASSERT_EQ(utc.status, 0) << args[0] << ": " << utc.err;
        // UTC+14 and UTC-3:30, spelled out so that no zone database is needed.
        for (const char* zone : {"<+14>-14", "<-0330>3:30"}) {
            const CliResult r = run_in(zone, args);
            EXPECT_EQ(r.status, 0) << args[0] << " " << zone;
            EXPECT_TRUE(r.out == utc.out) << args[0] << " " << args[1] << " under " << zone;
        }
    }
    if (outer != nullptr) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
}

TEST_F(cli_recorder_session, MalformedArgumentsAreUsageErrors) {
    const std::string out = suite_->dir().file("x.jpg");
    const std::vector<std::vector<std::string>> cases = {
        {"day", "--date", "2026-8-21"},
        {"day", "--date", "2026-02-30"},
        {"day", "--date", "21.08.2026"},
        {"log", "system", "--date", "2026-08-21 00:00:00"},
        {"log", "capture", "--date", "2026-13-01"},
        {"read", "--channel", "3", "--time", "2026-08-21 25:00:00"},
        {"read", "--channel", "3", "--time", "2026-08-21"},
        {"read", "--channel", "3", "--position", "12"},
        {"read", "--channel", "3", "--position", "a:b"},
        {"read", "--channel", "3", "--position", "5:"},
        {"read", "--channel", "3", "--offset", "0", "--time", "2026-08-21 00:00:00"},
        {"capture-image", "--time", "2026-08-21 00:30", "--out", out},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        const CliResult r = run(args);
        EXPECT_EQ(r.status, 2) << line << r.err;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_NE(r.err, "") << line;
    }
    std::ifstream never(out);
    EXPECT_FALSE(never.good()) << "nothing is written on a usage error";
}

TEST_F(cli_recorder_session, ChannelsThatDoNotExistFail) {
    for (const char* channel : {"29", "31", "32"}) {
        const CliResult r = run({"read", "--channel", channel, "--offset", "0"});
        EXPECT_EQ(r.status, 1) << channel;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(std::string("channel ") + channel), std::string::npos) << r.err;
    }
    const CliResult r = run({"channels", "--session", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no session 1"), std::string::npos) << r.err;
}

// --- A backup disk with two sessions ----------------------------------------------------------
//
// Session 0 (count 29) runs over a new year's midnight; its channel 4 takes its positions from
// index column 7, and video channel 10 makes sixteen channels shown. Slot 1 is empty; the
// count-15 session in slot 2 is an hour in March.

const uint32_t kEve = at(2025, 12, 31, 23);
const uint32_t kNewYear = at(2026, 1, 1);
const uint32_t kEveLast = at(2026, 1, 1, 1, 59, 45);
const uint32_t kMarch = at(2026, 3, 10, 10);

struct BackupContent {
    ChannelData s0_video1 = writes_at(3, every(kEve, kEveLast, 15));
    ChannelData s0_video2 = writes_at(4, every(kEve, kEveLast, 60));
    ChannelData s0_video10 = writes_at(12, {kNewYear, kNewYear + 15});
    ChannelData s1_video1 = writes_at(3, every(kMarch, kMarch + 3585, 15));
    ChannelData s1_video4 = writes_at(6, every(kMarch, kMarch + 3585, 30));

    BackupContent() { s0_video2.index_column = 7; }

    std::vector<sample::SessionSpec> sessions() const {
        sample::SessionSpec s0;
        s0.slot = 0;
        s0.name = "NEW YEAR";
        s0.content.channels = {s0_video1, s0_video2, s0_video10};
        sample::SessionSpec s1;
        s1.slot = 2;
        s1.name = "MARCH";
        s1.channel_count = 15;
        s1.data_channel_count = 12;
        s1.content.channels = {s1_video1, s1_video4};
        return {s0, s1};
    }
};

class cli_backup_session : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        content_ = new BackupContent;
        suite_ = new ImageSuite;
        suite_->build("backup.img", testkit::small_backup(content_->sessions()));
    }
    static void TearDownTestSuite() {
        delete suite_;
        delete content_;
    }
    static CliResult run(const std::vector<std::string>& args) { return suite_->run(args); }
    static json doc(const std::vector<std::string>& args) { return suite_->doc(args); }
    static inline BackupContent* content_ = nullptr;
    static inline ImageSuite* suite_ = nullptr;
};

TEST_F(cli_backup_session, ChannelsOfBothSessions) {
    const BackupContent& c = *content_;
    json d = doc({"channels", "--session", "0"});
    EXPECT_EQ(d["display_channels"], 16);
    ASSERT_EQ(d["channels"].size(), 29u);
    EXPECT_EQ(d["channels"][4]["size"], size_of(c.s0_video2));
    EXPECT_EQ(d["channels"][12]["size"], size_of(c.s0_video10));
    EXPECT_EQ(d["channels"][1]["size"], 720 * (4 + 8 * 26));  // three hours

    d = doc({"channels", "--session", "2"});
    EXPECT_EQ(d["display_channels"], 4);
    json want = roles(15);
    for (json& e : want) e["size"] = 0;
    want[0]["size"] = 24;
    want[1]["size"] = 240 * (4 + 8 * 12);
    want[2]["size"] = 240 * 16;
    want[3]["size"] = size_of(c.s1_video1);
    want[6]["size"] = size_of(c.s1_video4);
    expect_same_list(d["channels"], want);
}

TEST_F(cli_backup_session, ReadByTimeUsesTheChannelsOwnIndexColumn) {
    const BackupContent& c = *content_;
    // Across midnight: the second hour's first quarter minute, seven seconds in.
    CliResult r =
        run({"read", "--session", "0", "--channel", "4", "--time", "2026-01-01 00:00:07"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == bytes_from(c.s0_video2, kNewYear));
    r = run({"read", "--session", "0", "--channel", "4", "--time", "2025-12-31 23:31:37"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == bytes_from(c.s0_video2, at(2025, 12, 31, 23, 31, 30)));

    r = run({"read", "--session", "2", "--channel", "6", "--time", "2026-03-10 10:30:07"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == bytes_from(c.s1_video4, kMarch + 1800));
}

TEST_F(cli_backup_session, ReadByPositionAndOffsetInASessionThatNeverWraps) {
    const BackupContent& c = *content_;
    const uint32_t t = at(2026, 1, 1, 1, 15);
    const ChannelPosition p = suite_->seek(0, 3, t);
    ASSERT_GE(p.block, 1);
    CliResult r =
        run({"read", "--session", "0", "--channel", "3", "--position",
             std::to_string(p.block) + ":" + std::to_string(p.offset), "--length", "5000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == bytes_from(c.s0_video1, t, 5000));

    const std::string all = bytes_from(c.s1_video1, 0);
    r = run({"read", "--session", "2", "--channel", "3", "--offset", "4000", "--length", "9000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == all.substr(4000, 9000));
}

TEST_F(cli_backup_session, CalendarAcrossTheYearsEnd) {
    EXPECT_EQ(doc({"calendar", "--session", "0"})["months"],
              json::array({month(2025, 12, {31}), month(2026, 1, {1})}));
    EXPECT_EQ(doc({"calendar", "--session", "2"})["months"], json::array({month(2026, 3, {10})}));
}

TEST_F(cli_backup_session, DayOfEachSession) {
    const BackupContent& c = *content_;
    json d = doc({"day", "--session", "0", "--date", "2026-01-01"});
    expect_same_list(
        d["slots"], day_slots(kNewYear, kNewYear, 16, {&c.s0_video1, &c.s0_video2, &c.s0_video10}));
    EXPECT_EQ(d["slots"][1]["channels"], json({1, 10}));
    d = doc({"day", "--session", "0", "--date", "2025-12-31"});
    expect_same_list(d["slots"],
                     day_slots(at(2025, 12, 31), kEve, 16, {&c.s0_video1, &c.s0_video2}));
    d = doc({"day", "--session", "2", "--date", "2026-03-10"});
    expect_same_list(d["slots"],
                     day_slots(at(2026, 3, 10), kMarch, 4, {&c.s1_video1, &c.s1_video4}));
    EXPECT_EQ(d["slots"].size(), 240u);

    // Session 2's day is not session 0's, and the empty slot holds no session.
    CliResult r = run({"day", "--session", "0", "--date", "2026-03-10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("2026-03-10"), std::string::npos) << r.err;
    r = run({"day", "--session", "1", "--date", "2026-03-10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
}

}  // namespace
