// Channel-file speed against a peer in the same run:
//  - a whole channel through backup_read in 1 MiB requests, against pread of the same byte
//    ranges of the image (the peer knows the block layout and reads it directly);
//  - time seeks on a volume holding a year of index, in microseconds per seek.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "disk/disk.h"
#include "disk/disk_i.h"
#include "platform/drive.h"
#include "tools/sample/sample.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kT0 = 1735689600;  // 2025-01-01 00:00:00
constexpr int32_t kRequest = 1 << 20;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

sample::DiskSpec bench_volume(size_t channel_mib, uint32_t index_days) {
    sample::DiskSpec d;
    d.total_sectors = 16ull << 21;  // 16 GiB, sparse
    d.bare.kind = sample::AreaKind::Recorder;
    d.bare.recorder.channel_count = 8;
    d.bare.recorder.map_sectors_per_channel = 8;  // 2,048 slots of 1 MiB
    sample::ChannelData media;
    media.channel = 3;
    media.head_slot = 1500;  // wraps the ring
    media.head_offset = 4096 + 100;
    std::mt19937 rng(7);
    const uint32_t span = index_days * 86400;
    const size_t writes = 64;
    for (size_t i = 0; i < writes; ++i) {
        std::vector<uint8_t> bytes(channel_mib * (1 << 20) / writes);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        media.writes.push_back({kT0 + static_cast<uint32_t>(span / writes * i), std::move(bytes)});
    }
    d.bare.recorder.oldest = kT0;
    d.bare.recorder.newest = kT0 + span - 15;
    d.bare.recorder.content.channels.push_back(std::move(media));
    return d;
}

// (sector, bytes) runs of the channel on the disk, in channel order.
std::vector<std::pair<uint64_t, size_t>> channel_runs(int32_t fd) {
    std::vector<std::pair<uint64_t, size_t>> runs;
    const int32_t bs = dvrfs_super_block()->block_size;
    ChannelPosition p;
    backup_lseek(fd, 0, SEEK_HEAD);
    ChannelPosition tail;
    backup_lseek(fd, 0, SEEK_TAIL);
    backup_tell(fd, &tail);
    backup_lseek(fd, 0, SEEK_HEAD);
    for (;;) {
        backup_tell(fd, &p);
        const bool last = p.block == tail.block;
        const int32_t end = last ? tail.offset : bs;
        runs.emplace_back(dvrfs_block_sector(p.block, p.offset) * 512 + p.offset % 512,
                          static_cast<size_t>(end - p.offset));
        if (last || backup_lseek(fd, end - p.offset, SEEK_CURRENT) != 0) break;
    }
    return runs;
}

double read_through_channel(int32_t fd, std::vector<uint8_t>& buf, uint64_t* total) {
    backup_lseek(fd, 0, SEEK_HEAD);
    const auto start = Clock::now();
    *total = 0;
    for (int32_t n; (n = backup_read(fd, buf.data(), kRequest)) > 0;) *total += static_cast<uint64_t>(n);
    return seconds_since(start);
}

double read_with_pread(int image, const std::vector<std::pair<uint64_t, size_t>>& runs,
                       std::vector<uint8_t>& buf, uint64_t* total) {
    const auto start = Clock::now();
    *total = 0;
    for (const auto& [at, n] : runs) {
        for (size_t done = 0; done < n;) {
            const size_t want = std::min(n - done, buf.size());
            ssize_t r = ::pread(image, buf.data(), want, static_cast<off_t>(at + done));
            if (r <= 0) return seconds_since(start);
            done += static_cast<size_t>(r);
            *total += static_cast<uint64_t>(r);
        }
    }
    return seconds_since(start);
}

int mount(const std::string& path) {
    platform::attach_image(path);
    if (backup_scan_disks() < 1) return -1;
    if (backup_mount_disk(backup_disk_table()) != 0) return -1;
    return backup_mount_session(backup_volume_records());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp/quillon-bench";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/channel-bench.img";
    std::printf("building a volume: one 256 MiB channel, a year of 15-second index ...\n");
    std::string error;
    if (sample::write_image(path, bench_volume(256, 365), nullptr, &error) != 0) {
        std::fprintf(stderr, "cannot build: %s\n", error.c_str());
        return 1;
    }
    if (mount(path) != 0) {
        std::fprintf(stderr, "cannot mount %s\n", path.c_str());
        return 1;
    }
    int32_t fd = backup_open(3);
    const auto runs = channel_runs(fd);
    int image = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<uint8_t> buf(kRequest);

    uint64_t bytes = 0, peer_bytes = 0;
    read_through_channel(fd, buf, &bytes);  // warm the page cache for both
    std::vector<double> ours, peer;
    constexpr int kRuns = 15;  // interleaved, so both see the same machine load
    for (int i = 0; i < kRuns; ++i) {
        ours.push_back(read_through_channel(fd, buf, &bytes));
        peer.push_back(read_with_pread(image, runs, buf, &peer_bytes));
    }
    std::sort(ours.begin(), ours.end());
    std::sort(peer.begin(), peer.end());
    const double mib = static_cast<double>(bytes) / (1 << 20);
    const double peer_mib = static_cast<double>(peer_bytes) / (1 << 20);
    std::printf("channel read of %.0f MiB in 1 MiB requests (page cache warm, %d runs):\n"
                "  backup_read median %.0f MiB/s, best %.0f MiB/s\n"
                "  pread       median %.0f MiB/s, best %.0f MiB/s\n"
                "  ratio backup_read/pread: median %.2f, best %.2f%s\n",
                mib, kRuns, mib / ours[kRuns / 2], mib / ours[0], peer_mib / peer[kRuns / 2],
                peer_mib / peer[0], peer[kRuns / 2] / ours[kRuns / 2], peer[0] / ours[0],
                bytes == peer_bytes ? "" : "  (BYTE COUNTS DIFFER)");

    std::mt19937 rng(11);
    const int seeks = 20000;
    const auto start = Clock::now();
    int failures = 0;
    for (int i = 0; i < seeks; ++i) {
        const int32_t t = static_cast<int32_t>(kT0 + rng() % (365u * 86400u - 15));
        if (backup_locate_index(fd, t, nullptr) != 0) ++failures;
    }
    std::printf("time seek over a year of index: %.1f us per seek (%d seeks, %d failed)\n",
                seconds_since(start) * 1e6 / seeks, seeks, failures);
    ::close(image);
    backup_close(fd);
    std::filesystem::remove(path);
    return failures == 0 ? 0 : 1;
}
