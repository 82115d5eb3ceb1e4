// The backup disk's super block: the probe, the mount that lists the sessions, block sectors.
#include <cstring>
#include <new>

#include "disk/disk_i.h"

namespace {

std::unique_ptr<BackupSuperBlock>& retained() {
    static std::unique_ptr<BackupSuperBlock> sb;
    return sb;
}

// The volume record table has 32 rows and blocks are 65,536 sectors; a super block that
// promises more cannot be read without leaving the tables or the blocks.
bool has_usable_layout(const BackupSuperBlock& sb) {
    return sb.slot_count >= 0 && sb.slot_count <= kMaxSessionSlots && sb.block_size > 0 &&
           sb.block_size <= kBackupBlockSize && sb.block_size % static_cast<int32_t>(kSectorSize) == 0;
}

}  // namespace

int32_t backup_sb_read(uint64_t start, int keep) {
    uint8_t sector[kSectorSize];
    int32_t rc = hdd_read_sectors(start, 1, sector);
    if (rc != 0) return rc;
    BackupSuperBlock sb;
    std::memcpy(&sb, sector, sizeof sb);
    if (sb.created == 0 || sb.magic != kBackupMagic || sb.layout != kBackupLayout) {
        dvrfs_trace("Super Block Checksum ID:%08X Layout:%08X Time:%s", sb.magic, sb.layout,
                    dvrfs_time_string(sb.created, 0));
        return DVR_ENOBACKUP;
    }
    if (dvrfs_checksum(sector, sizeof sb) != 0) {
        dvrfs_trace("Super Block Checksum");
        return DVR_ENOBACKUP;
    }
    if (!has_usable_layout(sb)) {
        dvrfs_trace("Super Block Layout Slots:%d Block Size:%d\n", sb.slot_count, sb.block_size);
        return DVR_ENOBACKUP;
    }
    if (keep) {
        auto copy = std::unique_ptr<BackupSuperBlock>(new (std::nothrow) BackupSuperBlock(sb));
        if (!copy) return DVR_ENOSPC;
        retained() = std::move(copy);
    }
    return 0;
}

const BackupSuperBlock* bkfs_super_block() { return retained().get(); }

int32_t bkfs_mount() {
    int32_t rc = backup_sb_read(0, 1);
    if (rc != 0) return rc;
    VolumeTable& vt = volume_table();
    vt.count = 0;
    const BackupSuperBlock& sb = *retained();
    if (sb.sessions_used == 0) return 0;

    uint8_t sector[kSectorSize];
    for (int32_t s = 0; s < sb.slot_count; ++s) {
        if (hdd_read_sectors(session_header_sector(static_cast<uint32_t>(s)), 1, sector) != 0) {
            return 0;  // the disk mounts, but lists no session
        }
        VolumeRecord& v = vt.records[s];
        std::memcpy(&v, sector, sizeof v);
        v.name[sizeof v.name - 1] = '\0';  // the name is shown as text; the disk may not end it
    }
    vt.count = sb.slot_count;
    return 0;
}

int32_t bkfs_unmount() {
    retained().reset();
    return 0;
}

uint64_t bkfs_block_sector(int32_t block, int32_t offset) {
    const BackupSuperBlock& sb = *retained();
    // Computed in 64 bits: a wrapped 32-bit sector would read another block without notice.
    const uint64_t data_start =
        session_header_sector(static_cast<uint32_t>(sb.slot_count));
    return data_start + (static_cast<uint64_t>(block) - 1) * kBackupBlockSectors +
           static_cast<uint64_t>(offset) / kSectorSize;
}
