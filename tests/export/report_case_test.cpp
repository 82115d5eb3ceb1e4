// The report's case parts: the recorder's zone read from zone files (made here, and the system's
// own), the clock offset and its corrected times, the command line, the streams read back from a
// written AVI, the digests made on the hasher's threads, and the report that carries them.
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "export/avi_writer.h"
#include "export/export_case.h"
#include "export/export_report.h"
#include "export/export_stream.h"
#include "export/file_hasher.h"
#include "export/recorder_zone.h"
#include "export/sami.h"
#include "platform/sha256.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"

namespace {

using Json = nlohmann::json;

// Seconds since 1970 of a wall-clock time (broken down as UTC).
int64_t wall(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<int64_t>(timegm(&tm));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}
void put64(std::vector<uint8_t>& out, int64_t v) {
    put32(out, static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32));
    put32(out, static_cast<uint32_t>(v));
}

struct ZoneSpec {
    std::vector<int32_t> offsets;   // type 0 first
    std::vector<int64_t> times;     // transitions, UTC
    std::vector<uint8_t> types;     // type after each
};

// A version 2 zone file: an empty version 1 block (one type), then the 64-bit data.
std::vector<uint8_t> zone_file(const ZoneSpec& z) {
    std::vector<uint8_t> out;
    auto header = [&](uint32_t times, uint32_t types, uint32_t chars) {
        out.insert(out.end(), {'T', 'Z', 'i', 'f', '2'});
        out.insert(out.end(), 15, 0);
        for (uint32_t v : {0u, 0u, 0u, times, types, chars}) put32(out, v);
    };
    header(0, 1, 4);
    put32(out, 0);
    out.insert(out.end(), {0, 0, 'U', 'T', 'C', 0});
    header(static_cast<uint32_t>(z.times.size()), static_cast<uint32_t>(z.offsets.size()), 4);
    for (int64_t t : z.times) put64(out, t);
    out.insert(out.end(), z.types.begin(), z.types.end());
    for (int32_t o : z.offsets) {
        put32(out, static_cast<uint32_t>(o));
        out.push_back(o != z.offsets[0] ? 1 : 0);
        out.push_back(0);
    }
    out.insert(out.end(), {'X', 'X', 'X', 0});
    return out;
}

// A zone one hour east of UTC that goes to two hours at `forward` and back at `back`.
ZoneSpec summer_zone(int64_t forward, int64_t back) {
    return ZoneSpec{{3600, 7200}, {forward, back}, {1, 0}};
}

TEST(RecorderZone, MadeZoneMapsWallTimesToUtc) {
    const int64_t forward = wall(2030, 3, 31, 1, 0, 0), back = wall(2030, 10, 27, 1, 0, 0);
    RecorderZone zone;
    std::string error;
    ASSERT_EQ(zone.parse(zone_file(summer_zone(forward, back)), &error), 0) << error;
    EXPECT_EQ(zone.offset_at(forward - 1), 3600);
    EXPECT_EQ(zone.offset_at(forward), 7200);
    EXPECT_EQ(zone.offset_at(back), 3600);
    // Winter noon is 11:00 UTC.
    EXPECT_EQ(zone.to_utc(wall(2030, 1, 10, 12, 0, 0)), std::vector<int64_t>{wall(2030, 1, 10, 11, 0, 0)});
    // 02:30 on the day the clocks go forward never happens.
    EXPECT_TRUE(zone.to_utc(wall(2030, 3, 31, 2, 30, 0)).empty());
    // 02:30 on the day they go back happens twice, an hour apart.
    const std::vector<int64_t> twice = zone.to_utc(wall(2030, 10, 27, 2, 30, 0));
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice[0], wall(2030, 10, 27, 0, 30, 0));
    EXPECT_EQ(twice[1], wall(2030, 10, 27, 1, 30, 0));
}

TEST(RecorderZone, RepeatedStretchIsFoundOnlyWhenTheSpanTouchesIt) {
    const int64_t back = wall(2030, 10, 27, 1, 0, 0);
    RecorderZone zone;
    std::string error;
    ASSERT_EQ(zone.parse(zone_file(summer_zone(wall(2030, 3, 31, 1, 0, 0), back)), &error), 0);
    const auto hit = zone.repeats_within(wall(2030, 10, 27, 1, 50, 0), wall(2030, 10, 27, 2, 10, 0));
    ASSERT_EQ(hit.size(), 1u);
    EXPECT_EQ(hit[0].local_from, wall(2030, 10, 27, 2, 0, 0));
    EXPECT_EQ(hit[0].local_to, wall(2030, 10, 27, 3, 0, 0));
    EXPECT_EQ(hit[0].first_offset, 7200);
    EXPECT_EQ(hit[0].second_offset, 3600);
    EXPECT_TRUE(zone.repeats_within(wall(2030, 10, 27, 3, 0, 0), wall(2030, 10, 27, 5, 0, 0)).empty());
    EXPECT_TRUE(zone.repeats_within(wall(2030, 10, 27, 0, 0, 0), wall(2030, 10, 27, 1, 59, 59)).empty());
    // Going forward repeats nothing.
    EXPECT_TRUE(zone.repeats_within(wall(2030, 3, 31, 0, 0, 0), wall(2030, 3, 31, 5, 0, 0)).empty());
}

TEST(RecorderZone, DamagedZoneFilesAreRefused) {
    const std::vector<uint8_t> good = zone_file(summer_zone(1000, 2000));
    RecorderZone zone;
    std::string error;
    for (size_t cut : {size_t{0}, size_t{10}, size_t{44}, good.size() / 2, good.size() - 5}) {
        const std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<long>(cut));
        EXPECT_EQ(zone.parse(part, &error), -1) << cut;
    }
    ZoneSpec bad_type = summer_zone(1000, 2000);
    bad_type.types = {1, 5};
    EXPECT_EQ(zone.parse(zone_file(bad_type), &error), -1);
    ZoneSpec backwards = summer_zone(2000, 1000);
    EXPECT_EQ(zone.parse(zone_file(backwards), &error), -1);
    std::vector<uint8_t> not_zone = good;
    not_zone[0] = 'X';
    EXPECT_EQ(zone.parse(not_zone, &error), -1);
}

// Bytes flipped anywhere in a zone file: parsed or refused, never read past the end (ASan).
TEST(RecorderZone, FlippedBytesNeverReadOutOfBounds) {
    const std::vector<uint8_t> good = zone_file(summer_zone(1000, 2000));
    std::mt19937 gen(5);
    int refused = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes = good;
        for (int k = 0; k < 3; ++k) bytes[gen() % bytes.size()] = static_cast<uint8_t>(gen());
        RecorderZone zone;
        std::string error;
        if (zone.parse(bytes, &error) != 0) {
            ++refused;
            continue;
        }
        // A zone that parsed answers every question.
        zone.to_utc(1500);
        zone.repeats_within(0, 4000);
    }
    EXPECT_GT(refused, 0);
}

TEST(RecorderZone, NamesAreCheckedBeforeAnyFileIsRead) {
    for (const char* bad : {"", "/etc/localtime", "../zoneinfo/UTC", "Europe/../UTC", "Europe//Berlin",
                            "Europe/Berlin/", "Europe/Ber lin", "Europe/Berlin;rm"}) {
        EXPECT_FALSE(zone_name_acceptable(bad)) << bad;
    }
    EXPECT_TRUE(zone_name_acceptable("America/Argentina/Buenos_Aires"));
    EXPECT_TRUE(zone_name_acceptable("Etc/GMT+3"));
    RecorderZone zone;
    std::string error;
    EXPECT_EQ(zone.load("Mars/Olympus_Mons", &error), -1);
    EXPECT_NE(error.find("unknown time zone"), std::string::npos) << error;
    EXPECT_EQ(zone.load("../../etc/passwd", &error), -1);
}

TEST(RecorderZone, LoadsAZoneFileFromAFolder) {
    testkit::TempDir dir;
    ::mkdir(dir.file("Test").c_str(), 0755);
    const std::vector<uint8_t> bytes = zone_file(summer_zone(wall(2030, 3, 31, 1, 0, 0), wall(2030, 10, 27, 1, 0, 0)));
    std::ofstream(dir.file("Test/Summer"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    RecorderZone zone;
    std::string error;
    ASSERT_EQ(zone.load("Test/Summer", &error, dir.path()), 0) << error;
    EXPECT_EQ(zone.name(), "Test/Summer");
    EXPECT_EQ(zone.offset_at(wall(2030, 7, 1, 0, 0, 0)), 7200);
    // A folder is not a zone.
    EXPECT_EQ(zone.load("Test", &error, dir.path()), -1);
}

// The system's own zone files: in the European Union the clocks went back at 01:00 UTC on the
// last Sunday of October 2026 (25 October).
TEST(RecorderZone, SystemZoneKnowsTheEuropeanChangeBack) {
    RecorderZone zone;
    std::string error;
    ASSERT_EQ(zone.load("Europe/Berlin", &error), 0) << error;
    const std::vector<int64_t> twice = zone.to_utc(wall(2026, 10, 25, 2, 15, 0));
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_EQ(twice[0], wall(2026, 10, 25, 0, 15, 0));
    EXPECT_EQ(twice[1], wall(2026, 10, 25, 1, 15, 0));
}

TEST(ClockOffset, ParsesSignedWholeSeconds) {
    int64_t v = 99;
    EXPECT_TRUE(parse_clock_offset("+75", &v));
    EXPECT_EQ(v, 75);
    EXPECT_TRUE(parse_clock_offset("-3600", &v));
    EXPECT_EQ(v, -3600);
    EXPECT_TRUE(parse_clock_offset("0", &v));
    EXPECT_EQ(v, 0);
    for (const char* bad : {"", "+", "-", "1.5", "12s", " 12", "0x10", "--5", "99999999999999999999"}) {
        v = 42;
        EXPECT_FALSE(parse_clock_offset(bad, &v)) << bad;
        EXPECT_EQ(v, 42) << bad;
    }
}

TEST(ClockOffset, CorrectedTimeIsTheRecorderTimeLessTheOffset) {
    const uint32_t t = static_cast<uint32_t>(wall(2026, 3, 14, 7, 0, 0));
    EXPECT_EQ(corrected_time_text(t, 75), "corrected 06:58:45");
    EXPECT_EQ(corrected_time_text(t, -3600), "corrected 08:00:00");
    // Across midnight, both ways.
    EXPECT_EQ(corrected_time_text(static_cast<uint32_t>(wall(2026, 3, 14, 0, 0, 30)), 60), "corrected 23:59:30");
    EXPECT_EQ(corrected_time_text(static_cast<uint32_t>(wall(2026, 3, 14, 23, 59, 30)), -60), "corrected 00:00:30");
}

// The text is one the shell splits back into the same arguments.
TEST(CommandLine, ShellSplitsItBackIntoTheArguments) {
    const std::vector<std::string> args = {"quillon-cli", "--notes", "seized at 10 o'clock", "--case",
                                           "K/17", "", "a\"b$c`d"};
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    const std::string text = command_line_text(static_cast<int>(argv.size()), argv.data());
    testkit::TempDir dir;
    const testkit::ToolRun r = testkit::run_tool(dir, "set -- " + text + "; for a; do printf '[%s]\\n' \"$a\"; done");
    std::string want;
    for (const std::string& a : args) want += "[" + a + "]\n";
    EXPECT_EQ(r.out, want) << text;
}

// An AVI as the writer makes it, read back.
std::string write_avi(const testkit::TempDir& dir, const char* fourcc, int32_t w, int32_t h, double fps) {
    const std::string path = dir.file(std::string("v_") + fourcc + ".avi");
    avi_out avi;
    EXPECT_EQ(avi_out_create(&avi, path), 0);
    EXPECT_EQ(avi_out_video_format(&avi, w, h, fps, fourcc), 1);
    EXPECT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 64), 1);
    const uint8_t frame[8] = {0, 0, 0, 1, 0x65, 1, 2, 3};
    EXPECT_EQ(avi_out_write_frame(&avi, frame, sizeof frame, true), 0);
    const std::vector<uint8_t> audio(8000, 0x7F);
    EXPECT_EQ(avi_out_write_audio(&avi, audio.data(), audio.size()), 0);
    EXPECT_EQ(avi_out_finish(&avi), 0);
    EXPECT_EQ(avi_out_close(&avi), 0);
    return path;
}

TEST(ExportStreams, ReadBackFromTheFinishedFile) {
    testkit::TempDir dir;
    std::vector<ExportStream> s;
    ASSERT_EQ(read_avi_streams(write_avi(dir, "h264", 704, 576, 25.0), &s), 0);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].kind, "video");
    EXPECT_EQ(s[0].codec, "h264");
    EXPECT_EQ(s[0].width, 704);
    EXPECT_EQ(s[0].height, 576);
    EXPECT_EQ(s[0].rate, "25");
    EXPECT_EQ(s[0].handling, "copied");
    EXPECT_EQ(s[1].kind, "audio");
    EXPECT_EQ(s[1].codec, "pcm_mulaw");
    EXPECT_EQ(s[1].rate, "8000");
    EXPECT_EQ(s[1].detail, "mono, 8 bit, 64 kbit/s");
    s.clear();
    ASSERT_EQ(read_avi_streams(write_avi(dir, "XVID", 352, 240, 30.0), &s), 0);
    EXPECT_EQ(s[0].codec, "mpeg4");
    EXPECT_EQ(s[0].rate, "30");
}

TEST(ExportStreams, DamagedOrMissingHeadersAddNothing) {
    testkit::TempDir dir;
    const std::string path = write_avi(dir, "h264", 352, 288, 25.0);
    std::vector<uint8_t> bytes = testkit::read_file(path);
    std::vector<ExportStream> s;
    EXPECT_EQ(read_avi_streams(dir.file("absent.avi"), &s), -1);
    // Cut inside the header lists, and with a list size pointing past the file.
    for (size_t cut : {size_t{12}, size_t{100}, size_t{300}}) {
        std::ofstream(dir.file("cut.avi"), std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(cut));
        EXPECT_EQ(read_avi_streams(dir.file("cut.avi"), &s), -1) << cut;
    }
    bytes[16] = 0xFF;
    bytes[17] = 0xFF;
    bytes[18] = 0xFF;
    bytes[19] = 0x7F;
    bytes[28] = 0xFF;  // the avih chunk's size
    bytes[29] = 0xFF;
    std::ofstream(dir.file("huge.avi"), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    EXPECT_EQ(read_avi_streams(dir.file("huge.avi"), &s), -1);
    EXPECT_TRUE(s.empty());
}

// An AVI header with bytes flipped: read or refused, never past what was read (ASan).
TEST(ExportStreams, FlippedHeaderBytesNeverReadOutOfBounds) {
    testkit::TempDir dir;
    const std::vector<uint8_t> good = testkit::read_file(write_avi(dir, "h264", 352, 240, 30.0));
    std::mt19937 gen(9);
    const std::string path = dir.file("flipped.avi");
    int read = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + 2048);
        for (int k = 0; k < 4; ++k) bytes[12 + gen() % 400] = static_cast<uint8_t>(gen());
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        std::vector<ExportStream> s;
        if (read_avi_streams(path, &s) == 0) {
            ++read;
            EXPECT_FALSE(s.empty());
        } else {
            EXPECT_TRUE(s.empty());
        }
    }
    EXPECT_GT(read, 0);
}

void write_bytes(const std::string& path, size_t n, char fill) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(n, fill);
}

TEST(FileHasher, DigestsMatchTheFilesAndFollowChanges) {
    testkit::TempDir dir;
    FileHasher hasher;
    std::vector<std::string> paths;
    for (int i = 0; i < 7; ++i) {
        paths.push_back(dir.file("f" + std::to_string(i)));
        write_bytes(paths.back(), static_cast<size_t>(1000 * i + 1), static_cast<char>('a' + i));
        hasher.add(paths.back());
    }
    hasher.add(dir.file("absent"));
    auto digests = hasher.wait();
    ASSERT_EQ(digests.size(), 8u);
    for (const std::string& p : paths) {
        std::string want;
        ASSERT_EQ(platform::sha256_file(p, &want), 0);
        EXPECT_TRUE(digests[p].ok);
        EXPECT_EQ(digests[p].sha256, want);
        EXPECT_EQ(digests[p].size, testkit::read_file(p).size());
    }
    EXPECT_FALSE(digests[dir.file("absent")].ok);
    // A file changed and given again has its new digest.
    const std::string before = digests[paths[0]].sha256;
    write_bytes(paths[0], 50, 'z');
    hasher.add(paths[0]);
    digests = hasher.wait();
    EXPECT_NE(digests[paths[0]].sha256, before);
    EXPECT_EQ(digests[paths[0]].size, 50u);
    hasher.clear();
    EXPECT_TRUE(hasher.wait().empty());
}

Json read_json(const std::string& path) {
    std::ifstream in(path);
    return Json::parse(in);
}

ExportReport report_with_file(const testkit::TempDir& dir, const std::string& prefix) {
    ExportReport r;
    r.from = static_cast<uint32_t>(wall(2026, 10, 25, 1, 50, 0));
    r.to = static_cast<uint32_t>(wall(2026, 10, 25, 2, 10, 0));
    r.channel_mask = 1;
    ExportFileEntry e;
    e.channel = 1;
    e.prefix = dir.path() + "/" + prefix;
    e.fps = 25;
    r.files.push_back(e);
    return r;
}

TEST(ExportReportCase, CarriesTheCaseTheClockAndTheJob) {
    testkit::TempDir dir;
    const std::string avi = write_avi(dir, "h264", 352, 288, 25.0);
    const std::string prefix = avi.substr(dir.path().size() + 1, avi.size() - dir.path().size() - 4);
    write_bytes(dir.path() + "/" + prefix + "smi", 10, 's');
    ExportReport r = report_with_file(dir, prefix);
    r.case_info.case_number = "K-17";
    r.case_info.exhibit = "HDD 2";
    r.case_info.examiner = "an examiner";
    r.case_info.notes = "line one\nline two";
    r.case_info.clock_offset = -120;
    r.case_info.recorder_zone = "Europe/Berlin";
    r.case_info.invoked_by = kInvokedByDesktop;
    r.job_started = wall(2026, 12, 9, 5, 0, 0);
    r.job_ended = r.job_started + 61;
    std::string error, written;
    ASSERT_EQ(write_export_report(dir.path(), r, &error, {}, &written), 0) << error;
    const Json doc = read_json(written);
    EXPECT_EQ(doc["case"]["case_number"], "K-17");
    EXPECT_EQ(doc["case"]["exhibit"], "HDD 2");
    EXPECT_EQ(doc["case"]["examiner"], "an examiner");
    EXPECT_EQ(doc["case"]["notes"], "line one\nline two");
    EXPECT_EQ(doc["job"]["invoked_by"], "desktop program");
    EXPECT_EQ(doc["job"]["started_utc"], "2026-12-09T05:00:00Z");
    EXPECT_EQ(doc["job"]["ended_utc"], "2026-12-09T05:01:01Z");
    const Json& clock = doc["recorder_clock"];
    EXPECT_EQ(clock["offset_seconds"], -120);
    EXPECT_EQ(clock["time_zone"], "Europe/Berlin");
    // 01:50 on the recorder is 01:52 corrected, still summer time: 23:52 UTC the day before.
    EXPECT_EQ(clock["span"]["from"]["recorder"], "2026-10-25 01:50:00");
    EXPECT_EQ(clock["span"]["from"]["corrected"], "2026-10-25 01:52:00");
    EXPECT_EQ(clock["span"]["from"]["utc"], "2026-10-24T23:52:00Z");
    EXPECT_EQ(clock["span"]["from"]["ambiguous"], false);
    // 02:12 corrected lies in the hour that passes twice.
    EXPECT_EQ(clock["span"]["to"]["ambiguous"], true);
    EXPECT_EQ(clock["span"]["to"]["utc"], "2026-10-25T00:12:00Z");
    EXPECT_EQ(clock["span"]["to"]["other_utc"], "2026-10-25T01:12:00Z");
    ASSERT_EQ(clock["repeated_hours"].size(), 1u);
    EXPECT_EQ(clock["repeated_hours"][0]["from"], "2026-10-25 02:00:00");
    EXPECT_EQ(clock["repeated_hours"][0]["to"], "2026-10-25 03:00:00");
    const Json& streams = doc["files"][0]["streams"];
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams[0]["codec"], "h264");
    EXPECT_EQ(streams[0]["height"], 288);
    EXPECT_EQ(streams[1]["codec"], "pcm_mulaw");
    EXPECT_EQ(streams[2]["kind"], "subtitle");
    EXPECT_EQ(streams[2]["handling"], "generated");
}

TEST(ExportReportCase, WithoutZoneOrOffsetNothingIsInvented) {
    testkit::TempDir dir;
    write_bytes(dir.file("x.avi"), 10, 'a');
    ExportReport r = report_with_file(dir, "x.");
    std::string error, written;
    ASSERT_EQ(write_export_report(dir.path(), r, &error, {}, &written), 0) << error;
    const Json doc = read_json(written);
    EXPECT_TRUE(doc["case"]["case_number"].is_null());
    EXPECT_TRUE(doc["recorder_clock"]["offset_seconds"].is_null());
    EXPECT_TRUE(doc["recorder_clock"]["span"]["from"]["utc"].is_null());
    EXPECT_EQ(doc["recorder_clock"]["span"]["from"]["corrected"], doc["recorder_clock"]["span"]["from"]["recorder"]);
    EXPECT_TRUE(doc["recorder_clock"]["repeated_hours"].empty());
    EXPECT_TRUE(doc["source"]["image_case_data"].is_null());
}

TEST(ExportReportCase, SkippedWallTimeHasNoUtc) {
    testkit::TempDir dir;
    write_bytes(dir.file("x.avi"), 10, 'a');
    ExportReport r = report_with_file(dir, "x.");
    r.from = static_cast<uint32_t>(wall(2026, 3, 29, 2, 30, 0));
    r.to = r.from + 60;
    r.case_info.recorder_zone = "Europe/Berlin";
    std::string error, written;
    ASSERT_EQ(write_export_report(dir.path(), r, &error, {}, &written), 0) << error;
    const Json from = read_json(written)["recorder_clock"]["span"]["from"];
    EXPECT_TRUE(from["utc"].is_null());
    EXPECT_NE(from["note"].get<std::string>().find("does not occur"), std::string::npos);
}

// A digest made while the job ran is used while the file keeps its size; a file that changed
// size since is hashed again.
TEST(ExportReportCase, DigestsFromTheJobAreUsedOnlyForUnchangedFiles) {
    testkit::TempDir dir;
    write_bytes(dir.file("x.avi"), 100, 'a');
    write_bytes(dir.file("x.smi"), 20, 'b');
    ExportReport r = report_with_file(dir, "x.");
    r.digests[dir.file("x.avi")] = FileDigest{true, 100, "made-while-the-job-ran"};
    r.digests[dir.file("x.smi")] = FileDigest{true, 19, "stale"};
    std::string error, written;
    ASSERT_EQ(write_export_report(dir.path(), r, &error, {}, &written), 0) << error;
    const Json f = read_json(written)["files"][0];
    EXPECT_EQ(f["avi"]["sha256"], "made-while-the-job-ran");
    std::string smi;
    ASSERT_EQ(platform::sha256_file(dir.file("x.smi"), &smi), 0);
    EXPECT_EQ(f["smi"]["sha256"], smi);
}

DateTime date_time(int year, int month, int day, int hour, int minute, int second) {
    DateTime d{};
    d.year = static_cast<uint16_t>(year);
    d.month = static_cast<uint16_t>(month);
    d.day = static_cast<uint16_t>(day);
    d.hour = static_cast<uint16_t>(hour);
    d.minute = static_cast<uint16_t>(minute);
    d.second = static_cast<uint16_t>(second);
    return d;
}

// Captions as the channel writer makes them gain the corrected time after their date and time;
// the header, the hole notice and the footer stay as they were.
TEST(SamiCorrected, EveryDatedCaptionGainsTheCorrectedTime) {
    const std::string header = sami_header("prefix.");
    const std::string first = sami_first_caption(date_time(2026, 3, 14, 23, 59, 59));
    const std::string hole = sami_hole_caption(1, 3);
    const std::string second = sami_second_caption(4, date_time(2026, 3, 15, 0, 0, 3), 12, true);
    const std::string text = header + first + hole + second + std::string(sami_footer());
    const std::string out = sami_add_corrected_lines(text, -61);
    std::string want_first = first;
    want_first.insert(want_first.find("23:59:59") + 8, "<br>corrected 00:01:00");
    std::string want_second = second;
    want_second.insert(want_second.find("00:00:03") + 8, "<br>corrected 00:01:04");
    EXPECT_EQ(out, header + want_first + hole + want_second + std::string(sami_footer()));
    // Nothing dated, nothing changed.
    EXPECT_EQ(sami_add_corrected_lines(header + hole, 5), header + hole);
    EXPECT_EQ(sami_corrected_line(static_cast<uint32_t>(wall(2026, 3, 14, 7, 0, 0)), 75),
              "<br>corrected 06:58:45");
}

TEST(SamiCorrected, TheFileIsReplacedWhole) {
    testkit::TempDir dir;
    const std::string path = dir.file("x.smi");
    const std::string text = sami_first_caption(date_time(2026, 3, 14, 7, 0, 0));
    std::ofstream(path, std::ios::binary) << text;
    ASSERT_EQ(sami_file_add_corrected_lines(path, 3600), 0);
    const std::vector<uint8_t> bytes = testkit::read_file(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), sami_add_corrected_lines(text, 3600));
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("corrected 06:00:00"), std::string::npos);
    EXPECT_EQ(sami_file_add_corrected_lines(dir.file("absent.smi"), 1), -1);
    // Only the file itself is left in the folder.
    EXPECT_FALSE(std::ifstream(path + ".corrected").good());
}

}  // namespace
