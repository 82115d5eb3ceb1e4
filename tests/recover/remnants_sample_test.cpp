// The remnants disks hold what their ground truth says, read back from the image's own bytes:
// planted records are whole, consistent and decodable, outside every stored range and inside
// one block; cut ones run past their block; each decoy breaks the rule it stands for; the
// re-formatted disk has empty tables and a fresh super block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "tests/recover/remnants_fixture.h"
#include "tests/testkit/image_tools.h"

namespace {

using remnants_test::block_of;
using remnants_test::built;
using remnants_test::key_frame_decodes;
using remnants_test::read_gop;
using sample::DecoyKind;
using sample::PlantedGop;
using sample::RemnantsVariant;

// A planted GOP as the image holds it: every field agrees with the truth and with itself.
void expect_whole(const std::string& path, const PlantedGop& g) {
    SCOPED_TRACE("GOP at " + std::to_string(g.image_offset));
    const auto r = read_gop(path, g.image_offset);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->header.start_bits, kStartBits);
    EXPECT_EQ(r->header.gop_length, g.length);
    EXPECT_EQ(r->trailer, g.length);
    EXPECT_EQ(static_cast<int32_t>(r->header.frame_count), g.frames);
    EXPECT_TRUE(r->table_adds_up);
    EXPECT_EQ(remnants_test::seconds_of(r->header.time), g.time);
    EXPECT_EQ(r->header.milliseconds, g.ms);
    EXPECT_EQ(static_cast<int>(picture_width(r->header.picture_size)), g.width);
    EXPECT_EQ(static_cast<int>(picture_height(r->header.picture_size)), g.height);
    ASSERT_FALSE(r->frames.empty());
    EXPECT_EQ(frame_type(r->header.frames[0]), 1u);
    int w = 0, h = 0;
    EXPECT_TRUE(key_frame_decodes(r->frames[0], &w, &h));
    EXPECT_EQ(w, g.width);
    EXPECT_EQ(h, g.height);
}

TEST(RemnantsSample, PlantsEnoughWholeGopsOfAnOldRecordingWithItsOwnPictureSize) {
    const auto& b = built(RemnantsVariant::Live);
    ASSERT_GE(b.truth.complete.size(), 100u);
    std::set<std::pair<int, int>> sizes;
    for (const PlantedGop& g : b.truth.complete) sizes.insert({g.width, g.height});
    ASSERT_EQ(sizes.size(), 1u);
    // The live recording is another stream: its key frames decode to another size.
    ASSERT_FALSE(b.truth.live_gops.empty());
    const auto live = read_gop(b.path, b.truth.live_gops.front());
    ASSERT_TRUE(live && !live->frames.empty());
    int w = 0, h = 0;
    ASSERT_TRUE(key_frame_decodes(live->frames[0], &w, &h));
    EXPECT_NE(std::make_pair(w, h), *sizes.begin());
}

TEST(RemnantsSample, EveryPlantedGopIsAWholeConsistentDecodableRecord) {
    const auto& b = built(RemnantsVariant::Live);
    for (const PlantedGop& g : b.truth.complete) expect_whole(b.path, g);
}

TEST(RemnantsSample, PlantedGopsLieInOneBlockOutsideEveryStoredRange) {
    const auto& b = built(RemnantsVariant::Live);
    const DvrSuperBlock sb = remnants_test::super_block(b.path);
    const auto stored = remnants_test::stored_ranges(b.path);
    ASSERT_FALSE(stored.empty());
    int before_head = 0, after_tail = 0, area2 = 0;
    for (const PlantedGop& g : b.truth.complete) {
        const uint64_t end = g.image_offset + g.length + kTrailerSize;
        const auto [first, last] = block_of(sb, g.image_offset);
        EXPECT_LE(end, last) << g.image_offset;
        EXPECT_FALSE(remnants_test::overlaps(g.image_offset, end, stored)) << g.image_offset;
        for (const auto& [from, to] : stored) {
            if (from < first || to > last) continue;  // another block's
            before_head += end <= from;
            after_tail += g.image_offset >= to;
        }
        area2 += g.image_offset >= uint64_t{sb.area2_sector} * kSectorSize;
    }
    EXPECT_GT(before_head, 0);
    EXPECT_GT(after_tail, 0);
    EXPECT_GT(area2, 0);
    EXPECT_LT(area2, static_cast<int>(b.truth.complete.size()));
}

TEST(RemnantsSample, LiveGopsLieInsideTheStoredRange) {
    const auto& b = built(RemnantsVariant::Live);
    const auto stored = remnants_test::stored_ranges(b.path);
    ASSERT_GE(b.truth.live_gops.size(), 10u);
    for (uint64_t at : b.truth.live_gops) {
        const auto r = read_gop(b.path, at);
        ASSERT_TRUE(r.has_value()) << at;
        EXPECT_EQ(r->header.start_bits, kStartBits);
        const uint64_t end = at + r->header.gop_length + kTrailerSize;
        bool inside = false;
        for (const auto& [from, to] : stored) inside = inside || (at >= from && end <= to);
        // A record that crosses into the next block of its channel is inside two ranges.
        EXPECT_TRUE(inside || remnants_test::overlaps(at, end, stored)) << at;
        EXPECT_TRUE(remnants_test::overlaps(at, at + kGopHeaderSize, stored)) << at;
    }
}

TEST(RemnantsSample, CutGopsHaveTheirHeaderButRunPastTheirBlock) {
    const auto& b = built(RemnantsVariant::Live);
    const DvrSuperBlock sb = remnants_test::super_block(b.path);
    ASSERT_GE(b.truth.cut.size(), 3u);
    for (const PlantedGop& g : b.truth.cut) {
        const auto head = remnants_test::read_bytes(b.path, g.image_offset, 4);
        ASSERT_EQ(head.size(), 4u);
        uint32_t word = 0;
        std::memcpy(&word, head.data(), 4);
        EXPECT_EQ(word, kStartBits);
        EXPECT_GT(g.image_offset + g.length + kTrailerSize, block_of(sb, g.image_offset).second);
    }
}

TEST(RemnantsSample, OldGopsBeforeTheHeadRunIntoLiveBytes) {
    const auto& b = built(RemnantsVariant::Live);
    const auto stored = remnants_test::stored_ranges(b.path);
    ASSERT_FALSE(b.truth.overwritten.empty());
    for (const PlantedGop& g : b.truth.overwritten) {
        EXPECT_FALSE(remnants_test::overlaps(g.image_offset, g.image_offset + 4, stored));
        EXPECT_TRUE(remnants_test::overlaps(g.image_offset, g.image_offset + g.length + 4, stored));
        const auto r = read_gop(b.path, g.image_offset);
        EXPECT_TRUE(!r || r->trailer != g.length);
    }
}

TEST(RemnantsSample, EachDecoyBreaksTheRuleItStandsFor) {
    const auto& b = built(RemnantsVariant::Live);
    std::map<DecoyKind, int> kinds;
    for (const sample::PlantedDecoy& d : b.truth.decoys) {
        SCOPED_TRACE("decoy at " + std::to_string(d.image_offset));
        ++kinds[d.kind];
        const auto r = read_gop(b.path, d.image_offset);
        switch (d.kind) {
            case DecoyKind::StartBitsInNoise:
                // Random fields: no whole record whose table adds up.
                EXPECT_TRUE(!r || !r->table_adds_up || r->trailer != r->header.gop_length);
                break;
            case DecoyKind::FrameTableMismatch:
                ASSERT_TRUE(r.has_value());
                EXPECT_EQ(r->trailer, r->header.gop_length);
                EXPECT_FALSE(r->table_adds_up);
                break;
            case DecoyKind::NoiseKeyFrame:
                ASSERT_TRUE(r && r->table_adds_up);
                EXPECT_EQ(r->trailer, r->header.gop_length);
                EXPECT_EQ(frame_type(r->header.frames[0]), 1u);
                EXPECT_FALSE(key_frame_decodes(r->frames[0]));
                break;
            case DecoyKind::TrailerMismatch:
                ASSERT_TRUE(r && r->table_adds_up);
                EXPECT_NE(r->trailer, r->header.gop_length);
                EXPECT_TRUE(key_frame_decodes(r->frames[0]));
                break;
        }
        if (r) {
            EXPECT_EQ(r->header.start_bits, kStartBits);
        }
    }
    EXPECT_EQ(kinds.size(), 4u);
}

TEST(RemnantsSample, PlantedRecordsAndDecoysNeverShareBytes) {
    const auto& b = built(RemnantsVariant::Live);
    std::vector<std::pair<uint64_t, uint64_t>> taken;
    auto claim = [&](uint64_t at, uint64_t n) {
        EXPECT_FALSE(remnants_test::overlaps(at, at + n, taken)) << at;
        taken.emplace_back(at, at + n);
    };
    for (const PlantedGop& g : b.truth.complete) claim(g.image_offset, g.length + kTrailerSize);
    for (const sample::PlantedAudio& a : b.truth.audio) claim(a.image_offset, a.length + kTrailerSize);
    for (const sample::PlantedDecoy& d : b.truth.decoys) claim(d.image_offset, 4);
}

TEST(RemnantsSample, PlantedAudioRecordsAreWhole) {
    const auto& b = built(RemnantsVariant::Live);
    ASSERT_GE(b.truth.audio.size(), 20u);
    for (const sample::PlantedAudio& a : b.truth.audio) {
        const auto bytes = remnants_test::read_bytes(b.path, a.image_offset, a.length + kTrailerSize);
        ASSERT_EQ(bytes.size(), a.length + kTrailerSize);
        AudioHeader h{};
        std::memcpy(&h, bytes.data(), sizeof h);
        uint32_t trailer = 0;
        std::memcpy(&trailer, bytes.data() + a.length, 4);
        EXPECT_EQ(h.start_bits, kStartBits);
        EXPECT_EQ(h.total_size, a.length);
        EXPECT_EQ(trailer, a.length);
        EXPECT_EQ(h.sample + kAudioHeaderSize, a.length);
        EXPECT_EQ(remnants_test::seconds_of(h.time), a.time);
    }
}

TEST(RemnantsSample, ReformattedDiskHasAFreshSuperBlockAndEmptyTables) {
    const auto& live = built(RemnantsVariant::Live);
    const auto& b = built(RemnantsVariant::Reformatted);
    const DvrSuperBlock sb = remnants_test::super_block(b.path);
    EXPECT_EQ(testkit::word_sum(reinterpret_cast<const uint8_t*>(&sb), sizeof sb), 0u);
    EXPECT_EQ(sb.magic, kDvrMagic);
    EXPECT_NE(sb.created, remnants_test::super_block(live.path).created);
    const auto tables = remnants_test::read_bytes(
        b.path, uint64_t{sb.info_sector} * kSectorSize, size_t{sb.map_sector + sb.map_sectors - sb.info_sector} * kSectorSize);
    ASSERT_FALSE(tables.empty());
    EXPECT_TRUE(std::all_of(tables.begin(), tables.end(), [](uint8_t v) { return v == 0; }));
    EXPECT_TRUE(remnants_test::stored_ranges(b.path).empty());
    EXPECT_TRUE(b.truth.live_gops.empty());
}

TEST(RemnantsSample, ReformattedDiskPlantsTheFormerLiveRecordingToo) {
    const auto& live = built(RemnantsVariant::Live);
    const auto& b = built(RemnantsVariant::Reformatted);
    std::set<std::pair<int, int>> sizes;
    for (const PlantedGop& g : b.truth.complete) sizes.insert({g.width, g.height});
    EXPECT_EQ(sizes.size(), 2u);
    EXPECT_GT(b.truth.complete.size(), live.truth.complete.size());
    // Every GOP that was live is now planted, whole or cut at its block's end.
    std::set<uint64_t> planted;
    for (const PlantedGop& g : b.truth.complete) planted.insert(g.image_offset);
    for (const PlantedGop& g : b.truth.cut) planted.insert(g.image_offset);
    for (uint64_t at : live.truth.live_gops) EXPECT_TRUE(planted.count(at)) << at;
    for (const PlantedGop& g : b.truth.complete) expect_whole(b.path, g);
}

}  // namespace
