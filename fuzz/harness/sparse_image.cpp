#include "fuzz/harness/sparse_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "disk/disk_i.h"

namespace fuzz {
namespace {

constexpr const char* kImagePath = "/fuzz/memory-image";

uint64_t get_le(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

void put_le(std::vector<uint8_t>* out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool all_zero(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

}  // namespace

bool is_sparse_input(const uint8_t* data, size_t size) {
    return size >= sizeof kSparseMagic && std::memcmp(data, kSparseMagic, sizeof kSparseMagic) == 0;
}

SparseImage parse_sparse_image(const uint8_t* data, size_t size) {
    SparseImage image;
    if (!is_sparse_input(data, size)) return image;
    size_t at = sizeof kSparseMagic;
    if (size - at < 1) return image;
    image.flags = data[at++];
    if (size - at < 8) return image;
    image.total_sectors = std::clamp<uint64_t>(get_le(data + at, 8), 1, kMaxSparseSectors);
    at += 8;
    while (size - at >= 10) {
        const uint64_t first = get_le(data + at, 8);
        const uint64_t count = get_le(data + at + 8, 2);
        at += 10;
        // Only sectors the input actually carries are stored: a long run costs input bytes.
        for (uint64_t i = 0; i < count && at < size && first + i >= first; ++i) {
            std::vector<uint8_t> sector(kSectorSize, 0);
            const size_t n = std::min(kSectorSize, size - at);
            std::memcpy(sector.data(), data + at, n);
            at += n;
            // Sectors past the end could never be read; dropping them keeps offsets in range.
            if (first + i < image.total_sectors) image.sectors[first + i] = std::move(sector);
        }
    }
    return image;
}

std::vector<uint8_t> encode_sparse_image(const SparseImage& image) {
    std::vector<uint8_t> out(kSparseMagic, kSparseMagic + sizeof kSparseMagic);
    out.push_back(image.flags);
    put_le(&out, image.total_sectors, 8);
    auto it = image.sectors.begin();
    while (it != image.sectors.end()) {
        const uint64_t first = it->first;
        uint64_t count = 0;
        auto run = it;
        while (run != image.sectors.end() && run->first == first + count && count < 0xFFFF) {
            ++count;
            ++run;
        }
        put_le(&out, first, 8);
        put_le(&out, count, 2);
        for (; it != run; ++it) out.insert(out.end(), it->second.begin(), it->second.end());
    }
    return out;
}

bool load_image_file(const std::string& path, SparseImage* image) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    image->total_sectors = static_cast<uint64_t>(st.st_size) / kSectorSize;
    image->sectors.clear();
    std::vector<uint8_t> buffer(1 << 20);
    off_t at = 0;
    bool ok = true;
    while (at < st.st_size) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;  // only a hole is left
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) hole = st.st_size;
        for (off_t pos = data / 512 * 512; pos < hole;) {
            const size_t want = static_cast<size_t>(std::min<off_t>(hole - pos, 1 << 20));
            const ssize_t got = ::pread(fd, buffer.data(), want, pos);
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            for (size_t s = 0; s + kSectorSize <= static_cast<size_t>(got); s += kSectorSize) {
                if (!all_zero(buffer.data() + s, kSectorSize)) {
                    image->sectors[static_cast<uint64_t>(pos + static_cast<off_t>(s)) / kSectorSize]
                        .assign(buffer.data() + s, buffer.data() + s + kSectorSize);
                }
            }
            pos += got;
        }
        if (!ok) break;
        at = hole;
    }
    ::close(fd);
    return ok;
}

int MemoryDrive::geometry(platform::DriveGeometry* out) const {
    *out = platform::synthesise_geometry(total_sectors(), platform::kMediaFixed);
    return 0;
}

int64_t MemoryDrive::read_at(uint64_t offset, void* buffer, size_t n) {
    const uint64_t end_of_drive = total_sectors() * kSectorSize;
    if (offset >= end_of_drive) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, end_of_drive - offset));
    auto* out = static_cast<uint8_t*>(buffer);
    if (!sparse_) {
        // Only the partial last sector lies past the input's bytes.
        const size_t have = offset < raw_.size ? std::min<size_t>(n, raw_.size - offset) : 0;
        if (have > 0) std::memcpy(out, raw_.data + offset, have);
        std::memset(out + have, 0, n - have);
        return static_cast<int64_t>(n);
    }
    std::memset(out, 0, n);
    const uint64_t end = offset + n;
    for (auto it = sparse_->sectors.lower_bound(offset / kSectorSize);
         it != sparse_->sectors.end() && it->first * kSectorSize < end; ++it) {
        const uint64_t from = it->first * kSectorSize;
        const uint64_t lo = std::max(from, offset), hi = std::min(from + kSectorSize, end);
        if (lo < hi) std::memcpy(out + (lo - offset), it->second.data() + (lo - from), hi - lo);
    }
    return static_cast<int64_t>(n);
}

template <typename Image>
void AttachedImage::attach(Image image) {
    disk_layer_reset();
    platform::detach_all();
    platform::set_drive_opener([image](const char* path) -> std::unique_ptr<platform::Drive> {
        if (std::strcmp(path, kImagePath) != 0) return nullptr;
        return std::make_unique<MemoryDrive>(image);
    });
    ok_ = platform::attach_image(kImagePath) == 1;
}

AttachedImage::AttachedImage(std::shared_ptr<const SparseImage> image) {
    attach(std::move(image));
}

AttachedImage::AttachedImage(RawImage raw) {
    attach(raw);
}

AttachedImage::~AttachedImage() {
    disk_layer_reset();
    platform::detach_all();
    platform::set_drive_opener({});
}

}  // namespace fuzz
