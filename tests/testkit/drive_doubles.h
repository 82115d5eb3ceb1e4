// Drives for tests: one that records which sectors were read, one that reports a chosen
// geometry, and a plain read-only file drive for drive openers (an opener cannot reach the
// real one, which it replaces).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/drive.h"

namespace testkit {

// Sector numbers (byte offset / 512, absolute on the drive) of every read, in order.
using ReadLog = std::shared_ptr<std::vector<uint64_t>>;

class CountingDrive final : public platform::Drive {
public:
    CountingDrive(std::unique_ptr<platform::Drive> inner, ReadLog log)
        : inner_(std::move(inner)), log_(std::move(log)) {}
    int geometry(platform::DriveGeometry* out) const override { return inner_->geometry(out); }
    int64_t read_at(uint64_t offset, void* buffer, size_t n) override;

private:
    std::unique_ptr<platform::Drive> inner_;
    ReadLog log_;
};

// Reports geometry_rc and geometry instead of the inner drive's; reads go through.
class GeometryDrive final : public platform::Drive {
public:
    GeometryDrive(std::unique_ptr<platform::Drive> inner, int geometry_rc,
                  platform::DriveGeometry geometry)
        : inner_(std::move(inner)), rc_(geometry_rc), geometry_(geometry) {}
    int geometry(platform::DriveGeometry* out) const override;
    int64_t read_at(uint64_t offset, void* buffer, size_t n) override {
        return inner_->read_at(offset, buffer, n);
    }

private:
    std::unique_ptr<platform::Drive> inner_;
    int rc_;
    platform::DriveGeometry geometry_;
};

// A regular file opened O_RDONLY, sized by its length; nullptr when it does not open.
std::unique_ptr<platform::Drive> open_file_drive(const char* path);

// Opens the image with the real opener, wraps it in a counting drive and makes it the disk
// layer's open drive with the given origin, as a mount would. Returns the read log.
ReadLog install_counting_drive(const std::string& path, uint64_t origin = 0);

}  // namespace testkit
