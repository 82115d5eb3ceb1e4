// Internals of the E01 drive shared by its files: libewf's glob and handle with their cleanup.
// Only platform sources include this; no public header of ours includes libewf.
#pragma once

#include <libewf.h>

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// libewf's error chain as one line, the root cause first; frees the error.
std::string take_error(libewf_error_t** error);

// The segment names of a set; freed with the object.
class Glob {
public:
    Glob() = default;
    ~Glob() {
        if (names_ != nullptr) libewf_glob_free(names_, count_, nullptr);
    }
    Glob(const Glob&) = delete;
    Glob& operator=(const Glob&) = delete;

    // The segments next to path, as libewf finds them; false with the reason when there are none.
    bool find(const std::string& path, std::string* why);
    char** names() const { return names_; }
    int count() const { return count_; }
    std::vector<std::string> list() const { return {names_, names_ + count_}; }

private:
    char** names_ = nullptr;
    int count_ = 0;
};

// An open segment set; closes and frees the handle when it goes.
class Handle {
public:
    Handle() = default;
    ~Handle() {
        if (handle_ == nullptr) return;
        if (open_) libewf_handle_close(handle_, nullptr);
        libewf_handle_free(&handle_, nullptr);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    // Opens the globbed set read-only; false with libewf's reason, or ours for sizes no
    // acquisition writes.
    bool open(const Glob& glob, std::string* why);
    libewf_handle_t* get() const { return handle_; }
    uint64_t media_size() const { return media_size_; }
    // The unit of libewf's checksum error ranges.
    uint32_t bytes_per_sector() const { return bytes_per_sector_; }
    // Segments missing from the end of the set or cut short.
    bool corrupted() const { return libewf_handle_segment_files_corrupted(handle_, nullptr) == 1; }

private:
    // Media size, sector size and chunk size, with the check of the last two.
    bool read_sizes(std::string* why);

    libewf_handle_t* handle_ = nullptr;
    bool open_ = false;
    uint64_t media_size_ = 0;
    uint32_t bytes_per_sector_ = 512;
};

}  // namespace platform
