// recover_scan and recover_read_gop: the volume walk's pieces read once each, in image order,
// through the block parser.
#include "recover/carver.h"

#include "disk/disk.h"
#include "disk/format.h"
#include "playback/record_format.h"
#include "recover/carver_areas.h"
#include "recover/carver_block.h"
#include "recover/carver_group.h"
#include "recover/carver_keyframe.h"
#include "recover/carver_reader.h"

namespace recover {
namespace {

struct Collected {
    std::vector<PlacedRun> runs;
    std::vector<RecoveredAudio> audio;
    uint64_t cut_records = 0;
};

int32_t plan_mounted(ScanPlan* plan) {
    const DiskEntry* entry = backup_mounted_disk();
    if (entry == nullptr) return DVR_ENOTMOUNTED;
    if (entry->fs_type == FS_PSOS) return plan_recorder_scan(plan);
    if (entry->fs_type == FS_BACKUP10 || entry->fs_type == FS_BACKUP20) {
        return plan_backup_scan(plan);
    }
    return DVR_ENOBACKUP;
}

// What the parser found in a piece, with offsets in the image: base is the image offset of
// data[0].
void collect(const BlockFindings& found, uint64_t base, Collected* out) {
    for (const FoundRun& run : found.runs) {
        PlacedRun placed{run.key, {}};
        for (const FoundGop& g : run.gops) {
            placed.gops.push_back(RecoveredGop{g.fields.time, g.fields.ms, base + g.offset,
                                               g.fields.length, g.fields.frames});
        }
        dvrfs_trace("recover: run of %zu GOPs at %llu, %s %dx%d\n", run.gops.size(),
                    static_cast<unsigned long long>(placed.gops.front().image_offset),
                    run.key.codec.c_str(), run.key.width, run.key.height);
        out->runs.push_back(std::move(placed));
    }
    for (const FoundAudio& a : found.audio) {
        out->audio.push_back(RecoveredAudio{a.fields.time, base + a.offset, a.fields.length});
    }
    out->cut_records += found.cut_records;
}

// The pieces of one block that the reader has read, through the parser.
void scan_pieces(const ScanPlan& plan, const ReadBlock& block, KeyFrameCheck& key,
                 uint64_t origin_bytes, Collected* out) {
    const ScanPiece& head = plan.pieces[block.first];
    const uint64_t base = origin_bytes + head.sector * kSectorSize + block.from;
    for (size_t i = block.first; i < block.last; ++i) {
        const ScanPiece& p = plan.pieces[i];
        BlockFindings found;
        scan_block(block.data, p.begin - block.from, p.end - block.from, key, &found);
        collect(found, base, out);
    }
}

}  // namespace

int32_t recover_scan(RecoveryProgress* progress, RecoveryResult* result) {
    if (result == nullptr) return DVR_EINVAL;
    *result = RecoveryResult{};
    ScanPlan plan;
    int32_t rc = plan_mounted(&plan);
    if (rc != 0) return rc;
    BlockReader reader(plan);
    if (!reader.start()) return DVR_ENOSPC;
    const uint64_t origin_bytes = backup_mounted_disk()->start_sector * kSectorSize;
    dvrfs_trace("recover: %zu pieces, %llu bytes outside the stored ranges\n", plan.pieces.size(),
                static_cast<unsigned long long>(plan.total_bytes));

    DecoderKeyFrameCheck key;
    Collected found;
    uint64_t done = 0;
    size_t unreadable = 0, blocks = 0;
    for (ReadBlock block; reader.next(&block);) {
        if (progress != nullptr && progress->cancelled()) return RECOVER_ECANCELED;
        uint64_t bytes = 0;
        for (size_t i = block.first; i < block.last; ++i) {
            bytes += plan.pieces[i].end - plan.pieces[i].begin;
        }
        ++blocks;
        if (block.rc == 0) {
            scan_pieces(plan, block, key, origin_bytes, &found);
            result->scanned_bytes += bytes;
        } else {
            dvrfs_trace("recover: block %u unreadable\n", plan.pieces[block.first].block);
            ++unreadable;
        }
        done += bytes;
        if (progress != nullptr) progress->progress(done, plan.total_bytes);
    }
    if (blocks > 0 && unreadable == blocks) return DVR_EDISK;
    result->cut_records = found.cut_records;
    group_runs(std::move(found.runs), std::move(found.audio), result);
    return 0;
}

int32_t read_area_bytes(const DiskEntry& entry, uint64_t image_offset, uint64_t bytes,
                        std::vector<uint8_t>* sectors, const uint8_t** data) {
    const uint64_t origin = entry.start_sector * kSectorSize;
    const uint64_t area = entry.sector_count * kSectorSize;
    if (image_offset < origin || image_offset - origin > area ||
        area - (image_offset - origin) < bytes) {
        return DVR_EINVAL;
    }
    const uint64_t at = image_offset - origin;
    const uint64_t first = at / kSectorSize;
    const uint64_t count = (at + bytes + kSectorSize - 1) / kSectorSize - first;
    sectors->assign(count * kSectorSize, 0);
    const int32_t rc = hdd_read_sectors(first, static_cast<uint32_t>(count), sectors->data());
    if (rc != 0) return rc;
    *data = sectors->data() + (at - first * kSectorSize);
    return 0;
}

int32_t recover_read_gop(const RecoveredGop& gop, std::vector<uint8_t>* record) {
    if (record == nullptr) return DVR_EINVAL;
    record->clear();
    const DiskEntry* entry = backup_mounted_disk();
    if (entry == nullptr) return DVR_ENOTMOUNTED;
    if (gop.length < static_cast<uint32_t>(kGopHeaderSize) ||
        gop.length > static_cast<uint32_t>(kMaxGopLength)) {
        return DVR_EINVAL;
    }
    const uint64_t bytes = uint64_t{gop.length} + kTrailerSize;
    std::vector<uint8_t> sectors_read;
    const uint8_t* data = nullptr;
    if (const int32_t rc = read_area_bytes(*entry, gop.image_offset, bytes, &sectors_read, &data);
        rc != 0) {
        return rc;
    }

    DecoderKeyFrameCheck key;
    GopFields g;
    if (check_gop(data, bytes, key, &g) != RecordVerdict::Whole || g.length != gop.length ||
        g.time != gop.time || g.ms != gop.ms || g.frames != gop.frames) {
        return DVR_EBROKEN;
    }
    record->assign(data, data + bytes);
    return 0;
}

}  // namespace recover
