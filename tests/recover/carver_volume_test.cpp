// recover_scan on a small recorder volume: old GOP records planted in a block no channel uses,
// in the live channel's tail block past its tail and in its head block before its head are found
// at their image offsets; the live recording never is; the image is not changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "disk/channel_i.h"
#include "disk/disk_i.h"
#include "playback/record_format.h"
#include "recover/carver.h"
#include "tests/recover/carver_records.h"
#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/volume_helpers.h"

namespace {

using carvertest::Bytes;
using testkit::kT0;

constexpr int32_t kBlockSize = 16384;
constexpr uint32_t kRoom = 4096;  // old bytes before the live head and after its tail
constexpr int32_t kLiveChannel = 3;

const sample::VideoRecording& live() {
    return carvertest::recording(sample::Codec::H264, 96, 64, kT0, 8);
}
// A day earlier, smaller pictures: another stream.
const sample::VideoRecording& old() {
    return carvertest::recording(sample::Codec::H264, 64, 48, kT0 - 86400, 3);
}

struct Planted {
    uint64_t offset = 0;
    Bytes record;
    uint32_t time = 0;
};

// Where the live channel lies, read through the disk layer.
struct Layout {
    uint64_t origin_bytes = 0;
    uint64_t free_block = 0, head_block = 0, tail_block = 0;  // image offsets of the blocks
    uint32_t tail_offset = 0;
    uint64_t area_blocks = 0;  // data-area blocks inside the image
    uint64_t stored = 0;       // bytes of every channel between head and tail
};

uint64_t block_offset(const Layout& l, uint32_t block) {
    return l.origin_bytes + dvrfs_block_sector(static_cast<int32_t>(block), 0) * kSectorSize;
}

class CarverVolume : public testkit::DiskLayerTest {
protected:
    void SetUp() override {
        DiskLayerTest::SetUp();
        sample::VolumeContent content;
        sample::ChannelData channel = live().data;
        channel.head_offset = head_offset_with_room(channel);
        content.channels.push_back(channel);
        sample::DiskSpec spec = testkit::small_recorder(content);
        spec.bare.recorder.block_size = kBlockSize;
        spec.total_sectors = 1u << 15;  // 16 MiB: every free block is read
        path_ = testkit::make_image(dir_, "remnants.img", spec);
        ASSERT_EQ(testkit::mount_volume(path_), 0);
        read_layout();
        reset_all();
    }

    // Older, overwritten bytes before the live data: enough for an old record, and placed so
    // that the tail block keeps as much room after the newest byte.
    uint32_t head_offset_with_room(const sample::ChannelData& channel) {
        const uint64_t bytes = testkit::stored_bytes(channel).size();
        for (head_offset_ = kRoom; head_offset_ < kBlockSize; head_offset_ += kSectorSize) {
            if ((head_offset_ + bytes) % kBlockSize <= kBlockSize - kRoom) return head_offset_;
        }
        ADD_FAILURE() << "no head offset leaves room in the tail block";
        return 0;
    }

    void read_layout() {
        const DvrSuperBlock& sb = *dvrfs_super_block();
        layout_.origin_bytes = backup_mounted_disk()->start_sector * kSectorSize;
        std::set<uint32_t> mapped;
        for (int32_t c = 0; c < backup_channel_count(); ++c) {
            const ChannelRecord& r = *dvrfs_channel_record(c);
            for (uint32_t s = 0; s < r.map_slots; ++s) mapped.insert(r.map[s]);
            layout_.stored += static_cast<uint64_t>(channel_stored_bytes(dvrfs_space(), r));
        }
        const ChannelRecord& r = *dvrfs_channel_record(kLiveChannel);
        ASSERT_NE(r.head_slot, r.tail_slot);
        layout_.head_block = block_offset(layout_, uint32_t{r.map[r.head_slot]});
        layout_.tail_block = block_offset(layout_, uint32_t{r.map[r.tail_slot]});
        layout_.tail_offset = r.tail_offset;
        for (int32_t b = 1; b <= sb.max_block; ++b) {
            const uint64_t end = dvrfs_block_sector(b, 0) + kBlockSize / kSectorSize;
            if (end > backup_mounted_disk()->sector_count) continue;
            ++layout_.area_blocks;
            if (!mapped.count(static_cast<uint32_t>(b))) {
                layout_.free_block = block_offset(layout_, static_cast<uint32_t>(b));
            }
        }
        ASSERT_NE(layout_.free_block, 0u);
    }

    void plant(uint64_t offset, const Bytes& bytes) {
        testkit::write_bytes(path_, offset, bytes.data(), bytes.size());
    }

    // Old records in three places, and one cut by the end of the free block.
    std::vector<Planted> plant_old_records() {
        const auto recs = carvertest::records(old());
        EXPECT_GE(recs.size(), 8u);
        std::vector<Planted> whole;
        const auto put = [&](uint64_t at, size_t i) {
            plant(at, recs[i]);
            whole.push_back({at, recs[i], old().gops[i].time});
            return at + recs[i].size();
        };
        uint64_t at = layout_.free_block;
        for (size_t i = 0; i < 3; ++i) at = put(at, i);
        // Records on the grid right behind the newest live byte.
        at = layout_.tail_block + (layout_.tail_offset + 3) / 4 * 4;
        for (size_t i = 3; i < 5; ++i) at = put(at, i);
        EXPECT_LE(at, layout_.tail_block + kBlockSize);
        // Before the oldest live byte.
        EXPECT_LE(recs[5].size(), head_offset_);
        put(layout_.head_block, 5);
        // Its frames would go on in a block nobody knows.
        plant(layout_.free_block + kBlockSize - 100, recs[6]);
        return whole;
    }

    int32_t scan(recover::RecoveryResult* result, recover::RecoveryProgress* progress = nullptr) {
        EXPECT_EQ(testkit::mount_volume(path_), 0);
        return recover::recover_scan(progress, result);
    }

    std::string path_;
    uint32_t head_offset_ = 0;
    Layout layout_;
};

std::vector<uint64_t> found_offsets(const recover::RecoveryResult& r) {
    std::vector<uint64_t> out;
    for (const auto& run : r.runs) {
        for (const auto& g : run.gops) out.push_back(g.image_offset);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(CarverVolume, FindsOldRecordsOutsideTheStoredRangesOnly) {
    const std::vector<Planted> planted = plant_old_records();
    const std::string before = testkit::fingerprint(path_);

    recover::RecoveryResult result;
    ASSERT_EQ(scan(&result), 0);
    std::vector<uint64_t> expected;
    for (const Planted& p : planted) expected.push_back(p.offset);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found_offsets(result), expected);  // no live GOP among them
    EXPECT_EQ(result.cut_records, 1u);
    for (const auto& run : result.runs) {
        EXPECT_EQ(run.stream, 1);
        EXPECT_EQ(run.codec, "h264");
        EXPECT_EQ(run.width, 64);
        EXPECT_EQ(run.height, 48);
    }
    // Three places, three runs, each in time order.
    ASSERT_EQ(result.runs.size(), 3u);
    EXPECT_EQ(result.runs[0].gops.size(), 3u);
    for (size_t i = 1; i < result.runs.size(); ++i) {
        EXPECT_LT(result.runs[i - 1].gops.front().time, result.runs[i].gops.front().time + 1);
    }
    for (const auto& run : result.runs) {
        for (const auto& g : run.gops) {
            const auto it = std::find_if(planted.begin(), planted.end(),
                                         [&](const Planted& p) { return p.offset == g.image_offset; });
            ASSERT_NE(it, planted.end());
            EXPECT_EQ(g.time, it->time);
            EXPECT_EQ(g.length + 4, it->record.size());
        }
    }
    // Every byte of the data areas is either stored by a channel or scanned, once.
    EXPECT_EQ(result.scanned_bytes, layout_.area_blocks * kBlockSize - layout_.stored);
    EXPECT_EQ(testkit::fingerprint(path_), before);
}

TEST_F(CarverVolume, AVolumeWithoutOldRecordsGivesNone) {
    recover::RecoveryResult result;
    ASSERT_EQ(scan(&result), 0);
    EXPECT_TRUE(result.runs.empty());
    EXPECT_EQ(result.cut_records, 0u);
    EXPECT_GT(result.scanned_bytes, 0u);
}

TEST_F(CarverVolume, ReadsAFoundGopAgain) {
    const std::vector<Planted> planted = plant_old_records();
    recover::RecoveryResult result;
    ASSERT_EQ(scan(&result), 0);
    ASSERT_FALSE(result.runs.empty());
    for (const auto& run : result.runs) {
        for (const auto& g : run.gops) {
            Bytes record;
            ASSERT_EQ(recover::recover_read_gop(g, &record), 0);
            const auto it = std::find_if(planted.begin(), planted.end(),
                                         [&](const Planted& p) { return p.offset == g.image_offset; });
            ASSERT_NE(it, planted.end());
            EXPECT_EQ(record, it->record);
        }
    }
    const recover::RecoveredGop g = result.runs[0].gops[0];
    Bytes record{1, 2, 3};
    recover::RecoveredGop moved = g;
    moved.image_offset += 4;
    EXPECT_LT(recover::recover_read_gop(moved, &record), 0);
    EXPECT_TRUE(record.empty());
    recover::RecoveredGop longer = g;
    longer.length += 4;
    EXPECT_LT(recover::recover_read_gop(longer, &record), 0);
    recover::RecoveredGop beyond = g;
    beyond.image_offset = backup_mounted_disk()->sector_count * kSectorSize - 8;
    EXPECT_EQ(recover::recover_read_gop(beyond, &record), DVR_EINVAL);
    beyond.image_offset = UINT64_MAX - 2;
    EXPECT_EQ(recover::recover_read_gop(beyond, &record), DVR_EINVAL);
    recover::RecoveredGop huge = g;
    huge.length = kMaxGopLength + 1;
    EXPECT_EQ(recover::recover_read_gop(huge, &record), DVR_EINVAL);
}

class Progress : public recover::RecoveryProgress {
public:
    void progress(uint64_t done, uint64_t total) override {
        EXPECT_GE(done, last_);
        EXPECT_LE(done, total);
        last_ = done;
        total_ = total;
        ++calls_;
    }
    bool cancelled() override { return cancel_after_ >= 0 && calls_ >= cancel_after_; }

    int cancel_after_ = -1;
    int calls_ = 0;
    uint64_t last_ = 0, total_ = 0;
};

TEST_F(CarverVolume, ReportsProgressAndStopsWhenCancelled) {
    plant_old_records();
    Progress whole;
    recover::RecoveryResult result;
    ASSERT_EQ(scan(&result, &whole), 0);
    EXPECT_GT(whole.calls_, 1);
    EXPECT_EQ(whole.last_, whole.total_);
    EXPECT_EQ(whole.total_, result.scanned_bytes);
    reset_all();

    Progress stop;
    stop.cancel_after_ = 2;
    ASSERT_EQ(scan(&result, &stop), recover::RECOVER_ECANCELED);
    EXPECT_EQ(stop.calls_, 2);
}

TEST_F(CarverVolume, RefusesWithoutAMountedVolume) {
    recover::RecoveryResult result;
    EXPECT_EQ(recover::recover_scan(nullptr, &result), DVR_ENOTMOUNTED);
    EXPECT_EQ(recover::recover_scan(nullptr, nullptr), DVR_EINVAL);
    Bytes record;
    EXPECT_EQ(recover::recover_read_gop(recover::RecoveredGop{1, 0, 0, 200, 1}, &record),
              DVR_ENOTMOUNTED);
}

}  // namespace
