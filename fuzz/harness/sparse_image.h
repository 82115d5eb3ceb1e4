// Disk images small enough to be fuzz inputs: a sector count, then runs of sectors at chosen
// places; every other sector reads as zeros. A memory drive serves the image to the disk layer
// through the drive opener, so nothing touches the file system.
//
// Layout (little-endian):
//   u64 total sectors (0 taken as 1, capped at kMaxSparseSectors)
//   repeated: u64 first sector, u16 sector count, then count x 512 bytes of data
// A run cut short by the end of the input keeps what it has, padded with zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/drive.h"

namespace fuzz {

inline constexpr uint64_t kMaxSparseSectors = uint64_t{1} << 40;  // 512 TiB
inline constexpr size_t kSectorSize = 512;

struct SparseImage {
    uint64_t total_sectors = 1;
    std::map<uint64_t, std::vector<uint8_t>> sectors;  // sector number -> 512 bytes
};

SparseImage parse_sparse_image(const uint8_t* data, size_t size);
// The non-zero sectors as runs; parse_sparse_image(encode(x)) == x.
std::vector<uint8_t> encode_sparse_image(const SparseImage& image);
// A raw image file's non-zero sectors (holes are skipped without reading them).
bool load_image_file(const std::string& path, SparseImage* image);

// A read-only drive over a sparse image.
class MemoryDrive final : public platform::Drive {
public:
    explicit MemoryDrive(std::shared_ptr<const SparseImage> image) : image_(std::move(image)) {}
    int geometry(platform::DriveGeometry* out) const override;
    int64_t read_at(uint64_t offset, void* buffer, size_t n) override;

private:
    std::shared_ptr<const SparseImage> image_;
};

// While it lives, drive 1 is the image and nothing else is attached; it leaves the disk layer,
// the drive table and the opener as it found them at program start.
class AttachedImage {
public:
    explicit AttachedImage(std::shared_ptr<const SparseImage> image);
    ~AttachedImage();
    AttachedImage(const AttachedImage&) = delete;
    AttachedImage& operator=(const AttachedImage&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

}  // namespace fuzz
