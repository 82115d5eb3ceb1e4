#include "ui/disk_state.h"

#include "storage/api.h"

namespace ui {
namespace {

bool mountable(const DiskEntry& entry) {
    return entry.fs_type == FS_PSOS || entry.fs_type == FS_BACKUP10 ||
           entry.fs_type == FS_BACKUP20;
}

} // namespace

int32_t open_first_disk(int32_t session, DiskState* state, std::string* error) {
    close_disk(state);
    DiskEntry table[kDiskTableSize];
    if (api_scan_disks(table) < 0) {
        *error = "The drive scan failed.";
        return -1;
    }
    const int32_t count = api_disk_count();
    int32_t row = 0;
    while (row < count && !mountable(table[row]))
        ++row;
    if (row >= count) {
        *error = "Failed to found DVR HDD";
        return -1;
    }
    if (api_mount_disk(row) != 0) {
        *error = "The disk could not be mounted.";
        return -1;
    }
    state->disk_loaded = true;
    state->disk_row = row;
    state->disk_kind = table[row].fs_type;
    VolumeRecord records[kVolumeRecordCount];
    api_get_sessions(records);
    if (session < 0 || session >= api_session_count() || records[session].created == 0 ||
        api_mount_session(session) != 0) {
        *error = "Session " + std::to_string(session) + " could not be opened.";
        close_disk(state);
        return -1;
    }
    state->session_mounted = true;
    state->session = session;
    state->display_channels = api_display_channels();
    return 0;
}

void close_disk(DiskState* state) {
    if (state->session_mounted)
        api_unmount_session();
    if (state->disk_loaded)
        api_unmount_disk();
    *state = DiskState{};
}

} // namespace ui
