#include "tools/sample/image_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sample {

ImageWriter::~ImageWriter() { close(); }

bool ImageWriter::create(const std::string& path, uint64_t total_sectors) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    total_sectors_ = total_sectors;
    if (::ftruncate(fd_, static_cast<off_t>(total_sectors * 512)) != 0) {
        error_ = "cannot size " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ImageWriter::write(uint64_t sector, const void* data, size_t bytes) {
    if (!ok()) return;
    if (sector >= total_sectors_ || bytes > (total_sectors_ - sector) * 512) {
        error_ = "write beyond the end of the image at sector " + std::to_string(sector);
        return;
    }
    const auto* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < bytes) {
        ssize_t w = ::pwrite(fd_, p + done, bytes - done, static_cast<off_t>(sector * 512 + done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            error_ = std::string("write failed: ") + std::strerror(errno);
            return;
        }
        done += static_cast<size_t>(w);
    }
}

void ImageWriter::end_at(uint64_t sector) {
    if (sector < end_sector_) end_sector_ = sector;
}

bool ImageWriter::close() {
    if (fd_ >= 0 && ok() && end_sector_ < total_sectors_ &&
        ::ftruncate(fd_, static_cast<off_t>(end_sector_ * 512)) != 0) {
        error_ = std::string("cannot cut the image short: ") + std::strerror(errno);
    }
    if (fd_ >= 0) {
        if (::close(fd_) != 0 && ok()) error_ = std::string("close failed: ") + std::strerror(errno);
        fd_ = -1;
    }
    return ok();
}

void seal_words(void* data, size_t n, size_t checksum_offset) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::memset(bytes + checksum_offset, 0, 4);
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= n; i += 4) {
        uint32_t w;
        std::memcpy(&w, bytes + i, 4);
        sum += w;
    }
    const uint32_t balance = 0u - sum;
    std::memcpy(bytes + checksum_offset, &balance, 4);
}

}  // namespace sample
