// The split raw reader's piece arithmetic: piece sizes and reads from the input, every plan
// checked against what a read of one whole image would return.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/harness/harness.h"
#include "platform/split_raw.h"

namespace fuzz {
namespace {

// Takes n bytes little-endian from the input; 0 once it runs out.
uint64_t take(const uint8_t*& p, const uint8_t* end, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n && p < end; ++i, ++p) v |= uint64_t{*p} << (8 * i);
    return v;
}

// The plan must cover exactly the bytes a single image holds at offset, in order, each part
// inside its piece and placed right after the one before.
void check_plan(const std::vector<uint64_t>& starts, const std::vector<uint64_t>& sizes,
                uint64_t total, uint64_t offset, size_t n) {
    const std::vector<platform::PieceRead> plan = platform::plan_piece_reads(starts, sizes, offset, n);
    const uint64_t want = offset >= total ? 0 : std::min<uint64_t>(n, total - offset);
    uint64_t done = 0;
    size_t last_piece = 0;
    for (size_t i = 0; i < plan.size(); ++i) {
        const platform::PieceRead& r = plan[i];
        if (r.piece >= sizes.size() || r.length == 0) std::abort();
        if (i > 0 && r.piece <= last_piece) std::abort();
        if (r.offset > sizes[r.piece] || r.length > sizes[r.piece] - r.offset) std::abort();
        if (r.buffer_offset != done) std::abort();
        // The image byte this part starts at is where the read has got to.
        if (starts[r.piece] + r.offset != offset + done) std::abort();
        if (i > 0 && r.offset != 0) std::abort();
        done += r.length;
        last_piece = r.piece;
    }
    if (done != want) std::abort();
}

}  // namespace

int split_raw(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    // Byte 0: piece count (1..32) and whether sizes take 8 bytes (room for overflow) or 2.
    const uint64_t head = take(p, end, 1);
    const size_t count = 1 + (head & 31);
    const size_t width = (head & 0x80) != 0 ? 8 : 2;
    std::vector<uint64_t> sizes;
    for (size_t i = 0; i < count; ++i) sizes.push_back(take(p, end, width));
    std::vector<uint64_t> starts;
    uint64_t total = 0;
    if (!platform::piece_starts(sizes, &starts, &total)) return 0;
    // Then reads: offset (relative to the end when its top bit is set) and length, 6 bytes each.
    for (int i = 0; i < 256 && p < end; ++i) {
        const uint64_t raw = take(p, end, 4);
        const size_t n = static_cast<size_t>(take(p, end, 2)) * 7;
        const uint64_t back = raw & 0x7FFFFFFF;
        const uint64_t offset = (raw & 0x80000000u) != 0 ? (back > total ? 0 : total - back) : back;
        check_plan(starts, sizes, total, offset, n);
    }
    check_plan(starts, sizes, total, 0, static_cast<size_t>(std::min<uint64_t>(total, 1u << 20)));
    return 0;
}

}  // namespace fuzz
