// Reads a channel file for the check by byte offsets from the head of its stored data, telling
// the end of the stored data from a read failure, and finds the next start bits behind damage.
// Every call takes the storage API's lock for its own length only.
#pragma once

#include <cstdint>
#include <functional>

namespace recover {

class CheckReader {
public:
    // keep_going(offset) is asked between chunks of a long search; false stops it. Failures
    // past `size` (the channel's bytes as its information record gives them) end a search, so
    // that a tail that cannot be reached does not keep it going.
    CheckReader(int32_t fd, uint64_t size, std::function<bool(uint64_t)> keep_going);

    struct Result {
        int32_t got = 0;    // bytes delivered from the offset on
        int32_t error = 0;  // negative: a failure stopped the read; 0: done, or the end came
    };
    Result read(uint64_t offset, uint8_t* buffer, int32_t length);

    struct Found {
        bool found = false;
        uint64_t offset = 0;  // where the start bits stand, or the end of the stored data
        bool stopped = false;  // keep_going said no
    };
    // The first start bits at or after `from`; unreadable stretches are stepped over.
    Found find_start_bits(uint64_t from);

    // The image byte of a channel offset; 0 when none names it.
    uint64_t image_offset(uint64_t offset);

private:
    int32_t seek(uint64_t offset);

    int32_t fd_;
    uint64_t size_;
    std::function<bool(uint64_t)> keep_going_;
    uint64_t position_ = 0;
    bool position_known_ = true;  // a fresh descriptor stands at the head
};

}  // namespace recover
