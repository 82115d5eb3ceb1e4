// Names of the pieces of a split raw image and the split of a read across them.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "platform/split_raw.h"

namespace platform {
namespace {

// More pieces than this is no image anyone made; it also bounds the walk over a folder.
constexpr size_t kMaxPieces = 100000;
// How far past the end of the run of pieces a later piece is looked for.
constexpr size_t kGapLookahead = 16;

bool is_regular_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The number's digits after the last dot; npos when the name does not end in ".ddd...".
size_t digits_start(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::string::npos;
    }
    const size_t first = dot + 1;
    if (path.size() - first < 3 || path.size() - first > 9) return std::string::npos;
    for (size_t i = first; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') return std::string::npos;
    }
    return first;
}

// stem + number, zero-padded to at least width digits, as split and imaging tools name pieces.
std::string piece_name(const std::string& stem, size_t number, size_t width) {
    std::string digits = std::to_string(number);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return stem + digits;
}

}  // namespace

bool piece_starts(const std::vector<uint64_t>& sizes, std::vector<uint64_t>* starts,
                  uint64_t* total) {
    constexpr uint64_t kMaxBytes = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    starts->clear();
    starts->reserve(sizes.size());
    uint64_t at = 0;
    for (uint64_t size : sizes) {
        if (size > kMaxBytes - at) return false;
        starts->push_back(at);
        at += size;
    }
    *total = at;
    return true;
}

std::vector<PieceRead> plan_piece_reads(const std::vector<uint64_t>& starts,
                                        const std::vector<uint64_t>& sizes, uint64_t offset,
                                        size_t n) {
    std::vector<PieceRead> plan;
    if (starts.size() != sizes.size() || starts.empty() || n == 0) return plan;
    // The last piece whose start is at or before the offset holds it, if it reaches that far.
    auto it = std::upper_bound(starts.begin(), starts.end(), offset);
    if (it == starts.begin()) return plan;
    size_t piece = static_cast<size_t>(it - starts.begin()) - 1;
    size_t done = 0;
    uint64_t at = offset;
    for (; piece < sizes.size() && done < n; ++piece) {
        const uint64_t end = starts[piece] + sizes[piece];
        if (at >= end) continue;  // an empty piece, or the offset lies past this one
        const uint64_t inside = at - starts[piece];
        const uint64_t room = sizes[piece] - inside;
        const size_t take = static_cast<size_t>(std::min<uint64_t>(room, n - done));
        plan.push_back({piece, inside, take, done});
        done += take;
        at += take;
    }
    return plan;
}

std::vector<std::string> split_raw_pieces(const std::string& path) {
    const size_t first = digits_start(path);
    if (first == std::string::npos || std::stoul(path.substr(first)) != 1) return {};
    const std::string stem = path.substr(0, first);
    const size_t width = path.size() - first;
    std::vector<std::string> pieces{path};
    while (pieces.size() < kMaxPieces) {
        std::string next = piece_name(stem, pieces.size() + 1, width);
        if (!is_regular_file(next)) break;
        pieces.push_back(std::move(next));
    }
    if (pieces.size() < 2) return {};
    return pieces;
}

std::string split_raw_gap(const std::string& path) {
    const std::vector<std::string> pieces = split_raw_pieces(path);
    if (pieces.empty()) return {};
    const size_t first = digits_start(path);
    const std::string stem = path.substr(0, first);
    const size_t width = path.size() - first;
    for (size_t n = pieces.size() + 2; n <= pieces.size() + 1 + kGapLookahead; ++n) {
        if (is_regular_file(piece_name(stem, n, width))) {
            return piece_name(stem, pieces.size() + 1, width);
        }
    }
    return {};
}

}  // namespace platform
