// E01 segment sets as drives: libewf opens the whole set read-only and reads the media.
#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>

#include "platform/ewf.h"
#include "platform/ewf_set_i.h"

namespace platform {
namespace {

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

}  // namespace

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

}  // namespace platform
