// A sparse image file written sector by sector: only the sectors written take disk space.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sample {

class ImageWriter {
public:
    ImageWriter() = default;
    ~ImageWriter();
    ImageWriter(const ImageWriter&) = delete;
    ImageWriter& operator=(const ImageWriter&) = delete;

    // Creates (or truncates) the file and sets its size; false with error() on failure.
    bool create(const std::string& path, uint64_t total_sectors);
    // Writes bytes at the start of the sector. The first failure is kept; later writes are
    // skipped, so a builder can write everything and check ok() once.
    void write(uint64_t sector, const void* data, size_t bytes);
    // The file ends at this sector when it is closed, as a copy cut short there; the earliest
    // of several wins.
    void end_at(uint64_t sector);
    bool close();

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    uint64_t total_sectors() const { return total_sectors_; }

private:
    int fd_ = -1;
    uint64_t total_sectors_ = 0;
    uint64_t end_sector_ = UINT64_MAX;
    std::string error_;
};

// Sets the checksum word so that the structure's n / 4 little-endian words sum to zero.
void seal_words(void* data, size_t n, size_t checksum_offset);

}  // namespace sample
