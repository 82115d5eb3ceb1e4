// POSIX drive access: open O_RDONLY, size from BLKGETSIZE64 or the file size, pread. Split raw
// and E01 images go to their own drives.
#include "platform/drive.h"

#include "platform/ewf.h"
#include "platform/split_raw.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace platform {
namespace {

// A block device's removable flag lives in /sys/block/NAME/removable.
uint32_t media_type_of(const char* path, const struct stat& st) {
    if (!S_ISBLK(st.st_mode)) return kMediaFixed;
    std::error_code ec;
    auto real = std::filesystem::canonical(path, ec);
    if (ec) return kMediaFixed;
    std::ifstream flag("/sys/block/" + real.filename().string() + "/removable");
    int removable = 0;
    if (flag >> removable && removable == 1) return kMediaRemovable;
    return kMediaFixed;
}

class PosixDrive final : public Drive {
public:
    PosixDrive(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixDrive() override { ::close(fd_); }
    PosixDrive(const PosixDrive&) = delete;
    PosixDrive& operator=(const PosixDrive&) = delete;

    int geometry(DriveGeometry* out) const override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) return -1;
        uint64_t bytes = 0;
        if (S_ISBLK(st.st_mode)) {
            if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) return -1;
        } else if (S_ISREG(st.st_mode)) {
            bytes = static_cast<uint64_t>(st.st_size);
        } else {
            return -1;
        }
        *out = synthesise_geometry(bytes / 512, media_type_of(path_.c_str(), st));
        return 0;
    }

    int64_t read_at(uint64_t offset, void* buffer, size_t n) override {
        auto* p = static_cast<char*>(buffer);
        size_t done = 0;
        while (done < n) {
            if (offset + done > static_cast<uint64_t>(INT64_MAX)) break;
            ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return done > 0 ? static_cast<int64_t>(done) : -1;
            if (r == 0) break;  // end of the drive
            done += static_cast<size_t>(r);
        }
        return static_cast<int64_t>(done);
    }

private:
    int fd_;
    std::string path_;
};

std::unique_ptr<Drive> open_posix(const char* path) {
    // Recorder disks are evidence: read-only, never created, never written.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return nullptr;
    // An image file may be the first of an E01 set or of a split image: those drives open their
    // files themselves.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (has_ewf_signature(fd)) {
            ::close(fd);
            return open_ewf(path);
        }
        if (std::vector<std::string> pieces = split_raw_pieces(path); !pieces.empty()) {
            ::close(fd);
            return split_raw_gap(path).empty() ? open_split_raw(pieces) : nullptr;
        }
    }
    return std::make_unique<PosixDrive>(fd, path);
}

DriveOpener& opener_slot() {
    static DriveOpener opener;
    return opener;
}

}  // namespace

DriveGeometry synthesise_geometry(uint64_t total_sectors, uint32_t media_type) {
    DriveGeometry g;
    g.media_type = media_type;
    g.bytes_per_sector = 512;
    // The largest classic sectors-per-track and heads that divide the count exactly.
    uint32_t spt = 63;
    while (spt > 1 && total_sectors % spt != 0) --spt;
    uint64_t rest = total_sectors / spt;
    uint32_t heads = 255;
    while (heads > 1 && rest % heads != 0) --heads;
    g.sectors_per_track = spt;
    g.tracks_per_cylinder = heads;
    g.cylinders = static_cast<int64_t>(rest / heads);
    return g;
}

std::unique_ptr<Drive> open_drive(const char* path) {
    if (path == nullptr || *path == '\0') return nullptr;
    if (opener_slot()) return opener_slot()(path);
    return open_posix(path);
}

std::unique_ptr<Drive> open_system_drive(const char* path) {
    if (path == nullptr || *path == '\0') return nullptr;
    return open_posix(path);
}

void set_drive_opener(DriveOpener opener) { opener_slot() = std::move(opener); }

}  // namespace platform
