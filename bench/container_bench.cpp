// Evidence containers against peers in the same run:
//  - a whole channel read through an E01 set of the disk (backup_read in 1 MiB requests),
//    against ewfexport writing the same set to raw, both per media byte they deliver;
//  - the same channel through a split raw image against the single raw image, with pieces of
//    whole pages and with pieces one byte longer (every piece after the first then starts inside
//    a page, and the kernel's copies out of the page cache slow down).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "disk/disk.h"
#include "platform/drive.h"
#include "tools/sample/sample.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kT0 = 1735689600;  // 2025-01-01 00:00:00
constexpr int32_t kRequest = 1 << 20;
constexpr uint64_t kDiskBytes = 160ull << 20;
constexpr int kRuns = 7;
constexpr int kPasses = 10;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A disk that is mostly one 128 MiB channel: half of it noise, half of it bytes of four bits,
// which deflate halves, so that the set holds compressed and stored chunks.
sample::DiskSpec bench_volume() {
    sample::DiskSpec d;
    d.total_sectors = kDiskBytes / 512;
    d.bare.kind = sample::AreaKind::Recorder;
    d.bare.recorder.channel_count = 8;
    d.bare.recorder.map_sectors_per_channel = 1;
    sample::ChannelData media;
    media.channel = 3;
    std::mt19937 rng(7);
    const size_t writes = 64;
    for (size_t i = 0; i < writes; ++i) {
        std::vector<uint8_t> bytes((128u << 20) / writes);
        const uint32_t mask = i % 2 == 0 ? 0xFF : 0x0F;
        for (auto& b : bytes) b = static_cast<uint8_t>(rng() & mask);
        media.writes.push_back({kT0 + static_cast<uint32_t>(60 * i), std::move(bytes)});
    }
    d.bare.recorder.oldest = kT0;
    d.bare.recorder.newest = kT0 + 60 * writes;
    d.bare.recorder.content.channels.push_back(std::move(media));
    return d;
}

// Seconds to read channel 3 of the image whole, passes times over (mounting not counted);
// bytes gets what was read.
double read_channel(const std::string& path, uint64_t* bytes, int passes = 1) {
    platform::detach_all();
    platform::attach_image(path);
    *bytes = 0;
    if (backup_scan_disks() < 1 || backup_mount_disk(backup_disk_table()) != 0) return -1;
    double seconds = -1;
    if (backup_mount_session(backup_volume_records()) == 0) {
        const int32_t fd = backup_open(3);
        std::vector<uint8_t> buf(kRequest);
        const auto start = Clock::now();
        for (int pass = 0; pass < passes; ++pass) {
            backup_lseek(fd, 0, SEEK_HEAD);
            for (int32_t n; (n = backup_read(fd, buf.data(), kRequest)) > 0;) *bytes += uint64_t(n);
        }
        seconds = seconds_since(start);
        backup_close(fd);
        backup_unmount_session();
    }
    backup_unmount_disk();
    return seconds;
}

double run_shell(const std::string& command) {
    const auto start = Clock::now();
    const int rc = std::system(command.c_str());
    return rc == 0 ? seconds_since(start) : -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp/quillon-bench-containers";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string raw = dir + "/disk.img";
    std::printf("building a 160 MiB disk with a 128 MiB channel, its E01 set and its pieces ...\n");
    std::string error;
    if (sample::write_image(raw, bench_volume(), nullptr, &error) != 0) {
        std::fprintf(stderr, "cannot build: %s\n", error.c_str());
        return 1;
    }
    const std::string quiet = " >/dev/null 2>&1";
    // Pieces of a whole number of pages, as imaging tools cut them, and pieces one byte longer.
    const std::vector<std::string> piece_sizes = {"7340032", "7340033"};
    bool made = run_shell("ewfacquire -u -q -c deflate:fast -S 67108864 -t " + dir + "/set " + raw + quiet) >= 0;
    for (const std::string& size : piece_sizes) {
        made = made && run_shell("split -b " + size + " -d -a 3 --numeric-suffixes=1 " + raw + " " +
                                 dir + "/piece" + size + "." + quiet) >= 0;
    }
    if (!made) {
        std::fprintf(stderr, "ewfacquire or split failed\n");
        return 1;
    }
    const std::string e01 = dir + "/set.E01";
    const std::string ewfexport = "ewfexport -u -q -f raw -t - " + e01 + " >/dev/null 2>&1";

    uint64_t bytes = 0;
    read_channel(e01, &bytes);  // warm the page cache for every reader
    run_shell(ewfexport);
    std::vector<double> ours, peer;
    for (int i = 0; i < kRuns; ++i) {  // interleaved, so both see the same machine load
        ours.push_back(read_channel(e01, &bytes));
        peer.push_back(run_shell(ewfexport));
    }
    if (*std::min_element(ours.begin(), ours.end()) < 0 || *std::min_element(peer.begin(), peer.end()) < 0 ||
        bytes == 0) {
        std::fprintf(stderr, "a reader failed\n");
        return 1;
    }
    const double mib = double(bytes) / (1 << 20), media_mib = double(kDiskBytes) / (1 << 20);
    const double ours_rate = mib / median(ours), peer_rate = media_mib / median(peer);
    std::printf("E01 set (deflate fast, %d runs, page cache warm):\n"
                "  channel of %.0f MiB through the E01 drive  median %.0f MiB/s\n"
                "  ewfexport of the %.0f MiB media to raw       median %.0f MiB/s\n"
                "  ratio per media byte: %.2f (target 0.80)\n",
                kRuns, mib, ours_rate, media_mib, peer_rate, ours_rate / peer_rate);

    for (const std::string& size : piece_sizes) {
        const std::string split = dir + "/piece" + size + ".001";
        uint64_t raw_bytes = 0, split_bytes = 0;
        read_channel(split, &split_bytes);
        std::vector<double> single, pieces;
        for (int i = 0; i < kRuns; ++i) {
            // A pass from the page cache takes milliseconds: several make a measurable time.
            single.push_back(read_channel(raw, &raw_bytes, kPasses));
            pieces.push_back(read_channel(split, &split_bytes, kPasses));
        }
        const double single_rate = double(raw_bytes) / (1 << 20) / median(single);
        const double split_rate = double(split_bytes) / (1 << 20) / median(pieces);
        std::printf("split raw, pieces of %s bytes (%d runs of %d passes, page cache warm):\n"
                    "  channel through the split image  median %.0f MiB/s\n"
                    "  channel through the single image median %.0f MiB/s\n"
                    "  ratio: %.2f (target 0.95)%s\n",
                    size.c_str(), kRuns, kPasses, split_rate, single_rate, split_rate / single_rate,
                    split_bytes == raw_bytes && raw_bytes == bytes * kPasses ? "" : "  (BYTE COUNTS DIFFER)");
    }
    std::filesystem::remove_all(dir);
    return 0;
}
