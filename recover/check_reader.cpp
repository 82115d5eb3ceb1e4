#include "recover/check_reader.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "disk/disk.h"
#include "playback/record_format.h"
#include "storage/api_state.h"

namespace recover {
namespace {

constexpr int32_t kSearchChunk = 64 * 1024;
// Unreadable stretches are stepped over a sector at first, in growing steps when they go on,
// so that a long hole costs few reads and a short one hides little readable data.
constexpr uint64_t kFirstStep = 512;
constexpr uint64_t kLongestStep = 64 * 1024;

// Where the start bits stand in a buffer, or -1.
int64_t start_bits_in(const uint8_t* data, int32_t length) {
    uint8_t word[4];
    const uint32_t bits = kStartBits;
    std::memcpy(word, &bits, sizeof word);
    for (int32_t i = 0; i + 4 <= length; ++i) {
        if (std::memcmp(data + i, word, sizeof word) == 0) return i;
    }
    return -1;
}

}  // namespace

CheckReader::CheckReader(int32_t fd, uint64_t size, std::function<bool(uint64_t)> keep_going)
    : fd_(fd), size_(size), keep_going_(std::move(keep_going)) {}

int32_t CheckReader::seek(uint64_t offset) {
    if (position_known_ && offset == position_) return 0;
    if (offset > static_cast<uint64_t>(INT64_MAX)) return DVR_EINVAL;
    int32_t rc;
    if (position_known_ && offset > position_) {
        rc = backup_lseek(fd_, static_cast<int64_t>(offset - position_), SEEK_CURRENT);
    } else {
        rc = backup_lseek(fd_, static_cast<int64_t>(offset), SEEK_HEAD);
    }
    position_known_ = rc == 0;
    position_ = offset;
    return rc;
}

CheckReader::Result CheckReader::read(uint64_t offset, uint8_t* buffer, int32_t length) {
    std::lock_guard<std::mutex> guard(api_state().lock);
    Result r;
    r.error = seek(offset);
    if (r.error != 0) return r;
    while (r.got < length) {
        const int32_t n = backup_read(fd_, buffer + r.got, length - r.got);
        if (n < 0) {
            r.error = n;
            break;
        }
        if (n == 0) {
            // A seek beyond the end stops at the end: where the descriptor stands is not known.
            position_known_ = position_known_ && r.got > 0;
            break;
        }
        r.got += n;
        position_ += static_cast<uint64_t>(n);
    }
    return r;
}

CheckReader::Found CheckReader::find_start_bits(uint64_t from) {
    std::vector<uint8_t> chunk(kSearchChunk);
    uint64_t at = from;
    uint64_t step = kFirstStep;
    for (;;) {
        if (keep_going_ && !keep_going_(at)) return Found{false, at, true};
        const Result r = read(at, chunk.data(), kSearchChunk);
        const int64_t hit = start_bits_in(chunk.data(), r.got);
        if (hit >= 0) return Found{true, at + static_cast<uint64_t>(hit), false};
        if (r.error == 0 && r.got < kSearchChunk) {
            return Found{false, at + static_cast<uint64_t>(r.got), false};  // the end
        }
        if (r.got >= 4) {
            // The next chunk overlaps by three bytes: start bits may straddle the two.
            at += static_cast<uint64_t>(r.got) - 3;
            step = kFirstStep;
        } else {
            if (at >= size_) return Found{false, at, false};
            at += std::max<uint64_t>(static_cast<uint64_t>(r.got), step);
            step = std::min(step * 2, kLongestStep);
        }
    }
}

uint64_t CheckReader::image_offset(uint64_t offset) {
    std::lock_guard<std::mutex> guard(api_state().lock);
    uint64_t image = 0;
    if (seek(offset) != 0 || backup_image_offset(fd_, &image) != 0) return 0;
    return image;
}

}  // namespace recover
