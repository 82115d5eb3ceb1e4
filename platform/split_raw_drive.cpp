// A split raw image as one drive: every piece opened read-only, reads split across pieces.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <list>

#include "platform/split_raw.h"

namespace platform {
namespace {

// Thousands of pieces must not exhaust the process's descriptors: the recently used stay open.
constexpr size_t kMaxOpenPieces = 32;

int open_read_only(const std::string& path) {
    // Evidence: read-only, never created, never written.
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

// Reads up to n bytes at offset; the count, short at the end of the file, or -1.
int64_t pread_all(int fd, char* p, size_t n, uint64_t offset) {
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<int64_t>(done);
}

class SplitRawDrive final : public Drive {
public:
    SplitRawDrive(std::vector<std::string> names, std::vector<uint64_t> sizes,
                  std::vector<uint64_t> starts, uint64_t total)
        : names_(std::move(names)), sizes_(std::move(sizes)), starts_(std::move(starts)),
          total_(total) {}
    ~SplitRawDrive() override {
        for (const OpenPiece& p : open_) ::close(p.fd);
    }
    SplitRawDrive(const SplitRawDrive&) = delete;
    SplitRawDrive& operator=(const SplitRawDrive&) = delete;

    int geometry(DriveGeometry* out) const override {
        *out = synthesise_geometry(total_ / 512, kMediaFixed);
        return 0;
    }

    int64_t read_at(uint64_t offset, void* buffer, size_t n) override {
        auto* p = static_cast<char*>(buffer);
        size_t done = 0;
        for (const PieceRead& r : plan_piece_reads(starts_, sizes_, offset, n)) {
            const int fd = fd_for(r.piece);
            const int64_t got = fd < 0 ? -1 : pread_all(fd, p + r.buffer_offset, r.length, r.offset);
            if (got != static_cast<int64_t>(r.length)) {
                // A piece that fails or has shrunk since it was opened: the bytes before it stand.
                detail_ = "piece " + names_[r.piece] + " at byte " +
                          std::to_string(r.offset + static_cast<uint64_t>(std::max<int64_t>(got, 0)));
                if (got > 0) done += static_cast<size_t>(got);
                return done > 0 ? static_cast<int64_t>(done) : -1;
            }
            done += r.length;
        }
        return static_cast<int64_t>(done);
    }

    std::string error_detail() const override { return detail_; }

    // Takes the descriptor of a piece opened to check it; false when the cache is full.
    bool adopt(size_t piece, int fd) {
        if (open_.size() >= kMaxOpenPieces) return false;
        open_.push_back({piece, fd});
        return true;
    }

private:
    struct OpenPiece {
        size_t piece;
        int fd;
    };

    int fd_for(size_t piece) {
        auto it = std::find_if(open_.begin(), open_.end(),
                               [&](const OpenPiece& p) { return p.piece == piece; });
        if (it != open_.end()) {
            open_.splice(open_.begin(), open_, it);
            return open_.front().fd;
        }
        const int fd = open_read_only(names_[piece]);
        if (fd < 0) return -1;
        if (open_.size() >= kMaxOpenPieces) {
            ::close(open_.back().fd);
            open_.pop_back();
        }
        open_.push_front({piece, fd});
        return fd;
    }

    std::vector<std::string> names_;
    std::vector<uint64_t> sizes_, starts_;
    uint64_t total_;
    std::list<OpenPiece> open_;  // most recently used first
    std::string detail_;
};

}  // namespace

std::unique_ptr<Drive> open_split_raw(const std::vector<std::string>& pieces) {
    std::vector<uint64_t> sizes;
    std::vector<int> fds;
    auto close_all = [&] {
        for (int fd : fds) ::close(fd);
    };
    for (const std::string& name : pieces) {
        const int fd = open_read_only(name);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            if (fd >= 0) ::close(fd);
            close_all();
            return nullptr;
        }
        sizes.push_back(static_cast<uint64_t>(st.st_size));
        fds.push_back(fd);
    }
    std::vector<uint64_t> starts;
    uint64_t total = 0;
    if (!piece_starts(sizes, &starts, &total)) {
        close_all();
        return nullptr;
    }
    auto drive = std::make_unique<SplitRawDrive>(pieces, std::move(sizes), std::move(starts), total);
    for (size_t i = 0; i < fds.size(); ++i) {
        if (!drive->adopt(i, fds[i])) ::close(fds[i]);
    }
    return drive;
}

}  // namespace platform
