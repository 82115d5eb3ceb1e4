#include "tests/testkit/image_tools.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace testkit {

sample::ImageSummary build_image(const TempDir& dir, const std::string& name,
                                 const sample::DiskSpec& spec) {
    sample::ImageSummary summary;
    std::string error;
    EXPECT_EQ(sample::write_image(dir.file(name), spec, &summary, &error), 0) << error;
    if (summary.path.empty()) summary.path = dir.file(name);
    return summary;
}

std::vector<uint8_t> read_sector(const std::string& path, uint64_t sector) {
    std::vector<uint8_t> out(kSectorSize, 0);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return out;
    }
    ssize_t r = ::pread(fd, out.data(), out.size(), static_cast<off_t>(sector * kSectorSize));
    if (r < 0) ADD_FAILURE() << "cannot read " << path;
    ::close(fd);
    return out;
}

void write_bytes(const std::string& path, uint64_t offset, const void* data, size_t n) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << "cannot open " << path;
    ssize_t w = ::pwrite(fd, data, n, static_cast<off_t>(offset));
    ::close(fd);
    ASSERT_EQ(w, static_cast<ssize_t>(n));
}

uint32_t word_sum(const uint8_t* data, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= n; i += 4) {
        sum += uint32_t{data[i]} | uint32_t{data[i + 1]} << 8 | uint32_t{data[i + 2]} << 16 |
               uint32_t{data[i + 3]} << 24;
    }
    return sum;
}

void patch_recorder_sb(const std::string& path, uint64_t sector,
                       const std::function<void(DvrSuperBlock&)>& edit, bool rebalance) {
    std::vector<uint8_t> s = read_sector(path, sector);
    DvrSuperBlock sb;
    std::memcpy(&sb, s.data(), sizeof sb);
    edit(sb);
    std::memcpy(s.data(), &sb, sizeof sb);
    if (rebalance) {
        sb.unused2 -= word_sum(s.data(), sizeof sb);
        std::memcpy(s.data(), &sb, sizeof sb);
    }
    write_bytes(path, sector * kSectorSize, s.data(), sizeof sb);
}

void patch_backup_sb(const std::string& path, uint64_t sector,
                     const std::function<void(BackupSuperBlock&)>& edit, bool rebalance) {
    std::vector<uint8_t> s = read_sector(path, sector);
    BackupSuperBlock sb;
    std::memcpy(&sb, s.data(), sizeof sb);
    edit(sb);
    std::memcpy(s.data(), &sb, sizeof sb);
    if (rebalance) {
        sb.checksum -= word_sum(s.data(), sizeof sb);
        std::memcpy(s.data(), &sb, sizeof sb);
    }
    write_bytes(path, sector * kSectorSize, s.data(), sizeof sb);
}

std::vector<int> fds_open_on(const std::string& path) {
    std::vector<int> fds;
    std::error_code ec;
    const auto target = std::filesystem::canonical(path, ec);
    if (ec) return fds;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code link_ec;
        auto link = std::filesystem::read_symlink(e.path(), link_ec);
        if (!link_ec && link == target) fds.push_back(std::stoi(e.path().filename().string()));
    }
    return fds;
}

int fd_access_mode(int fd) {
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("flags:", 0) != 0) continue;
        std::istringstream in(line.substr(6));
        unsigned long flags = 0;
        in >> std::oct >> flags;  // the kernel prints the open flags in octal
        if (!in) return -1;
        return static_cast<int>(flags & O_ACCMODE);
    }
    return -1;
}

}  // namespace testkit
