// Which bytes the carver reads: the data-area blocks outside every stored range, by sector.
#include "recover/carver_areas.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "disk/channel_i.h"
#include "disk/disk_i.h"

namespace recover {
namespace {

// Map slots hold 16-bit block numbers: no channel can name a block above this.
constexpr uint32_t kMappableBlocks = 65536;

void hold(std::vector<HeldRanges>* held, uint32_t block, uint32_t lo, uint32_t hi) {
    if (block == 0 || block >= held->size() || lo >= hi) return;
    (*held)[block].emplace_back(lo, hi);
}

bool record_sane(const ChannelRecord& r, uint32_t block_size, bool ring) {
    if (r.head_slot >= r.map_slots || r.tail_slot >= r.map_slots) return false;
    if (r.head_offset >= block_size || r.tail_offset > block_size) return false;
    if (ring) return true;
    return r.tail_slot > r.head_slot ||
           (r.tail_slot == r.head_slot && r.head_offset <= r.tail_offset);
}

// Adds the free ranges of one block to the plan.
void add_block(ScanPlan* plan, uint32_t block, uint64_t sector,
               const std::vector<HeldRanges>& held) {
    const HeldRanges none;
    const HeldRanges& h = block < held.size() ? held[block] : none;
    for (const auto& [lo, hi] : free_ranges(h, plan->block_size)) {
        plan->pieces.push_back(ScanPiece{block, sector, lo, hi});
    }
}

// Image order, and no byte twice even where a damaged super block lets blocks overlap.
void finish(ScanPlan* plan) {
    std::sort(plan->pieces.begin(), plan->pieces.end(), [](const ScanPiece& a, const ScanPiece& b) {
        return a.sector != b.sector ? a.sector < b.sector : a.begin < b.begin;
    });
    std::vector<ScanPiece> kept;
    uint64_t covered = 0;  // bytes from the origin read by the pieces kept so far
    for (ScanPiece p : plan->pieces) {
        const uint64_t start = p.sector * kSectorSize;
        if (start + p.end <= covered) continue;
        if (start + p.begin < covered) p.begin = static_cast<uint32_t>(covered - start);
        covered = start + p.end;
        kept.push_back(p);
    }
    plan->pieces = std::move(kept);
    plan->total_bytes = 0;
    for (const ScanPiece& p : plan->pieces) plan->total_bytes += p.end - p.begin;
}

bool usable_block_size(int64_t size, int64_t limit) {
    return size > 0 && size % kSectorSize == 0 && size <= limit;
}

// The blocks [first, last] of a data area whose sectors the mounted area holds.
void add_area(ScanPlan* plan, uint64_t first, uint64_t last, uint64_t area_sectors,
              uint64_t (*sector_of)(int32_t, int32_t), const std::vector<HeldRanges>& held) {
    const uint64_t per_block = plan->block_size / kSectorSize;
    for (uint64_t b = first; b <= last; ++b) {
        const uint64_t sector = sector_of(static_cast<int32_t>(b), 0);
        if (sector + per_block > area_sectors) break;  // the area's blocks only grow from here
        add_block(plan, static_cast<uint32_t>(b), sector, held);
    }
}

// Marks what one session of the backup disk stores; false when its header cannot be read.
bool mark_session(uint32_t slot, uint32_t block_size, uint8_t* header,
                  std::vector<HeldRanges>* held) {
    if (hdd_read_sectors(session_header_sector(slot), 1, header) != 0) return false;
    VolumeRecord v;
    std::memcpy(&v, header, sizeof v);
    if (v.created == 0) return true;  // a free slot stores nothing
    if (hdd_read_sectors(session_header_sector(slot), kSessionHeaderSectors, header) != 0) {
        return false;
    }
    std::vector<uint16_t> map(kSessionBlockMapSlots);
    std::memcpy(map.data(), header + kSessionBlockMapOffset, map.size() * sizeof(uint16_t));
    // A damaged count must not hide a channel: every record of the header is looked at.
    for (size_t c = 0; c < static_cast<size_t>(kMaxChannels); ++c) {
        SessionChannelRecord ch;
        std::memcpy(&ch, header + kSessionChannelRecordsOffset + c * sizeof ch, sizeof ch);
        const ChannelRecord r{ch.size,      ch.index_column, ch.head_slot,
                              ch.head_offset, ch.tail_slot,  ch.tail_offset,
                              map.data(),   static_cast<uint32_t>(map.size())};
        mark_stored(r, block_size, false, held);
    }
    return true;
}

}  // namespace

void mark_stored(const ChannelRecord& r, uint32_t block_size, bool ring,
                 std::vector<HeldRanges>* held) {
    if (r.map == nullptr || r.map_slots == 0) return;
    if (!record_sane(r, block_size, ring)) {
        for (uint32_t s = 0; s < r.map_slots; ++s) hold(held, r.map[s], 0, block_size);
        return;
    }
    if (r.head_slot == r.tail_slot && r.head_offset <= r.tail_offset) {
        hold(held, r.map[r.head_slot], r.head_offset, r.tail_offset);
        return;
    }
    const auto next = [&](uint32_t s) { return ring && s + 1 == r.map_slots ? 0 : s + 1; };
    hold(held, r.map[r.head_slot], r.head_offset, block_size);
    uint32_t s = next(r.head_slot);
    for (uint32_t steps = 0; s != r.tail_slot && steps < r.map_slots; ++steps, s = next(s)) {
        hold(held, r.map[s], 0, block_size);
    }
    hold(held, r.map[r.tail_slot], 0, r.tail_offset);
}

HeldRanges free_ranges(HeldRanges held, uint32_t block_size) {
    std::sort(held.begin(), held.end());
    HeldRanges out;
    uint32_t at = 0;
    for (const auto& [lo, hi] : held) {
        if (lo > at) out.emplace_back(at, std::min(lo, block_size));
        at = std::max(at, hi);
        if (at >= block_size) break;
    }
    if (at < block_size) out.emplace_back(at, block_size);
    return out;
}

int32_t plan_recorder_scan(ScanPlan* plan) {
    const DvrSuperBlock* sb = dvrfs_super_block();
    const DiskEntry* entry = backup_mounted_disk();
    if (sb == nullptr || entry == nullptr || backup_selected_volume() == nullptr) {
        return DVR_ENOTMOUNTED;
    }
    if (!usable_block_size(sb->block_size, INT32_MAX) || sb->max_block < 1) return DVR_ENEED_FSCK;
    *plan = ScanPlan{};
    plan->block_size = static_cast<uint32_t>(sb->block_size);

    std::vector<HeldRanges> held(kMappableBlocks);
    for (int32_t c = 0; c < backup_channel_count(); ++c) {
        if (const ChannelRecord* r = dvrfs_channel_record(c)) {
            mark_stored(*r, plan->block_size, true, &held);
        }
    }
    const uint64_t last = static_cast<uint64_t>(sb->max_block);
    const uint64_t area2 = std::max<uint64_t>(sb->area2_block, 1);
    add_area(plan, 1, std::min(last, area2 - 1), entry->sector_count, dvrfs_block_sector, held);
    add_area(plan, area2, last, entry->sector_count, dvrfs_block_sector, held);
    finish(plan);
    return 0;
}

int32_t plan_backup_scan(ScanPlan* plan) {
    const BackupSuperBlock* sb = bkfs_super_block();
    const DiskEntry* entry = backup_mounted_disk();
    if (sb == nullptr || entry == nullptr) return DVR_ENOTMOUNTED;
    if (!usable_block_size(sb->block_size, kBackupBlockSize) || sb->slot_count < 0 ||
        sb->slot_count > kMaxSessionSlots) {
        return DVR_ENEED_FSCK;
    }
    *plan = ScanPlan{};
    plan->block_size = static_cast<uint32_t>(sb->block_size);

    std::vector<HeldRanges> held(kMappableBlocks);
    std::unique_ptr<uint8_t[]> header(new (std::nothrow) uint8_t[kSessionHeaderBytes]);
    if (!header) return DVR_ENOSPC;
    // What a session in use stores is never recovered; a header that cannot be read could
    // hide one, so nothing is scanned then.
    for (int32_t s = 0; s < sb->slot_count; ++s) {
        if (!mark_session(static_cast<uint32_t>(s), plan->block_size, header.get(), &held)) {
            dvrfs_trace("recover: session header %d unreadable\n", s);
            return DVR_EDISK;
        }
    }
    if (sb->block_limit > 1) {
        add_area(plan, 1, static_cast<uint64_t>(sb->block_limit) - 1, entry->sector_count,
                 bkfs_block_sector, held);
    }
    finish(plan);
    return 0;
}

}  // namespace recover
