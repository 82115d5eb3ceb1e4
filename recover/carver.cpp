// recover_scan and recover_read_gop: the volume walk's pieces read once each, in image order,
// through the block parser.
#include "recover/carver.h"

#include <memory>
#include <new>

#include "disk/disk.h"
#include "disk/format.h"
#include "playback/record_format.h"
#include "recover/carver_areas.h"
#include "recover/carver_block.h"
#include "recover/carver_group.h"
#include "recover/carver_keyframe.h"

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

// The pieces [first, last) of one block: one read from the sector of the first piece's start
// to that of the last piece's end. Returns the sector read's result.
int32_t scan_pieces(const ScanPlan& plan, size_t first, size_t last, uint8_t* buffer,
                    KeyFrameCheck& key, uint64_t origin_bytes, Collected* out) {
    const ScanPiece& head = plan.pieces[first];
    const uint32_t from = head.begin / kSectorSize * kSectorSize;
    const uint32_t to = (plan.pieces[last - 1].end + kSectorSize - 1) / kSectorSize * kSectorSize;
    const int32_t rc =
        hdd_read_sectors(head.sector + from / kSectorSize, (to - from) / kSectorSize, buffer);
    if (rc != 0) {
        dvrfs_trace("recover: block %u unreadable\n", head.block);
        return rc;
    }
    const uint64_t base = origin_bytes + head.sector * kSectorSize + from;
    for (size_t i = first; i < last; ++i) {
        const ScanPiece& p = plan.pieces[i];
        BlockFindings found;
        scan_block(buffer, p.begin - from, p.end - from, key, &found);
        collect(found, base, out);
    }
    return 0;
}

}  // namespace

int32_t recover_scan(RecoveryProgress* progress, RecoveryResult* result) {
    if (result == nullptr) return DVR_EINVAL;
    *result = RecoveryResult{};
    ScanPlan plan;
    int32_t rc = plan_mounted(&plan);
    if (rc != 0) return rc;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[plan.block_size]);
    if (!buffer) return DVR_ENOSPC;
    const uint64_t origin_bytes = backup_mounted_disk()->start_sector * kSectorSize;
    dvrfs_trace("recover: %zu pieces, %llu bytes outside the stored ranges\n", plan.pieces.size(),
                static_cast<unsigned long long>(plan.total_bytes));

    DecoderKeyFrameCheck key;
    Collected found;
    uint64_t done = 0;
    size_t unreadable = 0, blocks = 0;
    for (size_t first = 0; first < plan.pieces.size();) {
        size_t last = first + 1;
        while (last < plan.pieces.size() && plan.pieces[last].sector == plan.pieces[first].sector) {
            ++last;
        }
        if (progress != nullptr && progress->cancelled()) return RECOVER_ECANCELED;
        uint64_t bytes = 0;
        for (size_t i = first; i < last; ++i) bytes += plan.pieces[i].end - plan.pieces[i].begin;
        ++blocks;
        if (scan_pieces(plan, first, last, buffer.get(), key, origin_bytes, &found) == 0) {
            result->scanned_bytes += bytes;
        } else {
            ++unreadable;
        }
        done += bytes;
        if (progress != nullptr) progress->progress(done, plan.total_bytes);
        first = last;
    }
    if (blocks > 0 && unreadable == blocks) return DVR_EDISK;
    result->cut_records = found.cut_records;
    group_runs(std::move(found.runs), std::move(found.audio), result);
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
    const uint64_t origin_bytes = entry->start_sector * kSectorSize;
    const uint64_t area_bytes = entry->sector_count * kSectorSize;
    const uint64_t bytes = uint64_t{gop.length} + kTrailerSize;
    if (gop.image_offset < origin_bytes || gop.image_offset - origin_bytes > area_bytes ||
        area_bytes - (gop.image_offset - origin_bytes) < bytes) {
        return DVR_EINVAL;
    }
    const uint64_t at = gop.image_offset - origin_bytes;
    const uint64_t first = at / kSectorSize;
    const uint64_t sectors = (at + bytes + kSectorSize - 1) / kSectorSize - first;
    std::vector<uint8_t> sectors_read(sectors * kSectorSize);
    const int32_t rc =
        hdd_read_sectors(first, static_cast<uint32_t>(sectors), sectors_read.data());
    if (rc != 0) return rc;
    const uint8_t* data = sectors_read.data() + (at - first * kSectorSize);

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
