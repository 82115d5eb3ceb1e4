// recover_scan on a backup disk: old records in a block past every session's blocks and past a
// channel's tail are found; what any session in use stores never is, whichever is selected.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "disk/channel_i.h"
#include "disk/disk_i.h"
#include "recover/carver.h"
#include "tests/recover/carver_records.h"
#include "tests/testkit/disk_fixture.h"
#include "tests/testkit/image_tools.h"
#include "tests/testkit/volume_helpers.h"

namespace {

using carvertest::Bytes;
using testkit::kT0;

constexpr int32_t kLiveChannel = 3;

const sample::VideoRecording& live(uint32_t from) {
    return carvertest::recording(sample::Codec::H264, 96, 64, from, 3);
}
const sample::VideoRecording& old() {
    return carvertest::recording(sample::Codec::H264, 64, 48, kT0 - 86400, 3);
}

sample::SessionSpec session(uint32_t slot, uint32_t from) {
    sample::SessionSpec s;
    s.slot = slot;
    s.created = kT0 + slot;
    s.content.channels.push_back(live(from).data);
    return s;
}

class CarverBackup : public testkit::DiskLayerTest {
protected:
    void SetUp() override {
        DiskLayerTest::SetUp();
        path_ = testkit::make_image(
            dir_, "backup.img", testkit::small_backup({session(0, kT0), session(2, kT0 + 600)}));
        ASSERT_EQ(testkit::mount_volume(path_, 0), 0);
        origin_ = backup_mounted_disk()->start_sector * kSectorSize;
        std::set<uint32_t> used;
        for (int record : {0, 2}) {
            if (record != 0) {
                ASSERT_EQ(backup_unmount_session(), 0);
                ASSERT_EQ(backup_mount_session(backup_volume_records() + record), 0);
            }
            const ChannelRecord& r = *bkfs_channel_record(kLiveChannel);
            for (uint32_t s = 0; s < r.map_slots; ++s) {
                if (r.map[s] != 0) used.insert(r.map[s]);
            }
            if (record == 2) {
                tail_ = at_block(r.map[r.tail_slot]) + (r.tail_offset + 3) / 4 * 4;
                tail_end_ = at_block(r.map[r.tail_slot]) + static_cast<uint64_t>(bkfs_space().block_size);
            }
        }
        block_size_ = static_cast<uint32_t>(bkfs_space().block_size);
        const uint32_t last_used = *used.rbegin();
        ASSERT_LT(last_used + 3, static_cast<uint32_t>(bkfs_super_block()->block_limit));
        beyond_ = at_block(last_used + 2);
        reset_all();
    }

    uint64_t at_block(uint32_t block) const {
        return origin_ + bkfs_block_sector(static_cast<int32_t>(block), 0) * kSectorSize;
    }

    std::string path_;
    uint64_t origin_ = 0, beyond_ = 0, tail_ = 0, tail_end_ = 0;
    uint32_t block_size_ = 0;
};

TEST_F(CarverBackup, FindsOldRecordsOutsideEverySessionWhicheverIsSelected) {
    const auto recs = carvertest::records(old());
    std::vector<uint64_t> planted;
    // As many whole records as the block past the sessions holds, and one behind a tail.
    uint64_t at = beyond_;
    for (size_t i = 0; i < recs.size() && at + recs[i].size() <= beyond_ + block_size_; ++i) {
        testkit::write_bytes(path_, at, recs[i].data(), recs[i].size());
        planted.push_back(at);
        at += recs[i].size();
    }
    ASSERT_FALSE(planted.empty());
    if (tail_ + recs.back().size() <= tail_end_) {
        testkit::write_bytes(path_, tail_, recs.back().data(), recs.back().size());
        planted.push_back(tail_);
    }
    std::sort(planted.begin(), planted.end());
    const std::string before = testkit::fingerprint(path_);

    for (int record : {0, 2}) {
        SCOPED_TRACE(record);
        reset_all();
        ASSERT_EQ(testkit::mount_volume(path_, record), 0);
        recover::RecoveryResult result;
        ASSERT_EQ(recover::recover_scan(nullptr, &result), 0);
        std::vector<uint64_t> found;
        for (const auto& run : result.runs) {
            EXPECT_EQ(run.width, 64);
            for (const auto& g : run.gops) found.push_back(g.image_offset);
        }
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, planted);
    }
    EXPECT_EQ(testkit::fingerprint(path_), before);
}

// A backup disk that says it holds no session (re-formatted) mounts with no session to select:
// its old sessions' recordings are all old now, and the scan finds them with the disk alone.
TEST_F(CarverBackup, ADiskWithoutSessionsGivesUpItsOldRecordings) {
    sample::DiskSpec spec = testkit::small_backup({session(0, kT0), session(2, kT0 + 600)});
    spec.partitions[0].area.backup.sessions_used = 0;
    const std::string path = testkit::make_image(dir_, "formatted.img", spec);
    ASSERT_EQ(testkit::mount_first(path), 0);
    ASSERT_EQ(backup_volume_count(), 0);
    recover::RecoveryResult result;
    ASSERT_EQ(recover::recover_scan(nullptr, &result), 0);
    std::set<std::pair<uint32_t, uint32_t>> recorded;  // time and milliseconds of every GOP
    for (const uint32_t from : {kT0, kT0 + 600}) {
        for (const auto& g : live(from).gops) recorded.insert({g.time, g.ms});
    }
    std::set<std::pair<uint32_t, uint32_t>> found;
    for (const auto& run : result.runs) {
        EXPECT_EQ(run.width, 96);
        for (const auto& g : run.gops) {
            EXPECT_TRUE(recorded.count({g.time, static_cast<uint32_t>(g.ms)})) << g.time;
            EXPECT_TRUE(found.insert({g.time, static_cast<uint32_t>(g.ms)}).second) << g.time;
        }
    }
    // Small blocks cut many records (those whose header lies whole in a block are counted);
    // the rest are found, from both sessions.
    EXPECT_LE(found.size() + result.cut_records, recorded.size());
    EXPECT_GE(found.size() + result.cut_records, recorded.size() * 3 / 4);
    EXPECT_GE(found.size(), recorded.size() / 3);
    EXPECT_TRUE(found.count({kT0, 0}) && found.lower_bound({kT0 + 600, 0}) != found.end());
}

}  // namespace
