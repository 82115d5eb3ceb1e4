// Read-only access to physical drives and disk images, and the table that numbers them.
// This is the only place that talks to the operating system about drives; errno stays here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

inline constexpr uint32_t kMediaRemovable = 11;
inline constexpr uint32_t kMediaFixed = 12;

struct DriveGeometry {
    int64_t cylinders = 0;
    uint32_t media_type = 0;
    uint32_t tracks_per_cylinder = 0;
    uint32_t sectors_per_track = 0;
    uint32_t bytes_per_sector = 0;
};

// Cylinders x tracks x sectors equals the exact sector count, so nothing at the end of a drive
// is lost to rounding.
DriveGeometry synthesise_geometry(uint64_t total_sectors, uint32_t media_type);

class Drive {
public:
    virtual ~Drive() = default;
    // 0 on success, -1 when the drive cannot report its size.
    virtual int geometry(DriveGeometry* out) const = 0;
    // Bytes read at the byte offset: fewer than n at the end of the drive, -1 on an I/O error.
    virtual int64_t read_at(uint64_t offset, void* buffer, size_t n) = 0;
    // What went wrong with the last failed read beyond the offset (the piece or segment, the
    // container library's reason); empty when there is nothing more to say.
    virtual std::string error_detail() const { return {}; }
};

// Opens a drive or image for reading only; nullptr when it cannot be opened.
std::unique_ptr<Drive> open_drive(const char* path);

// The real read-only opener, whatever opener is installed: fault-injecting drives wrap it.
std::unique_ptr<Drive> open_system_drive(const char* path);

// Tests replace the opener to inject faults; an empty function restores the real one.
using DriveOpener = std::function<std::unique_ptr<Drive>(const char* path)>;
void set_drive_opener(DriveOpener opener);

// --- Drive table: drive numbers 0..29 to paths ----------------------------------------------
inline constexpr int kMaxDrives = 30;
inline constexpr size_t kMaxPathLength = 127;  // the disk entry keeps the path in 128 bytes

// Attaches an image at the next free number from 1; returns the number, or -1 when the table
// is full or the path is too long for a disk entry.
int attach_image(const std::string& path);
// Attaches a path at a chosen number; 0, or -1 for a bad number or path.
int attach_drive(int number, const std::string& path);
void detach_all();
// Path of a drive number, "" when there is none. With nothing attached, the whole-disk block
// devices of the machine are numbered from 0 in name order.
std::string drive_path(int number);

}  // namespace platform
