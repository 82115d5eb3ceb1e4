// Calendar and day search speed against a peer in the same run, through the storage API, on a
// count-29 volume holding 90 days of recordings for 16 video channels:
//  - the month scan of the whole session (tvfs_getexistmonthlog), against backup_read of the
//    whole super index channel;
//  - the day search of one fully recorded day (tvfs_getsearchlog), against backup_read of the
//    day's 5,760 search-log records after one backup_iseek, record by record and in one read.
// Each is the median of several runs with the page cache warm.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/drive.h"
#include "bench/bench_mount.h"
#include "storage/api.h"
#include "tools/sample/sample.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFirst = 1736899200;  // 2025-01-15 00:00:00: the session spans four months
constexpr uint32_t kDays = 90;
constexpr uint32_t kLast = kFirst + kDays * 86400 - 15;
constexpr uint32_t kFullDay = kFirst + 45 * 86400;  // 2025-03-01: every channel, every slot
constexpr int32_t kVideo = 16;
constexpr int32_t kCount = 29;
constexpr int32_t kSlots = 5760;
constexpr int32_t kSearchRecord = 16;
constexpr int kRuns = 21;

std::vector<uint8_t> media(int32_t channel, uint32_t time) {
    std::vector<uint8_t> bytes(32);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(time * 31 + channel + i);
    return bytes;
}

// One small write per channel per minute, and one per quarter minute on the full day, so that
// the search log marks recordings on every day.
sample::DiskSpec ninety_days() {
    sample::DiskSpec d;
    d.total_sectors = 8u << 21;  // 8 GiB, sparse
    d.bare.kind = sample::AreaKind::Recorder;
    sample::RecorderVolumeSpec& r = d.bare.recorder;
    r.channel_count = kCount;
    r.block_size = 1 << 20;
    r.map_sectors_per_channel = 1;  // 256 slots of 1 MiB: the index takes about 105
    r.oldest = kFirst;
    r.newest = kLast;
    for (int32_t v = 0; v < kVideo; ++v) {
        sample::ChannelData c;
        c.channel = 3 + v;
        for (uint32_t t = kFirst; t <= kLast; t += 60) {
            if (t == kFullDay) {
                for (; t < kFullDay + 86400; t += 15) c.writes.push_back({t, media(c.channel, t)});
            }
            c.writes.push_back({t, media(c.channel, t)});
        }
        r.content.channels.push_back(std::move(c));
    }
    return d;
}

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Median of kRuns timings of fn, in milliseconds; fn returns false when its result is wrong.
double median_ms(const std::function<bool()>& fn, bool* ok) {
    std::vector<double> times;
    fn();  // warm-up
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        *ok = fn() && *ok;
        times.push_back(ms_since(start));
    }
    std::sort(times.begin(), times.end());
    return times[kRuns / 2];
}

// Reads a whole channel from its head; the byte count, or a negative error.
int64_t read_channel(int32_t channel, std::vector<uint8_t>& buf) {
    const int32_t fd = backup_open(channel);
    if (fd < 0) return fd;
    int64_t total = 0;
    for (int32_t n; (n = backup_read(fd, buf.data(), static_cast<int32_t>(buf.size()))) > 0;)
        total += n;
    backup_close(fd);
    return total;
}

// Reads the day's search-log records from a known position, in reads of `piece` bytes.
int64_t read_day_records(const ChannelPosition& at, int32_t piece, std::vector<uint8_t>& buf) {
    const int32_t fd = backup_open(DVR_CH_SLOG);
    if (fd < 0) return fd;
    int64_t total = 0;
    if (backup_iseek(fd, &at) == 0) {
        const int64_t want = int64_t{kSlots} * kSearchRecord;  // well within buf
        for (int32_t n; total < want && (n = backup_read(fd, buf.data() + total, piece)) > 0;) {
            total += n;
        }
    }
    backup_close(fd);
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp/quillon-bench";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/storage-bench.img";
    std::printf("building a count-29 volume: 90 days, 16 video channels, 26 index columns ...\n");
    const auto built = Clock::now();
    std::string error;
    if (sample::write_image(path, ninety_days(), nullptr, &error) != 0) {
        std::fprintf(stderr, "cannot build: %s\n", error.c_str());
        return 1;
    }
    std::printf("  built in %.1f s (a sparse image of %.0f MiB)\n", ms_since(built) / 1000,
                static_cast<double>(std::filesystem::file_size(path)) / (1 << 20));
    if (api_init(0, nullptr, nullptr) != 0 || mount_recorder_image(path) != 0) {
        std::fprintf(stderr, "cannot mount %s\n", path.c_str());
        return 1;
    }
    const int months = 4;  // January to April 2025
    bool ok = true;

    std::vector<uint32_t> month_map(size_t{kMonthMapMonths} * kMonthMapEntries);
    const double scan = median_ms(
        [&] {
            std::fill(month_map.begin(), month_map.end(), 0);
            return tvfs_getexistmonthlog(month_map.data()) >= 0;
        },
        &ok);
    int days = 0;
    for (int m = 0; m < months; ++m) {
        uint32_t mask = 0;
        for (int e = 0; e < kMonthMapEntries; ++e)
            mask |= month_map[static_cast<size_t>(m * kMonthMapEntries + e)];
        days += __builtin_popcount(mask);
    }
    ok = ok && days == static_cast<int>(kDays);

    std::vector<uint8_t> buf(1 << 20);
    const int64_t super_bytes = static_cast<int64_t>(backup_channel_size(DVR_CH_SUPER));
    const double super_read =
        median_ms([&] { return read_channel(DVR_CH_SUPER, buf) == super_bytes; }, &ok);

    std::vector<uint32_t> day_map(kDaySlots);
    const double search = median_ms(
        [&] {
            std::fill(day_map.begin(), day_map.end(), 0);
            return tvfs_getsearchlog(kFullDay, day_map.data()) == 0;
        },
        &ok);
    const bool full =
        std::all_of(day_map.begin(), day_map.end(), [](uint32_t m) { return m == 0xFFFF; });
    ok = ok && full;

    // The peer starts where the day search starts: the day's first search-log record.
    ChannelPosition day_start{};
    const int32_t fd = backup_open(DVR_CH_SLOG);
    ok = ok && fd >= 0 && backup_locate_index(fd, static_cast<int32_t>(kFullDay), &day_start) == 0;
    backup_close(fd);
    const int64_t day_bytes = int64_t{kSlots} * kSearchRecord;
    const double by_record = median_ms(
        [&] { return read_day_records(day_start, kSearchRecord, buf) == day_bytes; }, &ok);
    const double in_one = median_ms(
        [&] {
            return read_day_records(day_start, static_cast<int32_t>(day_bytes), buf) == day_bytes;
        },
        &ok);

    std::printf(
        "month scan of the whole session (%d months, %lld super index bytes), median of %d:\n"
        "  tvfs_getexistmonthlog      %8.3f ms  (%.3f ms per month; target 1 ms per month: %s)\n"
        "  backup_read of channel 0   %8.3f ms  (peer)\n"
        "day search of one full day (%d records), median of %d:\n"
        "  tvfs_getsearchlog          %8.3f ms  (target 10 ms: %s)\n"
        "  backup_iseek + backup_read %8.3f ms  (peer, record by record)\n"
        "  backup_iseek + backup_read %8.3f ms  (peer, one read)\n",
        months, static_cast<long long>(super_bytes), kRuns, scan, scan / months,
        scan <= months ? "met" : "MISSED", super_read, kSlots, kRuns, search,
        search <= 10 ? "met" : "MISSED", by_record, in_one);
    if (!ok)
        std::printf("RESULTS WRONG: %d recorded days (want %u), full day map %s\n", days, kDays,
                    full ? "complete" : "incomplete");
    api_exit();
    std::filesystem::remove(path);
    return ok ? 0 : 1;
}
