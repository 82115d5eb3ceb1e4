// What the main window and the disk load dialog share about the open disk.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk.h"

namespace ui {

struct DiskState {
    bool disk_loaded = false;      // a disk is mounted
    bool session_mounted = false;  // a session is open
    int32_t disk_kind = 0;         // 6 recorder disk, 7 and 8 backup disks
    int32_t display_channels = 0;  // 4, 8, 9 or 16
    int32_t disk_row = -1;         // the mounted disk's row, -1 when none
    int32_t session = -1;          // the open session's row, -1 when none

    // The copies the disk load dialog keeps of the drive scan and of the mounted disk.
    std::array<DiskEntry, kDiskTableSize> disks{};
    std::array<VolumeRecord, kVolumeRecordCount> sessions{};
    std::array<uint8_t, 136> super_block{};
    std::array<bool, kVolumeRecordCount> open_marks{};
    int32_t disk_count = 0;
    int32_t session_count = 0;
    bool usable_disk_seen = false;  // a scan listed a recorder or backup disk
    bool disk_list_loaded = false;
    uint32_t session_oldest = 0;    // the open session's recording span (recorder time)
    uint32_t session_newest = 0;
    std::vector<uint32_t> month_map;  // the month scan of the open session, empty before

    bool ready() const { return disk_loaded && session_mounted; }
    bool recorder_disk() const { return disk_kind == 6; }
};

// Scans the drives, mounts the first row that holds a recorder or backup volume, then
// `session`. Fills *state; on failure leaves nothing mounted and says why in *error.
int32_t open_first_disk(int32_t session, DiskState* state, std::string* error);
// The start of the open session's first recorded day, or 0 when it has none.
uint32_t first_recorded_day();
// Midnight of the recorder day that holds `time`. The timeline's positions count from here,
// also on a session's first day, whose log window opens only where recording began.
uint32_t day_midnight(uint32_t time);
// Unmounts the session and the disk of *state, if mounted.
void close_disk(DiskState* state);
// Why the disk image at path cannot be attached ("Cannot open PATH: No such file or
// directory", a damaged E01 set's reason), or "" when it opens.
std::string image_problem(const std::string& path);

} // namespace ui
