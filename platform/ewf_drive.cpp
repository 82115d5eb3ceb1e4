// E01 segment sets as drives: libewf opens the whole set read-only and reads the media.
#include <fcntl.h>
#include <libewf.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

#include "platform/ewf.h"

namespace platform {
namespace {

// The largest sector and chunk of any acquisition: 32768 sectors of 4 KiB a chunk.
constexpr uint32_t kMaxSectorBytes = 4096;
constexpr uint32_t kMaxChunkBytes = 32768u * 4096u;

std::string take_error(libewf_error_t** error) {
    if (error == nullptr || *error == nullptr) return "unknown libewf error";
    char text[512] = {};
    // The whole chain, the root cause first: the last frame alone only says that opening failed.
    if (libewf_error_backtrace_sprint(*error, text, sizeof text) < 0) text[0] = '\0';
    libewf_error_free(error);
    std::string s(text);
    // libewf ends each frame of its backtrace with a newline; one message wants one line.
    for (size_t at = s.find('\n'); at != std::string::npos; at = s.find('\n', at)) {
        s.replace(at, 1, at + 1 < s.size() ? "; " : "");
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s.empty() ? "unknown libewf error" : s;
}

class Glob {
public:
    Glob() = default;
    ~Glob() {
        if (names_ != nullptr) libewf_glob_free(names_, count_, nullptr);
    }
    Glob(const Glob&) = delete;
    Glob& operator=(const Glob&) = delete;

    bool find(const std::string& path, std::string* why) {
        libewf_error_t* error = nullptr;
        if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names_, &count_,
                        &error) != 1) {
            *why = take_error(&error);
            names_ = nullptr;
            count_ = 0;
            return false;
        }
        return count_ > 0;
    }
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

    bool open(const Glob& glob, std::string* why) {
        libewf_error_t* error = nullptr;
        // No limit on open segments: libewf 20140813 refuses to open with one set first, and with
        // one set after opening it reads every chunk wrong (caught only by the checksums).
        if (libewf_handle_initialize(&handle_, &error) != 1 ||
            libewf_handle_open(handle_, glob.names(), glob.count(), LIBEWF_OPEN_READ, &error) != 1) {
            *why = take_error(&error);
            return false;
        }
        open_ = true;
        size64_t size = 0;
        if (libewf_handle_get_media_size(handle_, &size, &error) != 1) {
            *why = take_error(&error);
            return false;
        }
        media_size_ = size;
        uint32_t sector_bytes = 0;
        size32_t chunk_bytes = 0;
        if (libewf_handle_get_bytes_per_sector(handle_, &sector_bytes, &error) != 1 ||
            libewf_handle_get_chunk_size(handle_, &chunk_bytes, &error) != 1) {
            *why = take_error(&error);
            return false;
        }
        // libewf allocates a chunk's buffer from the sizes the first segment states: a damaged
        // header must not make every read ask for gigabytes.
        if (sector_bytes == 0 || sector_bytes > kMaxSectorBytes || chunk_bytes == 0 ||
            chunk_bytes > kMaxChunkBytes) {
            *why = "sectors of " + std::to_string(sector_bytes) + " bytes in chunks of " +
                   std::to_string(chunk_bytes) + " bytes: no acquisition writes those";
            return false;
        }
        bytes_per_sector_ = sector_bytes;
        return true;
    }
    libewf_handle_t* get() const { return handle_; }
    uint64_t media_size() const { return media_size_; }
    // The unit of libewf's checksum error ranges.
    uint32_t bytes_per_sector() const { return bytes_per_sector_; }
    // Segments missing from the end of the set or cut short.
    bool corrupted() const { return libewf_handle_segment_files_corrupted(handle_, nullptr) == 1; }

private:
    libewf_handle_t* handle_ = nullptr;
    bool open_ = false;
    uint64_t media_size_ = 0;
    uint32_t bytes_per_sector_ = 512;
};

class EwfDrive final : public Drive {
public:
    explicit EwfDrive(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

    int geometry(DriveGeometry* out) const override {
        *out = synthesise_geometry(handle_->media_size() / 512, kMediaFixed);
        return 0;
    }

    int64_t read_at(uint64_t offset, void* buffer, size_t n) override {
        std::lock_guard<std::mutex> guard(lock_);
        const uint64_t size = handle_->media_size();
        if (offset >= size) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, size - offset));
        // A chunk known bad is not asked for again: libewf would only fail it again, and for a
        // chunk of a missing segment it leaks the chunk's buffer each time.
        if (const auto bad = first_bad(offset, offset + n); bad < offset + n) {
            detail_ = bad_chunk_text(bad);
            return -1;
        }
        libewf_error_t* error = nullptr;
        const ssize_t got = libewf_handle_read_random(handle_->get(), buffer, n,
                                                      static_cast<off64_t>(offset), &error);
        if (got < 0) {
            detail_ = take_error(&error);
            return -1;
        }
        // libewf hands out a chunk whose checksum failed (or that a missing segment should have
        // held) as if it were good and only counts it: such bytes are no evidence.
        note_checksum_errors();
        const uint64_t end = offset + static_cast<uint64_t>(got);
        if (const auto bad = first_bad(offset, end); bad < end) {
            detail_ = bad_chunk_text(bad);
            return -1;
        }
        return static_cast<int64_t>(got);
    }

    std::string error_detail() const override {
        std::lock_guard<std::mutex> guard(lock_);
        return detail_;
    }

private:
    static std::string bad_chunk_text(uint64_t byte) {
        return "the chunk at byte " + std::to_string(byte) + " fails its checksum or is missing";
    }

    // libewf merges a new bad range into the one before it, so the count alone can stand still
    // while a range grows: every range is read again after each read that may have added one.
    void note_checksum_errors() {
        uint32_t count = 0;
        if (libewf_handle_get_number_of_checksum_errors(handle_->get(), &count, nullptr) != 1) return;
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t sector = 0, sectors = 0;
            if (libewf_handle_get_checksum_error(handle_->get(), i, &sector, &sectors, nullptr) != 1) {
                continue;
            }
            // Sectors of the media's own size; a range past any byte offset is cut at the end.
            const uint64_t bytes = handle_->bytes_per_sector();
            const uint64_t limit = UINT64_MAX / bytes;
            const uint64_t first = std::min(sector, limit);
            const uint64_t from = first * bytes;
            const uint64_t to = (first + std::min(sectors, limit - first)) * bytes;
            if (to > from) bad_[from] = std::max(bad_[from], to);
        }
        // Overlapping ranges become one, so that a lookup needs only the range before it.
        for (auto it = bad_.begin(); it != bad_.end();) {
            auto next = std::next(it);
            if (next != bad_.end() && next->first <= it->second) {
                it->second = std::max(it->second, next->second);
                bad_.erase(next);
            } else {
                it = next;
            }
        }
    }

    // The first byte of [from, to) inside a chunk known bad; to when there is none.
    uint64_t first_bad(uint64_t from, uint64_t to) const {
        auto it = bad_.upper_bound(from);
        if (it != bad_.begin()) {
            auto before = std::prev(it);
            if (before->second > from) return from;
        }
        return it != bad_.end() && it->first < to ? it->first : to;
    }

    std::unique_ptr<Handle> handle_;
    mutable std::mutex lock_;          // one libewf handle, one reader at a time
    std::map<uint64_t, uint64_t> bad_;  // byte ranges of failed chunks: start to end
    std::string detail_;
};

std::string header_value(libewf_handle_t* h, const char* id) {
    uint8_t value[512] = {};
    if (libewf_handle_get_utf8_header_value(h, reinterpret_cast<const uint8_t*>(id),
                                            std::strlen(id), value, sizeof value, nullptr) != 1) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), sizeof value));
}

std::string hash_value(libewf_handle_t* h, const char* id) {
    uint8_t value[128] = {};
    if (libewf_handle_get_utf8_hash_value(h, reinterpret_cast<const uint8_t*>(id), std::strlen(id),
                                          value, sizeof value, nullptr) != 1) {
        return {};
    }
    std::string s(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), sizeof value));
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c; });
    return s;
}

}  // namespace

bool has_ewf_signature(int fd) {
    // The first segment's file signature: EWF (E01) and its second version (Ex01).
    static const uint8_t kEwf1[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
    static const uint8_t kEwf2[8] = {'E', 'V', 'F', '2', 0x0D, 0x0A, 0x81, 0x00};
    uint8_t head[8] = {};
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return false;
    return std::memcmp(head, kEwf1, sizeof head) == 0 || std::memcmp(head, kEwf2, sizeof head) == 0;
}

bool is_ewf_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    const bool ewf = has_ewf_signature(fd);
    ::close(fd);
    return ewf;
}

std::vector<std::string> ewf_segments(const std::string& path) {
    Glob glob;
    std::string why;
    return glob.find(path, &why) ? glob.list() : std::vector<std::string>{};
}

std::unique_ptr<Drive> open_ewf(const std::string& path, std::string* why) {
    Glob glob;
    std::string reason = "no segments found";
    auto handle = std::make_unique<Handle>();
    if (!glob.find(path, &reason) || !handle->open(glob, &reason)) {
        if (why != nullptr) *why = reason;
        return nullptr;
    }
    return std::make_unique<EwfDrive>(std::move(handle));
}

int describe_ewf(const std::string& path, ContainerInfo* info) {
    Glob glob;
    std::string why;
    Handle handle;
    if (!glob.find(path, &why) || !handle.open(glob, &why)) return -1;
    info->kind = ContainerKind::kEwf;
    info->files = glob.list();
    info->incomplete = handle.corrupted();
    libewf_handle_t* h = handle.get();
    libewf_handle_set_header_values_date_format(h, LIBEWF_DATE_FORMAT_ISO8601, nullptr);
    info->case_number = header_value(h, "case_number");
    info->evidence_number = header_value(h, "evidence_number");
    info->examiner = header_value(h, "examiner_name");
    info->description = header_value(h, "description");
    info->notes = header_value(h, "notes");
    info->acquisition_date = header_value(h, "acquiry_date");
    info->md5 = hash_value(h, "MD5");
    info->sha1 = hash_value(h, "SHA1");
    return 0;
}

}  // namespace platform
