// Whole-sector reads of the mounted (or scanned) drive, relative to the origin.
#include <atomic>
#include <limits>
#include <string>

#include "disk/disk_i.h"

namespace {

// Reads the drive refused or cut short: the playback thread reads too, hence atomic.
std::atomic<uint64_t>& failed_reads() {
    static std::atomic<uint64_t> count{0};
    return count;
}

// Which image failed where: an E01 segment set or a split image is many files, and the drive
// knows which one and why.
void trace_read_failure(const DiskState& st, uint64_t position) {
    const std::string detail = st.drive->error_detail();
    dvrfs_trace("Read failed: '%s' at byte %llu%s%s\n", st.drive_path.c_str(),
                static_cast<unsigned long long>(position), detail.empty() ? "" : ": ",
                detail.c_str());
}

}  // namespace

uint64_t hdd_failed_reads() { return failed_reads().load(); }

void hdd_clear_failed_reads() { failed_reads().store(0); }

int32_t hdd_read_sectors(uint64_t sector, uint32_t count, void* buffer) {
    DiskState& st = disk_state();
    const uint64_t max_sector = std::numeric_limits<uint64_t>::max() / kSectorSize;
    // A sector number that overflows the byte position can only come from damaged data.
    if (!st.drive || buffer == nullptr || sector > max_sector - st.origin ||
        sector + st.origin > max_sector - count) {
        dvrfs_trace("Disk Access\n");
        return DVR_EDISK;
    }
    const uint64_t position = (sector + st.origin) * kSectorSize;
    const size_t bytes = size_t{count} * kSectorSize;
    if (st.drive->read_at(position, buffer, bytes) != static_cast<int64_t>(bytes)) {
        failed_reads().fetch_add(1);
        dvrfs_trace("Disk Access\n");
        trace_read_failure(st, position);
        return DVR_EDISK;
    }
    return 0;
}
