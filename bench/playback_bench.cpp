// Forward play speed against a peer in the same run, through the storage API, on a count-29
// volume holding five minutes of GOP records for each of 16 video channels:
//  - the playback engine playing all 16 channels forward from the start with pacing off, until
//    it reports that nothing is left to play: frames and bytes delivered per second;
//  - backup_read of the same 16 channels whole, in 1 MiB requests (peer);
//  - the drive requests the engine makes per GOP, counted by a drive wrapped around the real one.
// Times are medians of interleaved runs with the page cache warm.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/drive.h"
#include "bench/bench_mount.h"
#include "storage/api.h"
#include "storage/api_state.h"
#include "tools/sample/sample.h"
#include "tools/sample/stream_records.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kT0 = 1735689600;  // 2025-01-01 00:00:00
constexpr uint32_t kSeconds = 300;    // five minutes per channel
constexpr int32_t kVideo = 16;
constexpr int32_t kFirstVideoChannel = 3;
constexpr int kGopFrames = 15;
constexpr size_t kKeyFrame = 20000;  // whole words, so that delivered lengths equal these
constexpr size_t kOtherFrame = 3000;
constexpr uint32_t kFrameStep = 33;  // ms between frames: 15 frames fill the half second
constexpr int32_t kRequest = 1 << 20;
constexpr int kRuns = 11;

constexpr int64_t kGops = int64_t{kVideo} * kSeconds * 2;
constexpr int64_t kFrames = kGops * kGopFrames;
constexpr int64_t kFrameBytes = kGops * (kKeyFrame + (kGopFrames - 1) * kOtherFrame);

// --- Counting drive -------------------------------------------------------------------------

struct DriveCounts {
    std::atomic<int64_t> requests{0};
    std::atomic<int64_t> bytes{0};
    std::atomic<int64_t> one_sector{0};  // requests of a single sector: part-sector pieces
    void clear() {
        requests = 0;
        bytes = 0;
        one_sector = 0;
    }
};

DriveCounts& drive_counts() {
    static DriveCounts counts;
    return counts;
}

class CountingDrive : public platform::Drive {
  public:
    explicit CountingDrive(std::unique_ptr<platform::Drive> inner) : inner_(std::move(inner)) {}
    int geometry(platform::DriveGeometry* out) const override { return inner_->geometry(out); }
    int64_t read_at(uint64_t offset, void* buffer, size_t n) override {
        DriveCounts& c = drive_counts();
        c.requests.fetch_add(1, std::memory_order_relaxed);
        c.bytes.fetch_add(static_cast<int64_t>(n), std::memory_order_relaxed);
        if (n <= 512) c.one_sector.fetch_add(1, std::memory_order_relaxed);
        return inner_->read_at(offset, buffer, n);
    }

  private:
    std::unique_ptr<platform::Drive> inner_;
};

struct CountSnapshot {
    int64_t requests = 0, bytes = 0, one_sector = 0;
};

CountSnapshot snapshot() {
    const DriveCounts& c = drive_counts();
    return {c.requests.load(), c.bytes.load(), c.one_sector.load()};
}

// --- What the engine delivers ---------------------------------------------------------------

struct Delivered {
    std::atomic<int64_t> frames{0};
    std::atomic<int64_t> bytes{0};
    std::atomic<int64_t> gops{0};  // frames that carry a picture size: a GOP's first
    std::atomic<int64_t> audio{0};
    std::atomic<int64_t> requests_before_first{0};  // the positioning's drive requests
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

Delivered& delivered() {
    static Delivered d;
    return d;
}

void on_frame(int32_t, uint32_t, int32_t, const uint8_t*, int32_t length, int32_t kind,
              uint32_t picture_size) {
    Delivered& d = delivered();
    if (kind != 0) {
        d.audio.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (d.frames.fetch_add(1, std::memory_order_relaxed) == 0) {
        d.requests_before_first = drive_counts().requests.load();
    }
    d.bytes.fetch_add(length, std::memory_order_relaxed);
    if (picture_size != 0) d.gops.fetch_add(1, std::memory_order_relaxed);
}

void on_status(int32_t code, int32_t) {
    if (code != 100) return;
    Delivered& d = delivered();
    std::lock_guard<std::mutex> guard(d.mutex);
    d.done = true;
    d.ended.notify_all();
}

// --- The volume -----------------------------------------------------------------------------

sample::ChannelData gop_channel(int32_t channel) {
    sample::ChannelData c;
    c.channel = channel;
    uint32_t previous = 0;
    for (uint32_t t = kT0; t < kT0 + kSeconds; ++t) {
        for (uint32_t ms : {0u, 500u}) {
            sample::GopRecordSpec spec;
            spec.time = t;
            spec.milliseconds = ms;
            spec.previous_length = previous;
            const uint32_t seed = ((t - kT0) * 2 + ms / 500) * 16 + static_cast<uint32_t>(channel);
            for (int i = 0; i < kGopFrames; ++i) {
                const bool key = i == 0;
                spec.frames.push_back({sample::synthetic_frame(seed * kGopFrames + i,
                                                               key ? kKeyFrame : kOtherFrame, key),
                                       key ? 1u : 2u, key ? 0u : kFrameStep});
            }
            std::vector<uint8_t> record = sample::gop_record(spec);
            previous = sample::record_length(record);
            c.writes.push_back({t, std::move(record)});
        }
    }
    return c;
}

sample::DiskSpec sixteen_channels(int32_t block_size) {
    sample::DiskSpec d;
    d.total_sectors = 16ull << 21;  // 16 GiB, sparse
    d.bare.kind = sample::AreaKind::Recorder;
    sample::RecorderVolumeSpec& r = d.bare.recorder;
    r.channel_count = 29;
    r.block_size = block_size;
    // 256 map slots per map sector: a channel of 35.5 MiB needs 36 of 1 MiB, 569 of 64 KiB.
    r.map_sectors_per_channel = block_size >= (1 << 20) ? 1 : 4;
    for (int32_t v = 0; v < kVideo; ++v) {
        r.content.channels.push_back(gop_channel(kFirstVideoChannel + v));
    }
    return d;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// --- The two sides --------------------------------------------------------------------------

// One forward play from the first recording to status 100; seconds, or a negative number when
// the engine did not finish within a generous bound (a hang, not a speed).
double play_all() {
    Delivered& d = delivered();
    d.frames = 0;
    d.bytes = 0;
    d.gops = 0;
    d.audio = 0;
    {
        std::lock_guard<std::mutex> guard(d.mutex);
        d.done = false;
    }
    const auto start = Clock::now();
    if (api_play_from(kT0) != 0 || api_set_play_mode(PM_PLAY) != PM_PLAY) return -1;
    std::unique_lock<std::mutex> lock(d.mutex);
    if (!d.ended.wait_for(lock, std::chrono::minutes(5), [&] { return d.done; })) return -1;
    const double seconds = seconds_since(start);
    lock.unlock();
    // The pass that reported the end finishes before the lock is free again.
    std::lock_guard<std::mutex> pass(api_state().lock);
    return api_play_mode() == PM_STOP ? seconds : -1;
}

// Every video channel read whole from its head in 1 MiB requests, under the lock the engine
// reads under; seconds, and the bytes read.
double read_all(std::vector<uint8_t>& buf, int64_t* total) {
    std::lock_guard<std::mutex> guard(api_state().lock);
    const auto start = Clock::now();
    *total = 0;
    for (int32_t v = 0; v < kVideo; ++v) {
        const int32_t fd = backup_open(kFirstVideoChannel + v);
        if (fd < 0) return -1;
        for (int32_t n; (n = backup_read(fd, buf.data(), kRequest)) > 0;) *total += n;
        backup_close(fd);
    }
    return seconds_since(start);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp/quillon-bench";
    const int32_t block_kib = argc > 2 ? std::atoi(argv[2]) : 1024;
    if (block_kib != 64 && block_kib != 1024) {
        std::fprintf(stderr, "usage: %s [dir] [64|1024 (block KiB)]\n", argv[0]);
        return 2;
    }
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/playback-bench.img";
    std::printf(
        "building a count-29 volume: 16 video channels of %u s, %d-frame GOPs, %d KiB blocks ...\n",
        kSeconds, kGopFrames, block_kib);
    const auto built = Clock::now();
    std::string error;
    if (sample::write_image(path, sixteen_channels(block_kib * 1024), nullptr, &error) != 0) {
        std::fprintf(stderr, "cannot build: %s\n", error.c_str());
        return 1;
    }
    std::printf("  built in %.1f s (%.0f MiB of channel data in a sparse image)\n",
                seconds_since(built),
                static_cast<double>(kGops) * (96 + 4) / (1 << 20) +
                    static_cast<double>(kFrameBytes) / (1 << 20));

    platform::set_drive_opener([](const char* p) -> std::unique_ptr<platform::Drive> {
        auto real = platform::open_system_drive(p);
        if (!real) return nullptr;
        return std::make_unique<CountingDrive>(std::move(real));
    });
    if (api_init(0, on_frame, on_status) != 0 || mount_recorder_image(path) != 0) {
        std::fprintf(stderr, "cannot mount %s\n", path.c_str());
        return 1;
    }
    api_set_no_pacing(1);
    if (api_set_channel_mask(0xFFFF) != 0xFFFF) {
        std::fprintf(stderr, "channel mask refused\n");
        return 1;
    }

    std::vector<uint8_t> buf(kRequest);
    int64_t peer_bytes = 0;
    bool ok = read_all(buf, &peer_bytes) > 0 && play_all() > 0;  // warm-up: page cache and buffers

    // One counted play, on its own so that the counts hold the engine's requests alone.
    drive_counts().clear();
    const double counted = play_all();
    const CountSnapshot play = snapshot();
    const int64_t frames = delivered().frames, bytes = delivered().bytes, gops = delivered().gops;
    const int64_t positioning = delivered().requests_before_first;
    drive_counts().clear();
    read_all(buf, &peer_bytes);
    const CountSnapshot peer_counts = snapshot();
    ok = ok && counted > 0;

    std::vector<double> engine, peer;
    for (int i = 0; i < kRuns && ok; ++i) {  // interleaved, so both see the same machine load
        const double e = play_all();
        const double p = read_all(buf, &peer_bytes);
        ok = e > 0 && p > 0 && delivered().frames == frames && delivered().bytes == bytes;
        engine.push_back(e);
        peer.push_back(p);
    }
    const bool complete = frames == kFrames && bytes == kFrameBytes && gops == kGops;
    if (!ok || engine.empty()) {
        std::printf("RUN FAILED: the engine did not reach the end of the data, or runs differed\n");
        api_exit();
        std::filesystem::remove(path);
        return 1;
    }
    const double e = median(engine), p = median(peer);
    const double mb = 1e6;
    const double channel_mb = static_cast<double>(peer_bytes) / mb;
    std::printf(
        "16 channels played forward with pacing off (page cache warm, median of %d runs):\n"
        "  engine    %8.3f s  %9.0f frames/s  %7.0f MB/s of frames  (%lld frames, %.1f MB)\n"
        "            %8s    %9s           %7.0f MB/s of channel bytes covered\n"
        "  peer      %8.3f s  %30.0f MB/s  (backup_read of the 16 channels, 1 MiB requests, %.1f "
        "MB)\n"
        "  ratio engine/peer (channel bytes per second): %.2f\n",
        kRuns, e, static_cast<double>(frames) / e, static_cast<double>(bytes) / mb / e,
        static_cast<long long>(frames), static_cast<double>(bytes) / mb, "", "", channel_mb / e, p,
        channel_mb / p, channel_mb, p / e);
    const double g = static_cast<double>(gops);
    std::printf(
        "drive requests during one forward play (%lld GOPs):\n"
        "  engine  %8lld requests, %7.1f MB: %.2f requests per GOP (%.2f of one sector, %.2f "
        "larger);\n"
        "          %lld of them before the first frame (positioning), %.2f per GOP after it\n"
        "  peer    %8lld requests, %7.1f MB: %.2f requests per MiB of channel\n",
        static_cast<long long>(gops), static_cast<long long>(play.requests),
        static_cast<double>(play.bytes) / mb, static_cast<double>(play.requests) / g,
        static_cast<double>(play.one_sector) / g,
        static_cast<double>(play.requests - play.one_sector) / g,
        static_cast<long long>(positioning), static_cast<double>(play.requests - positioning) / g,
        static_cast<long long>(peer_counts.requests), static_cast<double>(peer_counts.bytes) / mb,
        static_cast<double>(peer_counts.requests) / (static_cast<double>(peer_bytes) / (1 << 20)));
    if (!complete) {
        std::printf("RESULTS WRONG: %lld frames, %lld bytes, %lld GOPs (want %lld, %lld, %lld)\n",
                    static_cast<long long>(frames), static_cast<long long>(bytes),
                    static_cast<long long>(gops), static_cast<long long>(kFrames),
                    static_cast<long long>(kFrameBytes), static_cast<long long>(kGops));
    }
    api_exit();
    platform::set_drive_opener(nullptr);
    std::filesystem::remove(path);
    return complete ? 0 : 1;
}
