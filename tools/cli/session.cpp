#include "tools/cli/session.h"

#include <charconv>
#include <cstdio>

#include "storage/api.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"

namespace cli {
namespace {

bool is_mountable(const DiskEntry& e) {
    return e.fs_type == FS_PSOS || e.fs_type == FS_BACKUP10 || e.fs_type == FS_BACKUP20;
}

int first_mountable_row(const DiskEntry* table, int count) {
    for (int row = 0; row < count; ++row) {
        if (is_mountable(table[row])) return row;
    }
    return -1;
}

// Reads "digits" of exactly n characters at text[at].
bool field(const std::string& text, size_t at, size_t n, int* out) {
    if (at + n > text.size()) return false;
    const char* first = text.data() + at;
    const auto [ptr, ec] = std::from_chars(first, first + n, *out);
    return ec == std::errc() && ptr == first + n;
}

std::optional<uint32_t> civil(int y, int mo, int d, int h, int mi, int s) {
    DateTime dt{static_cast<uint16_t>(y), static_cast<uint16_t>(mo), 0, static_cast<uint16_t>(d),
                static_cast<uint16_t>(h), static_cast<uint16_t>(mi), static_cast<uint16_t>(s), 0};
    uint32_t t = 0;
    systemtime_to_time(&dt, &t);
    if (t == 0) return std::nullopt;
    // A date the calendar does not have (31 April) comes back as another day.
    DateTime back;
    time_to_systemtime(t, &back);
    if (back.day != d || back.month != mo) return std::nullopt;
    return t;
}

}  // namespace

SessionScope::~SessionScope() {
    if (started_) api_exit();  // unmounts session and disk
}

int SessionScope::open(const SessionOptions& options, FrameCallback on_frame,
                       StatusCallback on_status) {
    if (int rc = open_disk(options, on_frame, on_status); rc != kExitOk) return rc;
    return select_session(options);
}

int SessionScope::open_disk_or_session(const SessionOptions& options, bool* selected) {
    *selected = false;
    if (int rc = open_disk(options, nullptr, nullptr); rc != kExitOk) return rc;
    if (api_session_count() == 0) {
        hdd_clear_failed_reads();
        return kExitOk;
    }
    const int rc = select_session(options);
    *selected = rc == kExitOk;
    return rc;
}

int SessionScope::open_disk(const SessionOptions& options, FrameCallback on_frame,
                            StatusCallback on_status) {
    if (api_init(dvrfs_trace_enabled() ? 1 : 0, on_frame, on_status) != 0) {
        return fail("cannot start the storage layer (out of memory)");
    }
    started_ = true;
    DiskEntry table[kDiskTableSize];
    int32_t rc = api_scan_disks(table);
    if (rc < 0) return fail("drive scan failed", rc);
    const int count = api_disk_count();
    const int row = options.disk ? *options.disk : first_mountable_row(table, count);
    if (row < 0) return fail(no_mountable_disk(), DVR_ENOBACKUP);
    if (row >= count) {
        return fail("no disk at row " + std::to_string(row) + " (the scan found " +
                    std::to_string(count) + ")");
    }
    if ((rc = api_mount_disk(row)) != 0) return fail("mount failed", rc);
    return kExitOk;
}

int SessionScope::select_session(const SessionOptions& options) {
    if (options.session < 0 || options.session >= api_session_count()) {
        return fail("no session " + std::to_string(options.session) + " (the disk has " +
                    std::to_string(api_session_count()) + ")");
    }
    VolumeRecord records[kVolumeRecordCount];
    api_get_sessions(records);
    if (records[options.session].created == 0) {
        return fail("session " + std::to_string(options.session) + " is an empty slot");
    }
    if (const int32_t rc = api_mount_session(options.session); rc != 0) {
        return fail("session mount failed", rc);
    }
    hdd_clear_failed_reads();
    return kExitOk;
}

int SessionScope::finish(int rc) const {
    const uint64_t failed = hdd_failed_reads();
    if (rc != kExitOk || failed == 0) return rc;
    return fail(std::to_string(failed) + (failed == 1 ? " disk read" : " disk reads") +
                    " failed; the results are partial",
                DVR_EDISK);
}

std::optional<uint32_t> parse_time(const std::string& text) {
    uint32_t stamp = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), stamp);
    if (ec == std::errc() && ptr == text.data() + text.size()) return stamp;
    int y, mo, d, h, mi, s;
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    if (!field(text, 0, 4, &y) || !field(text, 5, 2, &mo) || !field(text, 8, 2, &d) ||
        !field(text, 11, 2, &h) || !field(text, 14, 2, &mi) || !field(text, 17, 2, &s)) {
        return std::nullopt;
    }
    return civil(y, mo, d, h, mi, s);
}

std::optional<uint32_t> parse_date(const std::string& text) {
    int y, mo, d;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !field(text, 0, 4, &y) ||
        !field(text, 5, 2, &mo) || !field(text, 8, 2, &d)) {
        return std::nullopt;
    }
    return civil(y, mo, d, 0, 0, 0);
}

}  // namespace cli
