// What the main window and the disk load dialog share about the open disk.
#pragma once

#include <cstdint>
#include <string>

namespace ui {

struct DiskState {
    bool disk_loaded = false;
    bool session_mounted = false;
    int32_t disk_kind = 0;         // 6 recorder disk, 7 and 8 backup disks
    int32_t display_channels = 0;  // 4, 8, 9 or 16
    int32_t disk_row = -1;
    int32_t session = -1;

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

} // namespace ui
