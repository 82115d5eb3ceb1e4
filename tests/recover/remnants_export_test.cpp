// recover_export on runs made from what was planted on the remnants disk: the AVI holds every
// frame of every GOP (read back with ffmpeg, byte for byte), the files are named after the
// stream and the first GOP's time, nothing is replaced, and the report marks each file as
// recovered with the image bytes of its GOPs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/sha256.h"
#include "recover/recovered_export.h"
#include "tests/recover/remnants_fixture.h"
#include "tests/testkit/tool_run.h"

namespace {

using recover::RecoveredGop;
using recover::RecoveredRun;
using recover::RecoveryResult;
using sample::PlantedGop;
using sample::RemnantsVariant;
using testkit::quoted;

constexpr size_t kGopsPerRun = 12;

// The planted GOPs as a scan would report them, in runs of kGopsPerRun, one stream per
// picture size, with the planted audio of each run's span.
RecoveryResult result_from_truth(const sample::RemnantsTruth& truth, size_t runs) {
    RecoveryResult r;
    std::map<std::pair<int, int>, int> streams;
    for (size_t i = 0; i < truth.complete.size() && r.runs.size() <= runs; ++i) {
        const PlantedGop& p = truth.complete[i];
        if (i % kGopsPerRun == 0) {
            if (r.runs.size() == runs) break;
            RecoveredRun run;
            run.codec = "h264";
            run.width = p.width;
            run.height = p.height;
            run.stream = streams.try_emplace({p.width, p.height}, int(streams.size()) + 1).first->second;
            r.runs.push_back(run);
        }
        r.runs.back().gops.push_back(
            RecoveredGop{p.time, static_cast<int32_t>(p.ms), p.image_offset, p.length, p.frames});
    }
    for (RecoveredRun& run : r.runs) {
        for (const sample::PlantedAudio& a : truth.audio) {
            if (a.time >= run.gops.front().time && a.time <= run.gops.back().time) {
                run.audio.push_back({a.time, a.image_offset, a.length});
            }
        }
    }
    return r;
}

// Reads the records straight from the image file.
recover::RecoveredRecordSource image_source(const std::string& path) {
    recover::RecoveredRecordSource s;
    s.gop = [path](const RecoveredGop& g, std::vector<uint8_t>* out) {
        *out = remnants_test::read_bytes(path, g.image_offset, g.length + 4u);
        return out->size() == g.length + 4u ? 0 : -17;
    };
    s.audio = [path](const recover::RecoveredAudio& a, std::vector<uint8_t>* out) {
        *out = remnants_test::read_bytes(path, a.image_offset, a.length + 4u);
        return out->size() == a.length + 4u ? 0 : -17;
    };
    return s;
}

std::string stem_of(int stream, uint32_t time) {
    const std::time_t t = time;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char name[64];
    std::snprintf(name, sizeof name, "[R%02d]%02d_%02d_%02d", stream, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return name;
}

// (size, SHA-256) of every video packet ffmpeg reads from the AVI, in order.
std::vector<std::pair<size_t, std::string>> avi_video_packets(const testkit::TempDir& dir,
                                                              const std::string& avi) {
    const testkit::ToolRun r = testkit::run_tool(
        dir, "ffmpeg -v error -i " + quoted(avi) + " -map 0:v -c copy -f framehash -hash sha256 -");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::pair<size_t, std::string>> out;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string f; std::getline(parts, f, ',');) fields.push_back(f);
        if (fields.size() < 6) continue;
        out.emplace_back(std::stoul(fields[4]), fields[5].substr(fields[5].find_first_not_of(' ')));
    }
    return out;
}

// The same for the frames of the runs' GOPs, cut from the image by the test's own parser.
std::vector<std::pair<size_t, std::string>> expected_packets(const std::string& path, const RecoveredRun& run) {
    std::vector<std::pair<size_t, std::string>> out;
    for (const RecoveredGop& g : run.gops) {
        const auto gop = remnants_test::read_gop(path, g.image_offset);
        EXPECT_TRUE(gop && gop->table_adds_up);
        if (!gop) continue;
        for (const auto& f : gop->frames) out.emplace_back(f.size(), platform::sha256_hex(f.data(), f.size()));
    }
    return out;
}

nlohmann::json read_json(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

class RemnantsExport : public ::testing::Test {
protected:
    const remnants_test::Built& image_ = remnants_test::built(RemnantsVariant::Live);
    testkit::TempDir dir_;
};

TEST_F(RemnantsExport, TheAviHoldsEveryFrameOfEveryGopInOrder) {
    const RecoveryResult result = result_from_truth(image_.truth, 1);
    ASSERT_EQ(result.runs.size(), 1u);
    std::string report, error;
    ASSERT_EQ(recover::recover_export_from(result, image_source(image_.path), dir_.path(), -1, nullptr,
                                           &report, &error), 0) << error;
    const RecoveredRun& run = result.runs[0];
    const std::string stem = dir_.file(stem_of(1, run.gops.front().time));
    ASSERT_TRUE(std::filesystem::exists(stem + ".avi"));
    ASSERT_TRUE(std::filesystem::exists(stem + ".smi"));
    const auto expected = expected_packets(image_.path, run);
    ASSERT_GE(expected.size(), kGopsPerRun);
    EXPECT_EQ(avi_video_packets(dir_, stem + ".avi"), expected);
}

TEST_F(RemnantsExport, TheReportMarksTheFileRecoveredWithItsGopRanges) {
    const RecoveryResult result = result_from_truth(image_.truth, 1);
    std::string report, error;
    ASSERT_EQ(recover::recover_export_from(result, image_source(image_.path), dir_.path(), -1, nullptr,
                                           &report, &error), 0) << error;
    EXPECT_EQ(report, dir_.file("export-report.json"));
    const nlohmann::json doc = read_json(report);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["result"], "complete");
    ASSERT_EQ(doc["files"].size(), 1u);
    const nlohmann::json& f = doc["files"][0];
    EXPECT_EQ(f["recovered"], true);
    EXPECT_EQ(f["stream"], 1);
    const RecoveredRun& run = result.runs[0];
    ASSERT_EQ(f["gop_ranges"].size(), run.gops.size());
    int frames = 0;
    for (size_t i = 0; i < run.gops.size(); ++i) {
        EXPECT_EQ(f["gop_ranges"][i]["image_offset"], run.gops[i].image_offset);
        EXPECT_EQ(f["gop_ranges"][i]["bytes"], run.gops[i].length + 4u);
        frames += run.gops[i].frames;
    }
    EXPECT_EQ(f["counts"]["stored_frames"], frames);
    EXPECT_EQ(f["unreadable_gops"], 0);
    std::string digest;
    ASSERT_EQ(platform::sha256_file(dir_.file(stem_of(1, run.gops.front().time) + ".avi"), &digest), 0);
    EXPECT_EQ(f["avi"]["sha256"], digest);
    EXPECT_EQ(doc["span"]["from"]["time"], run.gops.front().time);
    EXPECT_EQ(doc["span"]["to"]["time"], run.gops.back().time);
}

TEST_F(RemnantsExport, TheRunsAudioGoesIntoTheFile) {
    const RecoveryResult result = result_from_truth(image_.truth, 1);
    ASSERT_FALSE(result.runs[0].audio.empty());
    uint64_t samples = 0;
    for (const auto& a : result.runs[0].audio) samples += a.length - 32u;
    std::string report, error;
    ASSERT_EQ(recover::recover_export_from(result, image_source(image_.path), dir_.path(), -1, nullptr,
                                           &report, &error), 0) << error;
    const nlohmann::json doc = read_json(report);
    EXPECT_EQ(doc["files"][0]["counts"]["audio_bytes"], samples);
}

TEST_F(RemnantsExport, NeverReplacesAFileOrAnEarlierReport) {
    const RecoveryResult result = result_from_truth(image_.truth, 1);
    const std::string stem = dir_.file(stem_of(1, result.runs[0].gops.front().time));
    std::ofstream(stem + ".avi") << "an earlier file";
    std::ofstream(dir_.file("export-report.json")) << "{}";
    std::string report, error;
    ASSERT_EQ(recover::recover_export_from(result, image_source(image_.path), dir_.path(), -1, nullptr,
                                           &report, &error), 0) << error;
    std::ifstream earlier(stem + ".avi");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlier), {}), "an earlier file");
    EXPECT_TRUE(std::filesystem::exists(stem + " (2).avi"));
    EXPECT_TRUE(std::filesystem::exists(stem + " (2).smi"));
    EXPECT_NE(report, dir_.file("export-report.json"));
    const nlohmann::json doc = read_json(report);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["files"][0]["avi"]["name"], stem_of(1, result.runs[0].gops.front().time) + " (2).avi");
}

TEST_F(RemnantsExport, OnlyTheChosenRun) {
    const RecoveryResult result = result_from_truth(image_.truth, 3);
    ASSERT_EQ(result.runs.size(), 3u);
    std::string report, error;
    ASSERT_EQ(recover::recover_export_from(result, image_source(image_.path), dir_.path(), 1, nullptr,
                                           &report, &error), 0) << error;
    const nlohmann::json doc = read_json(report);
    ASSERT_EQ(doc["files"].size(), 1u);
    EXPECT_EQ(doc["files"][0]["gop_ranges"][0]["image_offset"], result.runs[1].gops.front().image_offset);
    EXPECT_TRUE(std::filesystem::exists(dir_.file(stem_of(1, result.runs[1].gops.front().time) + ".avi")));

    EXPECT_EQ(recover::recover_export_from(result, image_source(image_.path), dir_.path(), 3, nullptr,
                                           &report, &error), -1);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(recover::recover_export_from(RecoveryResult{}, image_source(image_.path), dir_.path(), -1,
                                           nullptr, &report, &error), -1);
}

TEST_F(RemnantsExport, ARecordNoLongerWholeIsLeftOutAndCounted) {
    const RecoveryResult result = result_from_truth(image_.truth, 1);
    const RecoveredRun& run = result.runs[0];
    recover::RecoveredRecordSource source = image_source(image_.path);
    const auto read = source.gop;
    const uint64_t unreadable = run.gops[2].image_offset, changed = run.gops[5].image_offset;
    source.gop = [&](const RecoveredGop& g, std::vector<uint8_t>* out) {
        if (g.image_offset == unreadable) return -17;
        const int32_t rc = read(g, out);
        if (g.image_offset == changed) (*out)[out->size() - 1] ^= 0x40;  // its trailer
        return rc;
    };
    std::string report, error;
    ASSERT_EQ(recover::recover_export_from(result, source, dir_.path(), -1, nullptr, &report, &error), 0)
        << error;
    const nlohmann::json f = read_json(report)["files"][0];
    EXPECT_EQ(f["unreadable_gops"], 2);
    EXPECT_EQ(f["gop_ranges"].size(), run.gops.size() - 2);
    for (const auto& r : f["gop_ranges"]) {
        EXPECT_NE(r["image_offset"], unreadable);
        EXPECT_NE(r["image_offset"], changed);
    }
    EXPECT_EQ(f["counts"]["stored_frames"], expected_packets(image_.path, run).size() -
                                                static_cast<size_t>(run.gops[2].frames + run.gops[5].frames));
}

class CancelAfter : public recover::RecoveryProgress {
public:
    explicit CancelAfter(int calls) : left_(calls) {}
    void progress(uint64_t done, uint64_t total) override {
        EXPECT_LE(done, total);
        EXPECT_GT(done, last_);
        last_ = done;
        --left_;
    }
    bool cancelled() override { return left_ <= 0; }

private:
    int left_;
    uint64_t last_ = 0;
};

TEST_F(RemnantsExport, ACancelEndsTheExportWithTheFilesMadeSoFarReported) {
    const RecoveryResult result = result_from_truth(image_.truth, 2);
    CancelAfter cancel(3);
    std::string report, error;
    EXPECT_EQ(recover::recover_export_from(result, image_source(image_.path), dir_.path(), -1, &cancel,
                                           &report, &error), -1);
    EXPECT_NE(error.find("cancel"), std::string::npos) << error;
    const nlohmann::json doc = read_json(report);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["result"], "failed");
    ASSERT_EQ(doc["files"].size(), 1u);
    EXPECT_EQ(doc["files"][0]["gop_ranges"].size(), 3u);
}

TEST_F(RemnantsExport, AFolderThatCannotBeWrittenFails) {
    const RecoveryResult result = result_from_truth(image_.truth, 1);
    std::string report, error;
    EXPECT_EQ(recover::recover_export_from(result, image_source(image_.path), dir_.file("missing"), -1,
                                           nullptr, &report, &error), -1);
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

TEST(RecoveredFileStem, StreamAndTheFirstGopsTime) {
    RecoveredRun run;
    run.stream = 7;
    run.gops.push_back(RecoveredGop{1773480413, 250, 0, 200, 1});  // 09:26:53
    EXPECT_EQ(recover::recovered_file_stem(run), "[R07]09_26_53.");
    run.stream = 12;
    run.gops.front().time += 3600 * 14 + 7;
    EXPECT_EQ(recover::recovered_file_stem(run), "[R12]23_27_00.");
}

}  // namespace
