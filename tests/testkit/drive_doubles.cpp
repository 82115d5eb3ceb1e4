#include "tests/testkit/drive_doubles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "disk/disk_i.h"

namespace testkit {
namespace {

class FileDrive final : public platform::Drive {
public:
    explicit FileDrive(int fd) : fd_(fd) {}
    ~FileDrive() override { ::close(fd_); }
    FileDrive(const FileDrive&) = delete;
    FileDrive& operator=(const FileDrive&) = delete;

    int geometry(platform::DriveGeometry* out) const override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
        *out = platform::synthesise_geometry(static_cast<uint64_t>(st.st_size) / 512,
                                             platform::kMediaFixed);
        return 0;
    }
    int64_t read_at(uint64_t offset, void* buffer, size_t n) override {
        ssize_t r = ::pread(fd_, buffer, n, static_cast<off_t>(offset));
        return r < 0 ? -1 : static_cast<int64_t>(r);
    }

private:
    int fd_;
};

}  // namespace

int64_t CountingDrive::read_at(uint64_t offset, void* buffer, size_t n) {
    log_->push_back(offset / 512);
    return inner_->read_at(offset, buffer, n);
}

int GeometryDrive::geometry(platform::DriveGeometry* out) const {
    if (rc_ == 0) *out = geometry_;
    return rc_;
}

std::unique_ptr<platform::Drive> open_file_drive(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<FileDrive>(fd);
}

ReadLog install_counting_drive(const std::string& path, uint64_t origin) {
    auto log = std::make_shared<std::vector<uint64_t>>();
    auto real = platform::open_drive(path.c_str());
    EXPECT_NE(real, nullptr) << path;
    if (!real) return log;
    disk_state().drive = std::make_unique<CountingDrive>(std::move(real), log);
    disk_state().origin = origin;
    return log;
}

}  // namespace testkit
