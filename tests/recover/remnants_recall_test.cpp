// A scan of the remnants disks against what was planted on them. Recall: planted whole GOPs
// found at the right image offset with the right time; false finds: anything else reported.
// Live GOPs and decoys are never reported, and the image is never changed.
#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <tuple>

#include "recover/carver.h"
#include "recover/recovered_export.h"
#include "tests/recover/remnants_fixture.h"
#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/volume_helpers.h"

namespace {

using recover::RecoveredGop;
using recover::RecoveryResult;
using sample::PlantedGop;
using sample::RemnantsTruth;
using sample::RemnantsVariant;

constexpr double kMinRecall = 0.95;

struct Score {
    size_t planted = 0;
    size_t recalled = 0;
    std::vector<uint64_t> false_finds;  // image offsets of what was reported but not planted
    double recall() const { return planted ? double(recalled) / double(planted) : 0.0; }
};

bool same(const RecoveredGop& g, const PlantedGop& p) {
    return g.image_offset == p.image_offset && g.time == p.time && g.ms == static_cast<int32_t>(p.ms) &&
           g.length == p.length && g.frames == p.frames;
}

Score score(const RecoveryResult& result, const RemnantsTruth& truth) {
    std::map<uint64_t, const PlantedGop*> planted;
    for (const PlantedGop& p : truth.complete) planted[p.image_offset] = &p;
    Score s;
    s.planted = truth.complete.size();
    std::set<uint64_t> seen;
    for (const auto& run : result.runs) {
        for (const RecoveredGop& g : run.gops) {
            const auto it = planted.find(g.image_offset);
            const bool right = it != planted.end() && same(g, *it->second);
            // Reported twice counts as a false find the second time.
            if (right && seen.insert(g.image_offset).second) {
                ++s.recalled;
            } else {
                s.false_finds.push_back(g.image_offset);
            }
        }
    }
    return s;
}

class RemnantsRecall : public testkit::DiskLayerTest {
protected:
    RecoveryResult scan(const remnants_test::Built& b) {
        RecoveryResult result;
        EXPECT_EQ(testkit::mount_volume(b.path), 0);
        EXPECT_EQ(recover::recover_scan(nullptr, &result), 0);
        return result;
    }
    // The scan of a variant, made once: the tests below only read it.
    const RecoveryResult& scanned(RemnantsVariant v) {
        static std::map<RemnantsVariant, RecoveryResult> done;
        auto it = done.find(v);
        if (it == done.end()) it = done.emplace(v, scan(remnants_test::built(v))).first;
        return it->second;
    }
};

TEST_F(RemnantsRecall, FindsThePlantedGopsAndNothingElse) {
    const auto& b = remnants_test::built(RemnantsVariant::Live);
    ASSERT_FALSE(b.truth.complete.empty());
    const Score s = score(scanned(RemnantsVariant::Live), b.truth);
    RecordProperty("cut", std::to_string(b.truth.cut.size()));
    RecordProperty("recalled", std::to_string(s.recalled) + " of " + std::to_string(s.planted));
    EXPECT_GE(s.recall(), kMinRecall) << s.recalled << " of " << s.planted;
    EXPECT_TRUE(s.false_finds.empty()) << s.false_finds.size() << " false finds, first at "
                                       << (s.false_finds.empty() ? 0 : s.false_finds[0]);
}

TEST_F(RemnantsRecall, NeverReportsALiveGopOrADecoy) {
    const auto& b = remnants_test::built(RemnantsVariant::Live);
    const RecoveryResult& result = scanned(RemnantsVariant::Live);
    std::set<uint64_t> found;
    for (const auto& run : result.runs) {
        for (const RecoveredGop& g : run.gops) found.insert(g.image_offset);
    }
    ASSERT_FALSE(found.empty());
    for (uint64_t live : b.truth.live_gops) EXPECT_FALSE(found.count(live)) << live;
    for (const sample::PlantedDecoy& d : b.truth.decoys) EXPECT_FALSE(found.count(d.image_offset)) << d.image_offset;
    for (const PlantedGop& g : b.truth.cut) EXPECT_FALSE(found.count(g.image_offset)) << g.image_offset;
    for (const PlantedGop& g : b.truth.overwritten) EXPECT_FALSE(found.count(g.image_offset)) << g.image_offset;
}

TEST_F(RemnantsRecall, CountsTheRecordsCutAtTheirBlocksEnd) {
    const auto& b = remnants_test::built(RemnantsVariant::Live);
    const RecoveryResult& result = scanned(RemnantsVariant::Live);
    const uint64_t cut = b.truth.cut.size() + b.truth.cut_audio.size();
    ASSERT_GT(cut, 0u);
    RecordProperty("cut_records", std::to_string(result.cut_records));
    EXPECT_GE(result.cut_records, cut);
    // Records that end under the live recording may count as cut at the edge of what was scanned.
    EXPECT_LE(result.cut_records, cut + b.truth.overwritten.size());
}

TEST_F(RemnantsRecall, OneStreamPerPictureSizeAndRunsInTimeOrder) {
    const auto& b = remnants_test::built(RemnantsVariant::Reformatted);
    const RecoveryResult& result = scanned(RemnantsVariant::Reformatted);
    std::map<uint64_t, const PlantedGop*> planted;
    for (const PlantedGop& p : b.truth.complete) planted[p.image_offset] = &p;
    std::map<std::pair<int, int>, std::set<int>> streams_of_size;
    ASSERT_GE(result.runs.size(), 2u);
    for (size_t i = 0; i < result.runs.size(); ++i) {
        const auto& run = result.runs[i];
        ASSERT_FALSE(run.gops.empty());
        EXPECT_EQ(run.codec, "h264");
        streams_of_size[{run.width, run.height}].insert(run.stream);
        for (size_t k = 0; k < run.gops.size(); ++k) {
            const auto it = planted.find(run.gops[k].image_offset);
            if (it != planted.end()) {
                EXPECT_EQ(std::make_pair(run.width, run.height),
                          std::make_pair(it->second->width, it->second->height));
            }
            if (k > 0) {
                EXPECT_LE(std::tie(run.gops[k - 1].time, run.gops[k - 1].ms),
                          std::tie(run.gops[k].time, run.gops[k].ms));
            }
        }
        if (i > 0) {
            EXPECT_LE(result.runs[i - 1].gops.front().time, run.gops.front().time);
        }
    }
    ASSERT_EQ(streams_of_size.size(), 2u);
    std::set<int> all;
    for (const auto& [size, streams] : streams_of_size) {
        EXPECT_EQ(streams.size(), 1u);
        all.insert(streams.begin(), streams.end());
    }
    EXPECT_EQ(all, (std::set<int>{1, 2}));
}

TEST_F(RemnantsRecall, ReportedAudioWasPlanted) {
    const auto& b = remnants_test::built(RemnantsVariant::Live);
    const RecoveryResult& result = scanned(RemnantsVariant::Live);
    std::map<uint64_t, const sample::PlantedAudio*> planted;
    for (const sample::PlantedAudio& a : b.truth.audio) planted[a.image_offset] = &a;
    size_t reported = 0;
    for (const auto& run : result.runs) {
        for (const recover::RecoveredAudio& a : run.audio) {
            ++reported;
            const auto it = planted.find(a.image_offset);
            ASSERT_NE(it, planted.end()) << a.image_offset;
            EXPECT_EQ(a.time, it->second->time);
            EXPECT_EQ(a.length, it->second->length);
            EXPECT_GE(a.time, run.gops.front().time);
            EXPECT_LE(a.time, run.gops.back().time);
        }
    }
    EXPECT_GT(reported, 0u);
}

TEST_F(RemnantsRecall, AReformattedVolumeGivesBackTheOldRecordings) {
    const auto& b = remnants_test::built(RemnantsVariant::Reformatted);
    const Score s = score(scanned(RemnantsVariant::Reformatted), b.truth);
    RecordProperty("recalled", std::to_string(s.recalled) + " of " + std::to_string(s.planted));
    EXPECT_GE(s.recall(), kMinRecall) << s.recalled << " of " << s.planted;
    EXPECT_TRUE(s.false_finds.empty()) << s.false_finds.size() << " false finds";
}

TEST_F(RemnantsRecall, TheImagesAreUnchangedByAScan) {
    for (RemnantsVariant v : {RemnantsVariant::Live, RemnantsVariant::Reformatted}) {
        const auto& b = remnants_test::built(v);
        const std::string before = testkit::fingerprint(b.path);
        const RecoveryResult result = scan(b);
        EXPECT_FALSE(result.runs.empty());
        for (const auto& run : result.runs) {
            std::vector<uint8_t> record;
            EXPECT_EQ(recover::recover_read_gop(run.gops.front(), &record), 0);
        }
        reset_all();
        EXPECT_EQ(testkit::fingerprint(b.path), before);
    }
}

TEST_F(RemnantsRecall, ExportOfAScanWritesEveryFoundFrameAndLeavesTheImageUnchanged) {
    const auto& b = remnants_test::built(RemnantsVariant::Live);
    const RecoveryResult& result = scanned(RemnantsVariant::Live);
    ASSERT_FALSE(result.runs.empty());
    const std::string before = testkit::fingerprint(b.path);
    reset_all();  // the scan may have mounted it already
    ASSERT_EQ(testkit::mount_volume(b.path), 0);
    testkit::TempDir out;
    std::string report, error;
    ASSERT_EQ(recover::recover_export(result, out.path(), -1, nullptr, &report, &error), 0) << error;
    std::ifstream in(report);
    const nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    ASSERT_EQ(doc["files"].size(), result.runs.size());
    for (size_t i = 0; i < result.runs.size(); ++i) {
        const auto& run = result.runs[i];
        const nlohmann::json& f = doc["files"][i];
        int frames = 0, audio = 0;
        for (const RecoveredGop& g : run.gops) frames += g.frames;
        for (const auto& a : run.audio) audio += static_cast<int>(a.length) - 32;
        EXPECT_EQ(f["recovered"], true);
        EXPECT_EQ(f["stream"], run.stream);
        EXPECT_EQ(f["unreadable_gops"], 0);
        EXPECT_EQ(f["gop_ranges"].size(), run.gops.size());
        EXPECT_EQ(f["counts"]["stored_frames"], frames);
        EXPECT_EQ(f["counts"]["audio_bytes"], audio);
        EXPECT_EQ(f["avi"]["name"].get<std::string>().rfind(recover::recovered_file_stem(run), 0), 0u);
    }
    reset_all();
    EXPECT_EQ(testkit::fingerprint(b.path), before);
}

}  // namespace
