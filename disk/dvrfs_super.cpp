// The recorder volume's super block: the probe, the mount and block-to-sector translation.
#include <cstdio>
#include <cstring>
#include <new>

#include "disk/disk_i.h"

namespace {

std::unique_ptr<DvrSuperBlock>& retained() {
    static std::unique_ptr<DvrSuperBlock> sb;
    return sb;
}

bool has_valid_checksum(const uint8_t* sector) {
    return dvrfs_checksum(sector, sizeof(DvrSuperBlock)) == 0;
}

// Magic and layout version; the probe tests the checksum separately.
bool is_recorder_super_block(const DvrSuperBlock& sb) {
    return sb.magic == kDvrMagic && sb.version >= kDvrVersionMin && sb.version <= kDvrVersionMax;
}

// Every later block-to-sector translation divides by the block size; a size that is 0 or not
// whole sectors cannot describe a volume.
bool has_usable_block_size(const DvrSuperBlock& sb) {
    return sb.block_size > 0 && sb.block_size % static_cast<int32_t>(kSectorSize) == 0;
}

DvrSuperBlock decode(const uint8_t* sector) {
    DvrSuperBlock sb;
    std::memcpy(&sb, sector, sizeof sb);
    return sb;
}

// Step 4: the first of sectors 0, 10 and 20 that is a whole, checksummed super block.
int32_t find_pointer_copy(uint64_t start, uint8_t* sector, DvrSuperBlock* out) {
    for (uint32_t candidate : kDvrCandidateSectors) {
        int32_t rc = hdd_read_sectors(start + candidate, 1, sector);
        if (rc != 0) return rc;
        DvrSuperBlock sb = decode(sector);
        if (is_recorder_super_block(sb) && has_valid_checksum(sector)) {
            *out = sb;
            return 0;
        }
    }
    return DVR_ENOBACKUP;
}

// Step 5: the pointer copy's word 9 names the authoritative copy inside the probed area.
int32_t follow_pointer(uint64_t start, uint64_t size, const DvrSuperBlock& pointer,
                       uint8_t* sector, DvrSuperBlock* out) {
    const int64_t relative = pointer.authoritative_sector;
    if (relative < 0 || static_cast<uint64_t>(relative) >= size) return DVR_ENOBACKUP;
    int32_t rc = hdd_read_sectors(start + static_cast<uint64_t>(relative), 1, sector);
    if (rc != 0) return rc;
    DvrSuperBlock sb = decode(sector);
    if (!has_valid_checksum(sector) || !is_recorder_super_block(sb)) return DVR_ENOBACKUP;
    *out = sb;
    return 0;
}

int32_t locate_super_block(uint64_t start, uint64_t size, DvrSuperBlock* out) {
    uint8_t sector[kSectorSize];
    int32_t rc = hdd_read_sectors(start + size / 2, 1, sector);
    if (rc != 0) return rc;
    if (has_valid_checksum(sector)) {
        *out = decode(sector);
        return is_recorder_super_block(*out) ? 0 : DVR_ENOBACKUP;
    }
    DvrSuperBlock pointer{};
    rc = find_pointer_copy(start, sector, &pointer);
    if (rc != 0) return rc;
    return follow_pointer(start, size, pointer, sector, out);
}

}  // namespace

int32_t _hdd_blk_read(uint64_t start, uint64_t size, int keep) {
    dvrfs_trace("_hdd_blk_read %lld, %lld\n", static_cast<long long>(start),
                static_cast<long long>(size));
    DvrSuperBlock sb;
    int32_t rc = locate_super_block(start, size, &sb);
    if (rc != 0) return rc;
    if (!has_usable_block_size(sb)) return DVR_ENOBACKUP;
    if (keep) {
        auto copy = std::unique_ptr<DvrSuperBlock>(new (std::nothrow) DvrSuperBlock(sb));
        if (!copy) return DVR_ENOSPC;
        retained() = std::move(copy);
    }
    return 0;
}

const DvrSuperBlock* dvrfs_super_block() { return retained().get(); }

int32_t dvrfs_mount() {
    const uint64_t size = disk_state().mounted->sector_count;
    int32_t rc = _hdd_blk_read(0, size, 1);
    if (rc != 0) rc = _hdd_blk_read(kDvrSecondProbeStart, size, 1);
    if (rc != 0) return rc;

    const DvrSuperBlock& sb = *retained();
    VolumeRecord& v = volume_table().records[0];
    v = VolumeRecord{};
    std::snprintf(v.name, sizeof v.name, "PSOS");
    v.slot = 0;
    v.created = sb.created;
    v.interval = 15;
    v.oldest = sb.oldest;
    v.newest = sb.newest;
    v.channel_count = static_cast<uint32_t>(sb.channel_count);
    // The session mount refuses a count outside 3..32; until then a damaged one must not
    // wrap around here.
    v.data_channel_count = sb.channel_count >= 3 ? static_cast<uint32_t>(sb.channel_count - 3) : 0;
    volume_table().count = 1;
    return 0;
}

int32_t dvrfs_unmount() {
    retained().reset();
    return 0;
}

uint64_t dvrfs_block_sector(int32_t block, int32_t offset) {
    const DvrSuperBlock& sb = *retained();
    const uint64_t per_block = static_cast<uint64_t>(sb.block_size) / kSectorSize;
    const uint64_t in_block = static_cast<uint64_t>(offset) / kSectorSize;
    if (static_cast<uint32_t>(block) >= sb.area2_block) {
        return sb.area2_sector + (static_cast<uint64_t>(block) - sb.area2_block) * per_block +
               in_block;
    }
    return sb.area1_sector + (static_cast<uint64_t>(block) - 1) * per_block + in_block;
}

int32_t hdd_read_super_block(uint64_t size, void* buffer) {
    if (buffer == nullptr) return DVR_EINVAL;
    uint8_t sector[kSectorSize];
    int32_t rc = hdd_read_sectors(size / 2, 1, sector);
    if (rc != 0) return rc;
    if (!has_valid_checksum(sector)) {
        // Display only: the first candidate with the magic is shown, whatever its checksum.
        for (uint32_t candidate : kDvrCandidateSectors) {
            rc = hdd_read_sectors(candidate, 1, sector);
            if (rc != 0) return rc;
            if (decode(sector).magic == kDvrMagic) break;
        }
    }
    std::memcpy(buffer, sector, sizeof(DvrSuperBlock));
    return 0;
}
