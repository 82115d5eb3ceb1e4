#include "tools/sample/disk_json.h"

#include <gtest/gtest.h>

namespace {

using sample::spec_from_json;

sample::DiskSpec parse_ok(const std::string& text) {
    sample::DiskSpec spec;
    std::string error;
    EXPECT_EQ(spec_from_json(text, &spec, &error), 0) << text << "\n" << error;
    return spec;
}

TEST(disk_json, LeftOutFieldsKeepTheDefaults) {
    const sample::DiskSpec defaults;
    // Null counts as left out; list elements start from their own defaults.
    const sample::DiskSpec spec = parse_ok(R"({"layout": null,
        "bare": {"backup": {"sessions": [{"slot": 2}]}}, "partitions": [{"count": 8}]})");
    EXPECT_EQ(spec.total_sectors, defaults.total_sectors);
    EXPECT_EQ(spec.layout, defaults.layout);
    EXPECT_EQ(spec.bare.kind, sample::AreaKind::Backup);  // from its only member
    ASSERT_EQ(spec.bare.backup.sessions.size(), 1u);
    EXPECT_EQ(spec.bare.backup.sessions[0].slot, 2u);
    EXPECT_EQ(spec.bare.backup.sessions[0].name, sample::SessionSpec{}.name);
    EXPECT_FALSE(spec.bare.backup.sessions_used.has_value());
    ASSERT_EQ(spec.partitions.size(), 1u);
    EXPECT_EQ(spec.partitions[0].type_byte, kPartTypeRecorder);
    EXPECT_EQ(spec.partitions[0].area.kind, sample::AreaKind::Empty);
}

TEST(disk_json, MapsEveryLevelOfAPartitionedDisk) {
    const sample::DiskSpec spec = parse_ok(R"({"total_sectors": 262144, "layout": "partitioned",
      "partitions": [
        {"type_byte": "0x0c", "bootable": true, "start": 2048, "count": 4096},
        {"type_byte": 240, "area": {"kind": "recorder", "recorder": {
           "version": 17, "created": 951786123, "block_size": 524288, "placement": "pointer",
           "pointer_copies": [{"sector": 10, "version": 20}, {"sector": 20, "word9": -5}],
           "damage": {"created_zero": true},
           "content": {"build_index": false, "channels": [{"channel": 4, "size": 5000000000,
             "writes": [{"time": 60, "text": "AB"}, {"time": 75, "bytes": [0, 255]}]}]}}}},
        {"type_byte": "0xF2", "area": {"kind": "empty", "backup": {"slot_count": 32,
           "sessions_used": 0, "sessions": [{"name": "night", "bad_checksum": true}],
           "damage": {"magic": true}}}}]})");
    EXPECT_EQ(spec.layout, sample::DiskLayout::Partitioned);
    ASSERT_EQ(spec.partitions.size(), 3u);
    EXPECT_EQ(spec.partitions[0].type_byte, 0x0C);
    EXPECT_TRUE(spec.partitions[0].bootable);
    EXPECT_EQ(spec.partitions[0].start, 2048u);

    const sample::RecorderVolumeSpec& r = spec.partitions[1].area.recorder;
    EXPECT_EQ(spec.partitions[1].area.kind, sample::AreaKind::Recorder);
    EXPECT_EQ(r.version, 17u);
    EXPECT_EQ(r.created, 951786123u);
    EXPECT_EQ(r.placement, sample::Placement::Pointer);
    ASSERT_EQ(r.pointer_copies.size(), 2u);
    EXPECT_EQ(r.pointer_copies[0].version, std::optional<uint32_t>(20));
    EXPECT_FALSE(r.pointer_copies[0].word9.has_value());
    EXPECT_EQ(r.pointer_copies[1].word9, std::optional<int32_t>(-5));
    EXPECT_TRUE(r.damage.created_zero);
    EXPECT_FALSE(r.damage.checksum);
    EXPECT_FALSE(r.content.build_index);
    ASSERT_EQ(r.content.channels.size(), 1u);
    const sample::ChannelData& ch = r.content.channels[0];
    EXPECT_EQ(ch.size, std::optional<uint64_t>(5000000000));
    ASSERT_EQ(ch.writes.size(), 2u);
    EXPECT_EQ(ch.writes[0].bytes, (std::vector<uint8_t>{'A', 'B'}));
    EXPECT_EQ(ch.writes[1].time, 75u);
    EXPECT_EQ(ch.writes[1].bytes, (std::vector<uint8_t>{0, 255}));

    // An explicit kind wins over the members given, which are still read.
    const sample::AreaSpec& b = spec.partitions[2].area;
    EXPECT_EQ(spec.partitions[2].type_byte, kPartTypeBackup);
    EXPECT_EQ(b.kind, sample::AreaKind::Empty);
    EXPECT_EQ(b.backup.slot_count, 32);
    EXPECT_EQ(b.backup.sessions_used, std::optional<uint32_t>(0));
    EXPECT_TRUE(b.backup.sessions.at(0).bad_checksum);
    EXPECT_TRUE(b.backup.damage.magic);
}

// A bad document names the field and leaves the caller's spec alone.
TEST(disk_json, RefusesBadDocumentsNamingTheField) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"{", "not valid JSON"},
        {"[]", "top level: expected an object"},
        {R"({"total_sectors": "big"})", "total_sectors: expected an integer"},
        {R"({"total_sectors": -1})", "total_sectors: expected an integer"},
        {R"({"bare_start": 2552.5})", "bare_start: expected an integer"},
        {R"({"layout": "gpt"})", R"(layout: expected one of "partitioned", "bare", "ms")"},
        {R"({"partitions": {}})", "partitions: expected an array"},
        {R"({"partitions": [{}, {"bootable": 1}]})",
         "partitions[1].bootable: expected true or false"},
        {R"({"partitions": [{"count": 4294967296}]})",
         "partitions[0].count: expected an integer from 0 to 4294967295"},
        {R"({"partitions": [{"type_byte": 256}]})",
         "partitions[0].type_byte: expected an integer from 0 to 255"},
        {R"({"partitions": [{"type_byte": "F0"}]})", "partitions[0].type_byte"},
        {R"({"bare": {"kind": "ntfs"}})", "bare.kind: expected one of"},
        {R"({"bare": {"recorder": {}, "backup": {}}})", "bare.kind: needed when both"},
        {R"({"bare": {"recorder": {"placement": "edge"}}})", "bare.recorder.placement"},
        {R"({"bare": {"recorder": {"pointer_copies": [{"word9": 2147483648}]}}})",
         "bare.recorder.pointer_copies[0].word9: expected an integer from -2147483648 to "
         "2147483647"},
        {R"({"bare": {"backup": {"sessions": [{"name": 7}]}}})",
         "bare.backup.sessions[0].name: expected a string"},
        {R"({"bare": {"recorder": {"content": {"channels": [{"writes": [{"bytes": [256]}]}]}}}})",
         "bare.recorder.content.channels[0].writes[0].bytes: element 0"},
        {R"({"bare": {"recorder": {"content": {"channels": [)"
         R"({"writes": [{"text": "A", "bytes": []}]}]}}}})",
         "writes[0].bytes: give either"},
        {R"({"bare": {"recorder": {"damage": {"checksm": true}}}})",
         R"(bare.recorder.damage: unknown field "checksm")"},
    };
    for (const auto& c : cases) {
        sample::DiskSpec spec;
        spec.total_sectors = 12345;
        std::string error;
        EXPECT_EQ(spec_from_json(c.text, &spec, &error), -1) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\ngave: " << error;
        EXPECT_EQ(spec.total_sectors, 12345u) << c.text;
    }
}

}  // namespace
