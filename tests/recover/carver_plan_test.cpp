// What the volume walk holds back as stored, and how found runs become numbered streams.
#include <gtest/gtest.h>

#include <vector>

#include "disk/channel_i.h"
#include "recover/carver_areas.h"
#include "recover/carver_group.h"

namespace {

using recover::HeldRanges;

constexpr uint32_t kBlock = 1000;

ChannelRecord record(const std::vector<uint16_t>& map, uint32_t head_slot, uint32_t head_offset,
                     uint32_t tail_slot, uint32_t tail_offset) {
    ChannelRecord r;
    r.head_slot = head_slot;
    r.head_offset = head_offset;
    r.tail_slot = tail_slot;
    r.tail_offset = tail_offset;
    r.map = map.data();
    r.map_slots = static_cast<uint32_t>(map.size());
    return r;
}

std::vector<HeldRanges> held_by(const ChannelRecord& r, bool ring) {
    std::vector<HeldRanges> held(16);
    recover::mark_stored(r, kBlock, ring, &held);
    return held;
}

TEST(CarverPlan, FreeRangesAreWhatNothingHolds) {
    EXPECT_EQ(recover::free_ranges({}, kBlock), (HeldRanges{{0, kBlock}}));
    EXPECT_EQ(recover::free_ranges({{0, kBlock}}, kBlock), HeldRanges{});
    EXPECT_EQ(recover::free_ranges({{600, 900}, {100, 200}, {150, 300}}, kBlock),
              (HeldRanges{{0, 100}, {300, 600}, {900, kBlock}}));
    EXPECT_EQ(recover::free_ranges({{0, 400}, {400, kBlock}}, kBlock), HeldRanges{});
}

TEST(CarverPlan, ARingHoldsFromHeadToTailAcrossItsEnd) {
    // Slots 0..5 hold blocks 3, 4, 5, 6, 7, 8; the data runs from slot 4 over slot 5 to slot 1.
    const std::vector<uint16_t> map{3, 4, 5, 6, 7, 8};
    const auto held = held_by(record(map, 4, 300, 1, 200), true);
    EXPECT_EQ(held[7], (HeldRanges{{300, kBlock}}));  // head block from the head offset
    EXPECT_EQ(held[8], (HeldRanges{{0, kBlock}}));
    EXPECT_EQ(held[3], (HeldRanges{{0, kBlock}}));
    EXPECT_EQ(held[4], (HeldRanges{{0, 200}}));  // tail block up to the tail offset
    EXPECT_TRUE(held[5].empty());                 // slots outside head..tail
    EXPECT_TRUE(held[6].empty());
}

TEST(CarverPlan, HeadAndTailInOneSlot) {
    const std::vector<uint16_t> map{9, 10};
    EXPECT_EQ(held_by(record(map, 1, 100, 1, 700), true)[10], (HeldRanges{{100, 700}}));
    // An empty channel holds nothing, not even its block.
    EXPECT_TRUE(held_by(record(map, 0, 0, 0, 0), true)[9].empty());
    // A tail behind the head in the head's own slot has gone all the way round the ring.
    const auto round = held_by(record(map, 0, 500, 0, 200), true);
    EXPECT_EQ(round[9], (HeldRanges{{500, kBlock}, {0, 200}}));
    EXPECT_EQ(round[10], (HeldRanges{{0, kBlock}}));
}

TEST(CarverPlan, ALinearMapNeverWraps) {
    const std::vector<uint16_t> map{2, 3, 4, 5};
    const auto held = held_by(record(map, 1, 0, 2, 50), false);
    EXPECT_TRUE(held[2].empty());
    EXPECT_EQ(held[3], (HeldRanges{{0, kBlock}}));
    EXPECT_EQ(held[4], (HeldRanges{{0, 50}}));
    EXPECT_TRUE(held[5].empty());
}

TEST(CarverPlan, ARecordThatMakesNoSenseHoldsEveryBlockOfItsMap) {
    const std::vector<uint16_t> map{2, 0, 4, 40};  // 40 lies beyond the table: ignored
    for (const ChannelRecord& r : {record(map, 7, 0, 1, 0), record(map, 0, kBlock, 1, 0),
                                   record(map, 0, 0, 1, kBlock + 1), record(map, 2, 0, 1, 0)}) {
        const auto held = held_by(r, false);
        EXPECT_EQ(held[2], (HeldRanges{{0, kBlock}}));
        EXPECT_EQ(held[4], (HeldRanges{{0, kBlock}}));
        EXPECT_TRUE(held[3].empty());
    }
}

recover::PlacedRun run(const std::string& codec, int width, uint8_t parameters,
                       std::vector<std::pair<uint32_t, uint64_t>> gops) {
    recover::PlacedRun r;
    r.key = recover::StreamKey{codec, width, 64, {0x67, parameters}};
    for (const auto& [time, offset] : gops) r.gops.push_back({time, 0, offset, 500, 4});
    return r;
}

TEST(CarverPlan, RunsAreOrderedAndGroupedIntoStreams) {
    std::vector<recover::PlacedRun> runs{
        run("h264", 96, 1, {{200, 9000}, {201, 9504}}),
        run("h264", 96, 2, {{150, 5000}}),      // other parameter sets: another stream
        run("h264", 96, 1, {{100, 20000}}),
        run("mpeg4", 96, 1, {{150, 1000}}),     // same time as an earlier-found run
        run("h264", 80, 1, {{300, 100}}),
    };
    std::vector<recover::RecoveredAudio> audio{{201, 7000, 1632}, {150, 7200, 1632}, {400, 7400, 1632}};
    recover::RecoveryResult result;
    recover::group_runs(runs, audio, &result);
    ASSERT_EQ(result.runs.size(), 5u);
    std::vector<uint64_t> firsts;
    std::vector<int> streams;
    for (const auto& r : result.runs) {
        firsts.push_back(r.gops.front().image_offset);
        streams.push_back(r.stream);
    }
    EXPECT_EQ(firsts, (std::vector<uint64_t>{20000, 1000, 5000, 9000, 100}));
    EXPECT_EQ(streams, (std::vector<int>{1, 2, 3, 1, 4}));
    EXPECT_EQ(result.runs[1].codec, "mpeg4");
    EXPECT_EQ(result.runs[4].width, 80);
    // Audio goes to the first run whose span holds it; one outside every run to none.
    ASSERT_EQ(result.runs[1].audio.size(), 1u);
    EXPECT_EQ(result.runs[1].audio[0].image_offset, 7200u);
    ASSERT_EQ(result.runs[3].audio.size(), 1u);
    EXPECT_EQ(result.runs[3].audio[0].image_offset, 7000u);
    EXPECT_TRUE(result.runs[0].audio.empty());
}

}  // namespace
