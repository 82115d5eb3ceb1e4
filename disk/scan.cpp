// The drive scan: drives 1..29, their partition tables and what each area holds.
#include <cstdio>
#include <cstring>

#include "disk/disk_i.h"
#include "disk/partition_types.h"

namespace {

inline constexpr int kFirstDrive = 1;  // drive 0 is the system disk and is never examined
inline constexpr int kLastDrive = 29;

// Adds an entry unless the table is full; false when it is.
bool add_entry(const std::string& path, uint32_t fs_type, uint32_t partition,
               uint32_t partition_type, uint32_t bootable, uint64_t start, uint64_t count) {
    DiskState& st = disk_state();
    if (st.count >= kDiskTableSize) return false;
    DiskEntry& e = st.table[st.count++];
    std::snprintf(e.device_path, sizeof e.device_path, "%s", path.c_str());
    e.fs_type = fs_type;
    e.partition = partition;
    e.partition_type = partition_type;
    e.bootable = bootable;
    e.start_sector = start;
    e.sector_count = count;
    return true;
}

bool table_full() { return disk_state().count >= kDiskTableSize; }

bool is_ms_boot_sector(const uint8_t* s) {
    return s[0] == 0xEB &&
           (std::memcmp(s + 3, "MSDOS", 5) == 0 || std::memcmp(s + 3, "NTFS", 4) == 0);
}

void scan_bare_disk(const std::string& path, uint64_t total) {
    dvrfs_trace("   ===> non MBR, Non Partitioned Disk\n");
    bool found = _hdd_blk_read(0, total, 0) == 0 ||
                 _hdd_blk_read(kDvrSecondProbeStart, total, 0) == 0;
    uint32_t type = found ? FS_PSOS : FS_OTHER;
    add_entry(path, type, 0, type, 0, 0, total);
}

uint32_t probe_partition(const PartitionEntry& p) {
    if (_hdd_blk_read(p.start_sector, p.sector_count, 0) == 0) return FS_PSOS;
    if (backup_sb_read(p.start_sector, 0) == 0) {
        dvrfs_trace("Backup File System Found\n");
        if (p.type_byte != kPartTypeBackup) {
            dvrfs_trace("File System and Partition Type Mismatch\n");
        }
        return FS_BACKUP10;
    }
    return fs_type_from_type_byte(p.type_byte);
}

void scan_partitioned_disk(const std::string& path, uint64_t total, const uint8_t* sector0) {
    if (!add_entry(path, FS_WHOLE, 0, FS_WHOLE, 0, 0, total)) return;
    for (int i = 0; i < kPartitionEntries && !table_full(); ++i) {
        PartitionEntry p;
        std::memcpy(&p, sector0 + kPartitionTableOffset + i * sizeof p, sizeof p);
        if (p.sector_count == 0) continue;  // keeps the table positions of the later entries
        uint32_t fs = probe_partition(p);
        add_entry(path, fs, static_cast<uint32_t>(i + 1), partition_type_from_type_byte(p.type_byte),
                  p.boot_indicator == 0x80 ? 1 : 0, p.start_sector, p.sector_count);
    }
}

void scan_drive(int number) {
    const std::string path = platform::drive_path(number);
    DiskState& st = disk_state();
    st.drive = platform::open_drive(path.c_str());
    st.drive_path = path;
    if (!st.drive) return;
    dvrfs_trace("%d: Drive '%s' Open !\n", number, path.c_str());

    platform::DriveGeometry g;
    if (st.drive->geometry(&g) != 0) return;
    dvrfs_trace("  T:%d = cyl:%lld, track:%d, sector:%d(%dB)", static_cast<int>(g.media_type),
                static_cast<long long>(g.cylinders), static_cast<int>(g.tracks_per_cylinder),
                static_cast<int>(g.sectors_per_track), static_cast<int>(g.bytes_per_sector));
    const uint64_t total =
        static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track;
    const long long total_ll = static_cast<long long>(total);
    if (total / 2097152 > 10) {
        dvrfs_trace(" %lld blks (%lldGB)\n", total_ll, static_cast<long long>(total / 2097152));
    } else {
        dvrfs_trace(" %lld blks (%lldMB)\n", total_ll, static_cast<long long>(total / 2048));
    }
    if (g.media_type != platform::kMediaRemovable && g.media_type != platform::kMediaFixed) {
        dvrfs_trace("This disk is not HDD\n");
        return;
    }

    uint8_t sector0[kSectorSize];
    if (hdd_read_sectors(0, 1, sector0) != 0) return;
    if (sector0[510] != 0x55 || sector0[511] != 0xAA) {
        scan_bare_disk(path, total);
    } else if (is_ms_boot_sector(sector0)) {
        dvrfs_trace("   ===> This disk is MS-DOS/NTFS only disk\n");
        add_entry(path, FS_MS, 0, FS_MS, 0, 0, total);
    } else {
        scan_partitioned_disk(path, total, sector0);
    }
}

}  // namespace

int32_t backup_scan_disks() {
    DiskState& st = disk_state();
    if (st.mounted != nullptr) return DVR_EMOUNTED;
    st.origin = 0;
    st.count = 0;
    std::memset(st.table, 0, sizeof st.table);
    // The table holds 30 entries; once it is full no further drive can be listed.
    for (int n = kFirstDrive; n <= kLastDrive && !table_full(); ++n) {
        scan_drive(n);
        st.drive.reset();
        st.drive_path.clear();
    }
    if (table_full()) dvrfs_trace("Disk table full\n");
    return st.count;
}
