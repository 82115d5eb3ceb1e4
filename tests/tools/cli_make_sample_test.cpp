// make-sample, and what the scan and mount make of the images it writes.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/tools/cli_runner.h"

namespace {

using clitest::run_cli;
using nlohmann::json;

TEST(cli_make_sample, DefaultPresetIsABareRecorderDisk) {
    testkit::TempDir dir;
    const std::string image = dir.file("r.img");
    const clitest::CliResult r =
        run_cli({"make-sample", "--json", "--out", image, "--size-mib", "128"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json want = {{"image", image},
                       {"sessions", json::array()},
                       {"volumes",
                        {{{"origin", 0},
                          {"kind", "recorder"},
                          {"probe_start", 0},
                          {"super_block_sector", 131072},
                          {"created", 1773480413},
                          {"created_text", "2026-03-14 09:26:53"}}}}};
    EXPECT_EQ(r.json(), want);
    EXPECT_EQ(std::filesystem::file_size(image), 128u << 20);
}

TEST(cli_make_sample, ReportsTheSessionsOfEveryBackupArea) {
    testkit::TempDir dir;
    const std::string spec = dir.file("b.json");
    // Sessions without channels need no data blocks, so the areas can stay small.
    std::ofstream(spec) << R"({"total_sectors": 262144, "layout": "partitioned", "partitions": [
        {"type_byte": 242, "count": 70000, "area": {"backup": {"sessions": [
            {"slot": 0, "name": "A", "channel_count": 0},
            {"slot": 2, "name": "B", "created": 951786123, "channel_count": 0}]}}},
        {"type_byte": 242, "count": 70000, "area": {"backup": {"slot_count": 1,
            "sessions": [{"name": "C", "channel_count": 0}]}}}]})";
    const clitest::CliResult r =
        run_cli({"make-sample", "--json", "--spec", spec, "--out", dir.file("b.img")});
    ASSERT_EQ(r.status, 0) << r.err;
    // Partitions without a start follow each other from sector 2048.
    const json want = json::array({{{"origin", 2048},
                                    {"slot", 0},
                                    {"name", "A"},
                                    {"created", 1773480413},
                                    {"created_text", "2026-03-14 09:26:53"}},
                                   {{"origin", 2048},
                                    {"slot", 2},
                                    {"name", "B"},
                                    {"created", 951786123},
                                    {"created_text", "2000-02-29 01:02:03"}},
                                   {{"origin", 72048},
                                    {"slot", 0},
                                    {"name", "C"},
                                    {"created", 1773480413},
                                    {"created_text", "2026-03-14 09:26:53"}}});
    EXPECT_EQ(r.json()["sessions"], want);
}

// Each damage switch lands on the first area's super block: the probes refuse it, except a
// creation time of 0, which a recorder volume still mounts with.
TEST(cli_make_sample, DamageSwitchesReachTheFirstArea) {
    testkit::TempDir dir;
    const std::string backup_spec = dir.file("backup.json");
    std::ofstream(backup_spec) << R"({"total_sectors": 262144, "layout": "partitioned",
        "partitions": [{"type_byte": 242, "count": 70000, "area": {"backup": {}}}]})";
    const struct {
        const char* damage;
        bool backup;
        int fs_type;  // of the area's row
    } cases[] = {
        {"checksum", false, 1}, {"magic", false, 1}, {"version", false, 1},
        {"created", false, 6},  {"magic", true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.damage) + (c.backup ? " backup" : " recorder"));
        const std::string image = dir.file(std::string(c.damage) + (c.backup ? "-b.img" : ".img"));
        std::vector<std::string> args = {"make-sample", "--out", image, "--damage", c.damage};
        if (c.backup) {
            args.insert(args.end(), {"--spec", backup_spec});
        } else {
            args.insert(args.end(), {"--size-mib", "128"});
        }
        ASSERT_EQ(run_cli(args).status, 0);
        const json disks = run_cli({"scan", "--json", "--image", image}).json()["disks"];
        ASSERT_EQ(disks.size(), c.backup ? 2u : 1u);
        EXPECT_EQ(disks.back()["fs_type"], c.fs_type);

        const clitest::CliResult info = run_cli({"info", "--json", "--image", image});
        EXPECT_EQ(info.status, c.fs_type == 6 ? 0 : 1) << info.err;
        if (c.fs_type == 6) {
            EXPECT_TRUE(info.json()["sessions"][0]["created_text"].is_null());
        }
    }
}

TEST(cli_make_sample, NeverWritesOverDevicesOrUnaskedOverFiles) {
    testkit::TempDir dir;
    const std::string image = dir.file("r.img");
    ASSERT_EQ(run_cli({"make-sample", "--out", image, "--preset", "ms", "--size-mib", "1"}).status,
              0);
    const std::string before = testkit::fingerprint(image);

    clitest::CliResult r =
        run_cli({"make-sample", "--out", image, "--preset", "ms", "--size-mib", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(testkit::fingerprint(image), before);

    r = run_cli({"make-sample", "--out", image, "--preset", "ms", "--size-mib", "2", "--force"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::filesystem::file_size(image), 2u << 20);

    for (const std::string& target : {std::string("/dev/null"), dir.path()}) {
        r = run_cli({"make-sample", "--out", target, "--force"});
        EXPECT_EQ(r.status, 1) << target;
        EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    }
}

}  // namespace
