// read: raw bytes of a channel from a byte offset, a stored position or a recorder time.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

#include "storage/api.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"

namespace cli {
namespace {

constexpr int32_t kChunk = 1 << 20;

// "BLOCK:OFFSET" as a position.
std::optional<ChannelPosition> parse_position(const std::string& text) {
    ChannelPosition p{};
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const char* end = text.data() + text.size();
    auto [a, ea] = std::from_chars(text.data(), text.data() + colon, p.block);
    auto [b, eb] = std::from_chars(text.data() + colon + 1, end, p.offset);
    if (ea != std::errc() || a != text.data() + colon || eb != std::errc() || b != end) {
        return std::nullopt;
    }
    return p;
}

// Positions the descriptor as the options ask; 0 or an error code.
int32_t position(int32_t fd, const ReadOptions& read, const ChannelPosition& p, uint32_t time) {
    if (read.offset) return backup_lseek(fd, *read.offset, SEEK_HEAD);
    if (!read.position.empty()) return backup_iseek(fd, &p);
    return backup_locate_index(fd, static_cast<int32_t>(time), nullptr);
}

}  // namespace

int run_read(const GlobalOptions&, const SessionOptions& session, const ReadOptions& read) {
    const int given = (read.offset ? 1 : 0) + !read.position.empty() + !read.time.empty();
    if (given != 1) return usage_error("read: give exactly one of --offset, --position, --time");
    ChannelPosition p{};
    if (!read.position.empty()) {
        const auto parsed = parse_position(read.position);
        if (!parsed) return usage_error("--position " + read.position + ": expected BLOCK:OFFSET");
        p = *parsed;
    }
    uint32_t time = 0;
    if (!read.time.empty()) {
        const auto parsed = parse_time(read.time);
        if (!parsed) return usage_error("--time " + read.time + ": expected YYYY-MM-DD HH:MM:SS");
        time = *parsed;
    }
    SessionScope scope;
    if (int rc = scope.open(session); rc != kExitOk) return rc;
    const int32_t fd = backup_open(read.channel);
    if (fd < 0) return fail("cannot open channel " + std::to_string(read.channel), fd);
    int32_t rc = position(fd, read, p, time);
    if (rc != 0) {
        backup_close(fd);
        return fail("cannot position channel " + std::to_string(read.channel), rc);
    }
    std::vector<uint8_t> buf(kChunk);
    uint64_t left = read.length ? *read.length : UINT64_MAX;
    while (left > 0) {
        const int32_t want = static_cast<int32_t>(std::min<uint64_t>(left, kChunk));
        const int32_t n = backup_read(fd, buf.data(), want);
        if (n < 0) {
            backup_close(fd);
            return fail("read failed", n);
        }
        if (n == 0) break;
        if (std::fwrite(buf.data(), 1, static_cast<size_t>(n), stdout) != static_cast<size_t>(n)) {
            backup_close(fd);
            return fail("cannot write to standard output");
        }
        left -= static_cast<uint64_t>(n);
    }
    backup_close(fd);
    if (std::fflush(stdout) != 0) return fail("cannot write to standard output");
    return scope.finish(kExitOk);
}

}  // namespace cli
