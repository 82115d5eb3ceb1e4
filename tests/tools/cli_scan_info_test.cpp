// scan and info on a partitioned disk with an MS partition, a recorder volume, an unused
// table entry and a backup disk behind a Linux type byte.
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "disk/format.h"
#include "tests/tools/cli_runner.h"

namespace {

using clitest::run_cli;
using nlohmann::json;

constexpr uint32_t kRecorderCreated = 951786123;  // 2000-02-29 01:02:03
constexpr uint32_t kRecorderOldest = 951782400;   // 2000-02-29 00:00:00
constexpr uint32_t kRecorderNewest = 951789600;   // 2000-02-29 02:00:00
constexpr uint32_t kBackupCreated = 4102444800;   // 2100-01-01 00:00:00, past 2038
constexpr uint64_t kRecorderStart = 18432;

// Sessions with few channels and small blocks keep the sparse image to a few hundred KiB.
const char* const kSpec = R"({
  "total_sectors": 1048576, "layout": "partitioned",
  "partitions": [
    {"type_byte": 12, "bootable": true, "start": 2048, "count": 16384},
    {"type_byte": 240, "start": 18432, "count": 131072, "area": {"recorder": {
       "version": 18, "created": 951786123, "oldest": 951782400, "newest": 951789600,
       "channel_count": 15, "block_size": 65536}}},
    {"count": 0},
    {"type_byte": 131, "start": 149504, "count": 800000, "area": {"backup": {
       "slot_count": 4, "created": 4102444800, "block_size": 4096,
       "sessions": [
         {"slot": 0, "name": "MORNING", "created": 951786123, "channel_count": 4,
          "data_channel_count": 1},
         {"slot": 1, "name": "NOON", "channel_count": 4, "data_channel_count": 1},
         {"slot": 3, "name": "TORN", "bad_checksum": true, "channel_count": 4,
          "data_channel_count": 1}]}}}]})";

class cli_disk : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new testkit::TempDir;
        image_ = clitest::make_sample(*dir_, "disk", kSpec);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static inline testkit::TempDir* dir_ = nullptr;
    static inline std::string image_;
};

TEST_F(cli_disk, ScanListsTheTableEntriesInOrder) {
    const clitest::CliResult r = run_cli({"scan", "--json", "--image", image_});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    int row = 0;
    auto entry = [&](int fs, const char* fs_name, int partition, int type, const char* type_name,
                     bool bootable, uint64_t start, uint64_t count) {
        return json{{"row", row++},
                    {"device", image_},
                    {"fs_type", fs},
                    {"fs_type_name", fs_name},
                    {"partition", partition},
                    {"partition_type", type},
                    {"partition_type_name", type_name},
                    {"bootable", bootable},
                    {"start_sector", start},
                    {"sector_count", count},
                    {"container", "raw"}};
    };
    const json want = json::array({
        entry(9, "WHOLE", 0, 9, "WHOLE", false, 0, 1048576),
        entry(2, "MS", 1, 2, "MS", true, 2048, 16384),
        entry(6, "PSOS", 2, 4, "DVR20", false, kRecorderStart, 131072),
        // The unused third entry is skipped; the backup keeps its table position 4.
        entry(7, "BACKUP10", 4, 3, "LINUX", false, 149504, 800000),
    });
    EXPECT_EQ(r.json()["disks"], want);
}

TEST_F(cli_disk, InfoShowsTheRecorderSuperBlockAsStoredOnDisk) {
    const clitest::CliResult r = run_cli({"info", "--json", "--image", image_});
    ASSERT_EQ(r.status, 0) << r.err;
    const json doc = r.json();
    EXPECT_EQ(doc["disk"]["row"], 2);  // the first mountable row
    EXPECT_EQ(doc["disk"]["fs_type"], 6);
    EXPECT_TRUE(doc["backup_super_block"].is_null());

    const json& sb = doc["super_block"];
    ASSERT_EQ(sb["authoritative_sector"], 65536);  // the middle of the partition
    DvrSuperBlock disk{};
    std::ifstream(image_, std::ios::binary)
        .seekg(static_cast<std::streamoff>((kRecorderStart + 65536) * kSectorSize))
        .read(reinterpret_cast<char*>(&disk), sizeof disk);
    const std::pair<const char*, int64_t> fields[] = {
        {"magic", disk.magic},
        {"version", disk.version},
        {"created", disk.created},
        {"block_size", disk.block_size},
        {"max_block", disk.max_block},
        {"channel_count", disk.channel_count},
        {"area1_sector", disk.area1_sector},
        {"authoritative_sector", disk.authoritative_sector},
        {"info_sector", disk.info_sector},
        {"info_sectors", disk.info_sectors},
        {"map_sector", disk.map_sector},
        {"map_sectors_per_channel", disk.map_sectors_per_channel},
        {"map_sectors", disk.map_sectors},
        {"area2_block", disk.area2_block},
        {"area2_sector", disk.area2_sector},
        {"oldest", disk.oldest},
        {"newest", disk.newest}};
    for (const auto& [name, value] : fields) EXPECT_EQ(sb[name], value) << name;
    EXPECT_EQ(sb["magic"], kDvrMagic);
    EXPECT_EQ(sb["version"], 18);
    EXPECT_EQ(sb["created_text"], "2000-02-29 01:02:03");
    EXPECT_EQ(sb["newest_text"], "2000-02-29 02:00:00");
    EXPECT_EQ(sb["checksum_valid"], true);

    const json want_session = {{"index", 0},
                               {"name", "PSOS"},
                               {"slot", 0},
                               {"created", kRecorderCreated},
                               {"created_text", "2000-02-29 01:02:03"},
                               {"interval", 15},
                               {"oldest", kRecorderOldest},
                               {"oldest_text", "2000-02-29 00:00:00"},
                               {"newest", kRecorderNewest},
                               {"newest_text", "2000-02-29 02:00:00"},
                               {"channel_count", 15},
                               {"data_channel_count", 12}};
    EXPECT_EQ(doc["sessions"], json::array({want_session}));
}

TEST_F(cli_disk, InfoOnABackupRowListsEverySlot) {
    const clitest::CliResult r = run_cli({"info", "--disk", "3", "--json", "--image", image_});
    ASSERT_EQ(r.status, 0) << r.err;
    const json doc = r.json();
    EXPECT_TRUE(doc["super_block"].is_null());
    const json want_sb = {{"magic", kBackupMagic},     {"layout", 256},
                          {"created", kBackupCreated}, {"created_text", "2100-01-01 00:00:00"},
                          {"block_limit", 13},         {"slot_count", 4},
                          {"sessions_used", 3},        {"block_size", 4096}};
    EXPECT_EQ(doc["backup_super_block"], want_sb);

    const json& sessions = doc["sessions"];
    ASSERT_EQ(sessions.size(), 4u);
    const char* names[] = {"MORNING", "NOON", "", "TORN"};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(sessions[i]["index"], i);
        EXPECT_EQ(sessions[i]["name"], names[i]);
    }
    EXPECT_EQ(sessions[0]["created"], kRecorderCreated);
    EXPECT_EQ(sessions[3]["slot"], 3);
    EXPECT_EQ(sessions[2]["created"], 0);  // the empty slot
    EXPECT_TRUE(sessions[2]["created_text"].is_null());
}

TEST_F(cli_disk, RowsThatCannotBeMountedFail) {
    for (const char* row : {"0", "1"}) {  // WHOLE and MS
        const clitest::CliResult r = run_cli({"info", "--disk", row, "--image", image_});
        EXPECT_EQ(r.status, 1) << row;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "quillon-cli: mount failed: No Backup Data (-58)\n");
    }
    const clitest::CliResult r = run_cli({"info", "--disk", "9", "--image", image_});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no disk at row 9"), std::string::npos) << r.err;
}

// Reads leave the evidence untouched, and times never follow the PC's time zone.
TEST_F(cli_disk, ReadingChangesNeitherTheImageNorTheTimes) {
    const std::string before = testkit::fingerprint(image_);
    const clitest::CliResult utc = run_cli({"info", "--json", "--image", image_}, {"TZ=UTC0"});
    const clitest::CliResult east = run_cli({"info", "--json", "--image", image_}, {"TZ=QQQ-14"});
    ASSERT_EQ(utc.status, 0);
    EXPECT_EQ(east.out, utc.out);
    EXPECT_EQ(run_cli({"info", "--disk", "3", "--image", image_}).status, 0);
    EXPECT_EQ(testkit::fingerprint(image_), before);
}

TEST_F(cli_disk, TraceGoesToStandardErrorOnly) {
    const clitest::CliResult quiet = run_cli({"scan", "--json", "--image", image_});
    EXPECT_EQ(quiet.err, "");
    // Global options may also come before the command.
    const clitest::CliResult r = run_cli({"--trace", "--json", "--image", image_, "scan"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, quiet.out);
    EXPECT_NE(r.err.find("1: Drive '" + image_ + "' Open !"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("File System and Partition Type Mismatch"), std::string::npos);
}

TEST_F(cli_disk, TextOutputShowsTheSameRecords) {
    const clitest::CliResult info = run_cli({"info", "--disk", "3", "--image", image_});
    ASSERT_EQ(info.status, 0);
    for (const char* word : {"0xC3C3BABA", "2100-01-01 00:00:00", "MORNING", "TORN"}) {
        EXPECT_NE(info.out.find(word), std::string::npos) << word << " in\n" << info.out;
    }
}

}  // namespace
