// Carver speed against a peer in the same run: recover_scan of the remnants disks (a live
// recording with an older one in its free blocks, and the same disk re-formatted, where all of
// it is old), against a plain sequential pread of the very same bytes in the same order. Memory
// must stay flat: the peak resident size after the scans is compared with the one before.
// Each timing is the median of several runs, with the page cache warm and with the image's
// pages dropped before each run (only this file's, through posix_fadvise).
#include <sys/resource.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "bench/bench_mount.h"
#include "disk/disk.h"
#include "recover/carver.h"
#include "recover/carver_areas.h"
#include "storage/api.h"
#include "tools/sample/sample.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr double kTarget = 0.8;  // the scan's speed as a share of the plain read's

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Drops the image's pages from the page cache, so that the next run reads the disk.
void drop_cached(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// cold: the image's pages are dropped before every run, else one warm-up run fills the cache.
double median_ms(const std::function<bool()>& fn, bool* ok, const std::string& cold = "") {
    std::vector<double> times;
    if (cold.empty()) fn();
    for (int i = 0; i < kRuns; ++i) {
        if (!cold.empty()) drop_cached(cold);
        const auto start = Clock::now();
        *ok = fn() && *ok;
        times.push_back(ms_since(start));
    }
    std::sort(times.begin(), times.end());
    return times[kRuns / 2];
}

long peak_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The peer: the plan's blocks read with pread, one request per block as the scan makes them.
bool plain_read(const std::string& path, uint64_t origin_bytes, const recover::ScanPlan& plan,
                std::vector<uint8_t>& buf, uint64_t* bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    *bytes = 0;
    bool ok = true;
    for (size_t i = 0; i < plan.pieces.size();) {
        size_t last = i + 1;
        while (last < plan.pieces.size() && plan.pieces[last].sector == plan.pieces[i].sector) ++last;
        const uint32_t from = plan.pieces[i].begin / 512 * 512;
        const uint32_t to = (plan.pieces[last - 1].end + 511) / 512 * 512;
        const auto at = static_cast<off_t>(origin_bytes + plan.pieces[i].sector * 512 + from);
        ok = ok && ::pread(fd, buf.data(), to - from, at) == static_cast<ssize_t>(to - from);
        for (size_t k = i; k < last; ++k) *bytes += plan.pieces[k].end - plan.pieces[k].begin;
        i = last;
    }
    ::close(fd);
    return ok;
}

size_t gop_count(const recover::RecoveryResult& r) {
    size_t n = 0;
    for (const auto& run : r.runs) n += run.gops.size();
    return n;
}

bool bench_preset(const std::string& dir, const std::string& name) {
    bool known = false;
    const sample::DiskSpec spec = sample::preset(name, &known);
    const std::string path = dir + "/" + name + ".img";
    std::string error;
    if (!known || sample::write_image(path, spec, nullptr, &error) != 0) {
        std::fprintf(stderr, "cannot build %s: %s\n", name.c_str(), error.c_str());
        return false;
    }
    if (api_init(0, nullptr, nullptr) != 0 || mount_recorder_image(path) != 0) {
        std::fprintf(stderr, "cannot mount %s\n", path.c_str());
        return false;
    }
    bool ok = true;
    recover::ScanPlan plan;
    ok = recover::plan_recorder_scan(&plan) == 0;
    std::vector<uint8_t> buf(plan.block_size);
    const uint64_t origin_bytes = backup_mounted_disk()->start_sector * 512;

    recover::RecoveryResult result;
    const auto scan_once = [&] { return recover::recover_scan(nullptr, &result) == 0; };
    uint64_t read_bytes = 0;
    const auto read_once = [&] { return plain_read(path, origin_bytes, plan, buf, &read_bytes); };
    const long before = peak_kib();
    const double scan = median_ms(scan_once, &ok);
    const long after = peak_kib();
    const double read = median_ms(read_once, &ok);
    const double cold_scan = median_ms(scan_once, &ok, path);
    const double cold_read = median_ms(read_once, &ok, path);
    ok = ok && read_bytes == result.scanned_bytes && !result.runs.empty();

    const double mib = static_cast<double>(result.scanned_bytes) / (1 << 20);
    std::printf("%s: %.1f MiB outside the stored ranges, %zu pieces, %zu GOPs in %zu runs, "
                "median of %d:\n",
                name.c_str(), mib, plan.pieces.size(), gop_count(result), result.runs.size(),
                kRuns);
    // The scan's speed as a share of the plain read's.
    for (const auto& [what, s, r] : {std::tuple{"cached", scan, read},
                                     std::tuple{"dropped from the cache", cold_scan, cold_read}}) {
        std::printf("  %s:\n"
                    "    recover_scan        %9.1f ms  (%.0f MiB/s; %.2f of the plain read: %s)\n"
                    "    pread of the blocks %9.1f ms  (peer, %.0f MiB/s)\n",
                    what, s, mib / (s / 1000), r / s, r / s >= kTarget ? "met" : "MISSED", r,
                    mib / (r / 1000));
    }
    std::printf("  peak resident size  %ld KiB before the scans, %ld KiB after (%+ld KiB)\n",
                before, after, after - before);
    if (!ok) std::printf("RESULTS WRONG for %s\n", name.c_str());
    api_exit();
    platform::detach_all();
    std::filesystem::remove(path);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp/quillon-bench";
    std::filesystem::create_directories(dir);
    bool ok = true;
    for (const char* name : {"recorder-remnants", "recorder-reformatted"}) {
        ok = bench_preset(dir, name) && ok;
    }
    return ok ? 0 : 1;
}
