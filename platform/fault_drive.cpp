// The fault-injecting drive: decisions under one lock, the real read outside it.
#include "platform/fault_drive.h"

#include <algorithm>
#include <cerrno>

namespace platform {

void FaultPlan::fail_sectors(uint64_t first, uint64_t count) {
    std::lock_guard<std::mutex> guard(mutex_);
    bad_.push_back({first, count});
}

void FaultPlan::cut_reads_at(uint64_t byte_offset, int times) {
    std::lock_guard<std::mutex> guard(mutex_);
    cuts_.push_back({byte_offset, times});
}

void FaultPlan::shrink_to(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    shrunk_ = bytes;
    shrink_at_read_ = UINT64_MAX;
}

void FaultPlan::shrink_after(uint64_t reads, uint64_t bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    shrink_at_read_ = reads_ + reads;
    pending_size_ = bytes;
}

void FaultPlan::clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    bad_.clear();
    cuts_.clear();
    shrunk_ = shrink_at_read_ = pending_size_ = UINT64_MAX;
}

uint64_t FaultPlan::reads() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return reads_;
}

uint64_t FaultPlan::failed_reads() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return failed_;
}

uint64_t FaultPlan::short_reads() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return short_;
}

uint64_t FaultPlan::visible_size(uint64_t real_size) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::min(real_size, shrunk_);
}

int64_t FaultPlan::plan_read(uint64_t offset, size_t n, uint64_t size) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (reads_++ >= shrink_at_read_) {
        shrunk_ = pending_size_;
        shrink_at_read_ = UINT64_MAX;
    }
    if (n == 0) return 0;
    size = std::min(size, shrunk_);
    if (offset >= size) {
        ++short_;
        return 0;
    }
    uint64_t limit = std::min<uint64_t>(n, size - offset);
    const uint64_t first = offset / 512, last = (offset + limit - 1) / 512;
    for (const Range& r : bad_) {
        if (r.count != 0 && first < r.first + r.count && r.first <= last) {
            ++failed_;
            return -1;
        }
    }
    Cut* nearest = nullptr;
    for (Cut& c : cuts_) {
        if (c.times != 0 && c.offset > offset && c.offset < offset + limit &&
            (nearest == nullptr || c.offset < nearest->offset)) {
            nearest = &c;
        }
    }
    if (nearest != nullptr) {
        limit = nearest->offset - offset;
        if (nearest->times > 0) --nearest->times;
    }
    if (limit < n) ++short_;
    return static_cast<int64_t>(limit);
}

uint64_t FaultDrive::real_size() const {
    DriveGeometry g;
    if (inner_->geometry(&g) != 0) return UINT64_MAX;
    return static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track *
           g.bytes_per_sector;
}

int FaultDrive::geometry(DriveGeometry* out) const {
    DriveGeometry g;
    if (inner_->geometry(&g) != 0) return -1;
    const uint64_t real = static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder *
                          g.sectors_per_track * g.bytes_per_sector;
    *out = synthesise_geometry(plan_->visible_size(real) / 512, g.media_type);
    return 0;
}

int64_t FaultDrive::read_at(uint64_t offset, void* buffer, size_t n) {
    const int64_t allowed = plan_->plan_read(offset, n, real_size());
    if (allowed < 0) {
        errno = EIO;
        return -1;
    }
    if (allowed == 0) return 0;
    return inner_->read_at(offset, buffer, static_cast<size_t>(allowed));
}

void install_fault_opener(std::shared_ptr<FaultPlan> plan, const std::string& only_path) {
    set_drive_opener([plan, only_path](const char* path) -> std::unique_ptr<Drive> {
        std::unique_ptr<Drive> real = open_system_drive(path);
        if (!real || (!only_path.empty() && only_path != path)) return real;
        return std::make_unique<FaultDrive>(std::move(real), plan);
    });
}

}  // namespace platform
