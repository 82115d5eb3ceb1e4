#include "ui/disk_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "disk/recorder_time.h"
#include "platform/container.h"
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
    DiskEntry* table = state->disks.data();
    if (api_scan_disks(table) < 0) {
        *error = "The drive scan failed.";
        return -1;
    }
    const int32_t count = std::min(api_disk_count(), int32_t{kDiskTableSize});
    state->disk_count = count;
    state->disk_list_loaded = true;
    int32_t row = 0;
    while (row < count && !mountable(table[row]))
        ++row;
    if (row >= count) {
        *error = "Failed to found DVR HDD";
        return -1;
    }
    state->usable_disk_seen = true;
    if (api_mount_disk(row) != 0) {
        *error = "The disk could not be mounted.";
        return -1;
    }
    state->disk_loaded = true;
    state->disk_row = row;
    state->disk_kind = static_cast<int32_t>(table[row].fs_type);
    api_read_super_block(row, state->super_block.data());
    VolumeRecord* records = state->sessions.data();
    api_get_sessions(records);
    state->session_count = api_session_count();
    if (session < 0 || session >= state->session_count || records[session].created == 0 ||
        api_mount_session(session) != 0) {
        *error = "Session " + std::to_string(session) + " could not be opened.";
        close_disk(state);
        return -1;
    }
    state->session_mounted = true;
    state->session = session;
    state->open_marks[static_cast<size_t>(session)] = true;
    state->session_oldest = records[session].oldest;
    state->session_newest = records[session].newest;
    state->display_channels = api_display_channels();
    return 0;
}

uint32_t day_midnight(uint32_t time) {
    const CivilTime t = civil_from_recorder(time);
    return static_cast<uint32_t>(recorder_from_civil(t.year, t.month, t.day, 0, 0, 0));
}

uint32_t first_recorded_day() {
    const VolumeRecord* volume = backup_selected_volume();
    std::vector<uint32_t> months(size_t{kMonthMapMonths} * kMonthMapEntries, 0);
    if (volume == nullptr || volume->oldest == 0 || tvfs_getexistmonthlog(months.data()) < 0)
        return 0;
    const CivilTime first = civil_from_recorder(volume->oldest);
    int year = first.year, month = first.month;
    for (int m = 0; m < kMonthMapMonths; ++m) {
        const int64_t start = recorder_from_civil(year, month, 1, 0, 0, 0);
        if (start < 0 || start > volume->newest)
            break;
        const auto in_month = std::max(static_cast<uint32_t>(start), volume->oldest);
        const int32_t mask = tvfs_month_day_mask(months.data(), in_month);
        for (int d = 0; d < 31 && mask > 0; ++d)
            if (mask & (1 << d))
                return static_cast<uint32_t>(recorder_from_civil(year, month, d + 1, 0, 0, 0));
        if (++month > 12) {
            month = 1;
            ++year;
        }
    }
    return 0;
}

void close_disk(DiskState* state) {
    if (state->session_mounted)
        api_unmount_session();
    if (state->disk_loaded)
        api_unmount_disk();
    // The drive scan's copy stays: it still describes the drives.
    DiskState cleared;
    cleared.disks = state->disks;
    cleared.disk_count = state->disk_count;
    cleared.usable_disk_seen = state->usable_disk_seen;
    cleared.disk_list_loaded = state->disk_list_loaded;
    *state = std::move(cleared);
}

std::string image_problem(const std::string& path) {
    const std::string cannot = "Cannot open " + path + ": ";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return cannot + std::strerror(errno);
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    if (folder)
        return cannot + std::strerror(EISDIR);
    std::string why;
    if (platform::check_container(path, &why) != 0)
        return cannot + why;
    return {};
}

} // namespace ui
