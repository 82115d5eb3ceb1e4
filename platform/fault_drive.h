// A drive that misbehaves on purpose, for tests of how every layer copes with a failing disk:
// sectors that fail with an I/O error, reads cut short at chosen offsets, and a device that
// shrinks (at once or after a number of reads). It wraps a real drive and is installed through
// the drive opener, so the code under test opens it exactly as it opens a disk.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/drive.h"

namespace platform {

// What goes wrong, shared by every drive the fault opener hands out. The playback thread and
// the caller read concurrently, so every member is guarded.
class FaultPlan {
public:
    // Reads that touch any of `count` sectors from `first` fail with EIO (read_at gives -1).
    void fail_sectors(uint64_t first, uint64_t count = 1);
    // A read that spans the byte offset returns only the bytes before it; `times` cuts, then
    // the offset reads normally again (-1: every time).
    void cut_reads_at(uint64_t byte_offset, int times = -1);
    // The device reports `bytes` from now on, or after `reads` more reads; reads past the new
    // end come back short, and 0 bytes wholly past it.
    void shrink_to(uint64_t bytes);
    void shrink_after(uint64_t reads, uint64_t bytes);
    // No more faults; the counters stay.
    void clear();

    uint64_t reads() const;         // read_at calls seen
    uint64_t failed_reads() const;  // calls answered with -1
    uint64_t short_reads() const;   // calls answered with fewer bytes than asked

    // Decides one read of [offset, offset + n) on a drive of `size` bytes: -1 for an error,
    // else the bytes to pass on (<= n). Counts the call.
    int64_t plan_read(uint64_t offset, size_t n, uint64_t size);
    // The size the drive reports now, given its real size.
    uint64_t visible_size(uint64_t real_size) const;

private:
    struct Range {
        uint64_t first, count;
    };
    struct Cut {
        uint64_t offset;
        int times;
    };
    mutable std::mutex mutex_;
    std::vector<Range> bad_;
    std::vector<Cut> cuts_;
    uint64_t shrunk_ = UINT64_MAX;  // bytes the device keeps; UINT64_MAX: its own size
    uint64_t shrink_at_read_ = UINT64_MAX;
    uint64_t pending_size_ = UINT64_MAX;
    uint64_t reads_ = 0, failed_ = 0, short_ = 0;
};

class FaultDrive final : public Drive {
public:
    FaultDrive(std::unique_ptr<Drive> inner, std::shared_ptr<FaultPlan> plan)
        : inner_(std::move(inner)), plan_(std::move(plan)) {}
    int geometry(DriveGeometry* out) const override;
    int64_t read_at(uint64_t offset, void* buffer, size_t n) override;

private:
    uint64_t real_size() const;

    std::unique_ptr<Drive> inner_;
    std::shared_ptr<FaultPlan> plan_;
};

// Every drive opened from now on (through open_drive) is the real read-only drive wrapped in a
// FaultDrive under plan; with only_path, other paths open as they are. set_drive_opener({})
// restores the real opener.
void install_fault_opener(std::shared_ptr<FaultPlan> plan, const std::string& only_path = "");

}  // namespace platform
