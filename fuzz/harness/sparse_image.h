// Disk images as fuzz inputs, in two forms, served to the disk layer by a memory drive through
// the drive opener, so that nothing touches the file system.
//
// Sparse (the seeds; a large disk in a small input): a sector count, then runs of sectors at
// chosen places; every other sector reads as zeros. Layout (little-endian):
//   8 bytes "QSPARSE1"
//   u8 flags: bit 0 (kRepairChecksums) has the disk_image harness balance the checksums of the
//      super blocks and session headers it finds before serving the image
//      (harness/checksum_repair.h); the other bits are ignored
//   u64 total sectors (0 taken as 1, capped at kMaxSparseSectors)
//   repeated: u64 first sector, u16 sector count, then count x 512 bytes of data
// A run cut short by the end of the input keeps what it has, padded with zeros.
//
// Raw: an input that does not start with the magic is the disk itself from sector 0, its size
// rounded up to whole sectors (the tail of the last one reads as zeros). Its bytes are served
// where they lie, never copied into sectors, and nothing is repaired.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/drive.h"

namespace fuzz {

inline constexpr char kSparseMagic[8] = {'Q', 'S', 'P', 'A', 'R', 'S', 'E', '1'};
inline constexpr size_t kSparseHeaderSize = sizeof kSparseMagic + 1 + 8;
inline constexpr uint8_t kRepairChecksums = 0x01;
inline constexpr uint64_t kMaxSparseSectors = uint64_t{1} << 40;  // 512 TiB
inline constexpr size_t kSectorSize = 512;

struct SparseImage {
    uint64_t total_sectors = 1;
    uint8_t flags = 0;
    std::map<uint64_t, std::vector<uint8_t>> sectors;  // sector number -> 512 bytes
};

// A raw image's bytes; whoever attaches it keeps them alive while the drive serves them.
struct RawImage {
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint64_t total_sectors() const { return (uint64_t{size} + kSectorSize - 1) / kSectorSize; }
};

// True when the input carries the sparse magic; anything else is a raw image.
bool is_sparse_input(const uint8_t* data, size_t size);
// A sparse input; without the magic the result is a single zero sector.
SparseImage parse_sparse_image(const uint8_t* data, size_t size);
// The non-zero sectors as runs; parse_sparse_image(encode(x)) == x.
std::vector<uint8_t> encode_sparse_image(const SparseImage& image);
// A raw image file's non-zero sectors (holes are skipped without reading them).
bool load_image_file(const std::string& path, SparseImage* image);

// A read-only drive over a sparse or a raw image.
class MemoryDrive final : public platform::Drive {
  public:
    explicit MemoryDrive(std::shared_ptr<const SparseImage> image) : sparse_(std::move(image)) {}
    explicit MemoryDrive(RawImage raw) : raw_(raw) {}
    int geometry(platform::DriveGeometry* out) const override;
    int64_t read_at(uint64_t offset, void* buffer, size_t n) override;

  private:
    uint64_t total_sectors() const {
        return sparse_ ? sparse_->total_sectors : raw_.total_sectors();
    }

    std::shared_ptr<const SparseImage> sparse_;
    RawImage raw_;
};

// While it lives, drive 1 is the image and nothing else is attached; it leaves the disk layer,
// the drive table and the opener as it found them at program start.
class AttachedImage {
  public:
    explicit AttachedImage(std::shared_ptr<const SparseImage> image);
    explicit AttachedImage(RawImage raw);
    ~AttachedImage();
    AttachedImage(const AttachedImage&) = delete;
    AttachedImage& operator=(const AttachedImage&) = delete;
    bool ok() const { return ok_; }

  private:
    template <typename Image>
    void attach(Image image);

    bool ok_ = false;
};

}  // namespace fuzz
