// Export speed and memory against peers in the same run, on a count-29 volume holding real H.264
// (352x240, 15 fps) for each of 16 video channels over a span:
//  - `quillon-cli export` of all 16 channels over the span, as a whole process (its files
//    hashed and its report written, as every export does): wall time,
//    source megabytes per second (source bytes: the stored frames of the 16 channels in the
//    span) and peak resident memory;
//  - peer: ffmpeg remuxing each channel's H.264 elementary stream (the same frames concatenated)
//    into AVI at 25 fps, the 16 runs one after the other, wall times summed;
//  - peer: a plain read of the same 16 elementary streams;
//  - the export again over half the span, to show that peak memory does not grow with the span.
// Times are medians of interleaved runs with the page cache warm.
//
// usage: quillon-bench-export [quillon-cli] [dir] [minutes] [64|1024 (block KiB)]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tools/sample/recordings.h"
#include "tools/sample/sample.h"
#include "tools/sample/video_encoder.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr uint32_t kT0 = 1735689600;  // 2025-01-01 00:00:00
constexpr int kVideo = 16;
constexpr int kDistinctGops = 8;
constexpr int kRuns = 3;
constexpr double kMB = 1e6;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Child {
    bool ok = false;
    double seconds = 0;
    long peak_kib = 0;  // ru_maxrss of the child
    double user = 0, sys = 0;  // CPU seconds of the child
};

// Runs argv to its end with standard output in `out_path` (or /dev/null) and standard error
// discarded; the wall time and the child's own peak resident memory.
Child run(const std::vector<std::string>& args, const std::string& out_path = "/dev/null") {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Child result;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) return result;
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_WRONLY);
        if (out >= 0) dup2(out, 1);
        if (null >= 0) dup2(null, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return result;
    result.seconds = seconds_since(start);
    result.peak_kib = usage.ru_maxrss;
    result.user = static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
    result.sys = static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) / 1e6;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Sum of every `"key": N` in a JSON text.
long long sum_field(const std::string& text, const std::string& key) {
    const std::string needle = "\"" + key + "\":";
    long long sum = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        sum += std::atoll(text.c_str() + at + needle.size());
    }
    return sum;
}

struct Channel {
    std::string stream_path;  // the elementary stream
    uint64_t bytes = 0;       // all frames
    uint64_t half_bytes = 0;  // frames of the first half of the span
    long long frames = 0;
    long long half_frames = 0;
};

struct ExportRun {
    Child child;
    long long recorded_frames = 0;
    uint64_t out_bytes = 0;
};

long self_peak_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string stream_path(const std::string& dir, int video_channel) {
    return dir + "/channel" + std::to_string(video_channel) + ".h264";
}

ExportRun export_span(const std::string& cli, const std::string& image, const std::string& dir,
                      uint32_t seconds) {
    const std::string out = dir + "/export";
    fs::remove_all(out);
    fs::create_directories(out);
    std::string channels;
    for (int v = 1; v <= kVideo; ++v) {
        if (v > 1) channels += ',';
        channels += std::to_string(v);
    }
    ExportRun r;
    const std::string json = dir + "/export.json";
    r.child = run({cli, "--image", image, "--json", "export", "--channels", channels, "--from",
                   std::to_string(kT0), "--to", std::to_string(kT0 + seconds), "--out", out},
                  json);
    r.recorded_frames = sum_field(slurp(json), "recorded_frames");
    for (const auto& e : fs::directory_iterator(out)) {
        if (e.is_regular_file()) r.out_bytes += e.file_size();
    }
    return r;
}

// ffmpeg remuxing the 16 elementary streams one after the other; summed wall time, or -1.
double ffmpeg_all(const std::vector<Channel>& channels, const std::string& dir, long* peak_kib) {
    double total = 0;
    *peak_kib = 0;
    const std::string out = dir + "/peer.avi";
    for (const Channel& c : channels) {
        const Child child = run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "h264", "-i",
                                 c.stream_path, "-c", "copy", "-r", "25", "-f", "avi", out});
        if (!child.ok) return -1;
        total += child.seconds;
        *peak_kib = std::max(*peak_kib, child.peak_kib);
    }
    fs::remove(out);
    return total;
}

// The 16 elementary streams read whole in 1 MiB requests; seconds, or -1.
double read_all(const std::vector<Channel>& channels, std::vector<uint8_t>& buf, uint64_t* bytes) {
    const auto start = Clock::now();
    *bytes = 0;
    for (const Channel& c : channels) {
        const int fd = open(c.stream_path.c_str(), O_RDONLY);
        if (fd < 0) return -1;
        for (ssize_t n; (n = read(fd, buf.data(), buf.size())) > 0;) *bytes += n;
        close(fd);
    }
    return seconds_since(start);
}

// Builds the image and writes each channel's elementary stream; the sizes go to `summary`, one
// line per channel. Runs in a child process, so that the memory the recordings take while the
// image is written is not inherited by the processes measured later (a forked child starts
// with its parent's resident pages counted in its peak).
int build(const std::string& dir, const std::string& image, uint32_t span, int32_t block_kib,
          const std::string& summary) {
    std::string error;
    auto encoder = sample::VideoEncoder::create(sample::Codec::H264, 352, 240, 15, &error);
    if (!encoder) {
        std::fprintf(stderr, "no encoder: %s\n", error.c_str());
        return 1;
    }
    sample::DiskSpec disk;
    disk.bare.kind = sample::AreaKind::Recorder;
    sample::RecorderVolumeSpec& r = disk.bare.recorder;
    r.channel_count = 29;
    r.block_size = block_kib * 1024;
    std::vector<Channel> channels(kVideo);
    uint64_t source_bytes = 0, largest = 0;
    for (int v = 1; v <= kVideo; ++v) {
        sample::VideoRecordingSpec spec;
        spec.video_channel = v;
        spec.from = kT0;
        spec.to = kT0 + span;
        spec.distinct_gops = kDistinctGops;
        auto rec = sample::video_recording(spec, *encoder, &error);
        if (!rec) {
            std::fprintf(stderr, "channel %d: %s\n", v, error.c_str());
            return 1;
        }
        Channel& c = channels[v - 1];
        std::ofstream es(stream_path(dir, v), std::ios::binary);
        for (const sample::RecordedGop& g : rec->gops) {
            for (const sample::RecordedFrame& f : g.frames) {
                es.write(reinterpret_cast<const char*>(f.bytes.data()),
                         static_cast<std::streamsize>(f.bytes.size()));
                c.bytes += f.bytes.size();
                ++c.frames;
                if (f.time < kT0 + span / 2) {
                    c.half_bytes += f.bytes.size();
                    ++c.half_frames;
                }
            }
        }
        if (!es) {
            std::fprintf(stderr, "cannot write %s\n", stream_path(dir, v).c_str());
            return 1;
        }
        source_bytes += c.bytes;
        uint64_t channel_bytes = 0;
        for (const auto& w : rec->data.writes) channel_bytes += w.bytes.size();
        largest = std::max(largest, channel_bytes);
        r.content.channels.push_back(std::move(rec->data));
    }
    // 256 map slots per map sector, with room to spare.
    const uint64_t blocks = largest / static_cast<uint64_t>(r.block_size) + 2;
    r.map_sectors_per_channel = static_cast<uint32_t>(std::max<uint64_t>(4, blocks / 256 + 2));
    disk.total_sectors = std::max<uint64_t>(16ull << 21, (source_bytes * 2) / 512);
    if (sample::write_image(image, disk, nullptr, &error) != 0) {
        std::fprintf(stderr, "cannot build: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(summary);
    for (const Channel& c : channels) {
        out << c.bytes << ' ' << c.half_bytes << ' ' << c.frames << ' ' << c.half_frames << '\n';
    }
    out << largest << '\n';
    return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string cli = argc > 1 ? argv[1] : "";
    if (cli.empty()) {
        cli = (fs::absolute(argv[0]).parent_path() / "../tools/cli/quillon-cli").lexically_normal();
    }
    const std::string dir = argc > 2 ? argv[2] : "/tmp/quillon-export-bench";
    const int minutes = argc > 3 ? std::atoi(argv[3]) : 60;
    const int32_t block_kib = argc > 4 ? std::atoi(argv[4]) : 1024;
    if (!fs::exists(cli) || minutes < 2 || (block_kib != 64 && block_kib != 1024)) {
        std::fprintf(stderr, "usage: %s [quillon-cli] [dir] [minutes >= 2] [64|1024 (block KiB)]\n",
                     argv[0]);
        return 2;
    }
    const uint32_t span = static_cast<uint32_t>(minutes) * 60;
    fs::create_directories(dir);
    const std::string image = dir + "/export-bench.img";

    std::printf("building a count-29 volume: 16 channels of H.264 352x240 15 fps over %d min "
                "(%d distinct GOPs repeated), %d KiB blocks ...\n",
                minutes, kDistinctGops, block_kib);
    const auto built = Clock::now();
    const std::string summary = dir + "/summary.txt";
    std::fflush(stdout);
    const pid_t builder = fork();
    if (builder < 0) return 1;
    if (builder == 0) _exit(build(dir, image, span, block_kib, summary));
    int status = 0;
    if (waitpid(builder, &status, 0) != builder || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cannot build the volume\n");
        return 1;
    }
    std::vector<Channel> channels(kVideo);
    uint64_t source_bytes = 0, half_source_bytes = 0, largest = 0;
    long long frames = 0, half_frames = 0;
    {
        std::ifstream in(summary);
        for (int v = 1; v <= kVideo; ++v) {
            Channel& c = channels[v - 1];
            c.stream_path = stream_path(dir, v);
            in >> c.bytes >> c.half_bytes >> c.frames >> c.half_frames;
            source_bytes += c.bytes;
            half_source_bytes += c.half_bytes;
            frames += c.frames;
            half_frames += c.half_frames;
        }
        in >> largest;
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", summary.c_str());
            return 1;
        }
    }
    fs::remove(summary);
    std::printf("  built in %.1f s: %.1f MB of frames (%lld frames), largest channel %.1f MB\n",
                seconds_since(built), static_cast<double>(source_bytes) / kMB, frames,
                static_cast<double>(largest) / kMB);

    // Warm-up: the page cache holds the image and the streams for every side.
    std::vector<uint8_t> buf(1 << 20);
    uint64_t read_bytes = 0;
    long ffmpeg_peak = 0;
    ExportRun first = export_span(cli, image, dir, span);
    bool ok = first.child.ok && read_all(channels, buf, &read_bytes) > 0 &&
              ffmpeg_all(channels, dir, &ffmpeg_peak) > 0;
    if (!ok) {
        std::printf("RUN FAILED: %s\n", first.child.ok ? "ffmpeg or the plain read failed"
                                                       : "quillon-cli export failed");
        return 1;
    }

    std::vector<double> exp, peer, plain, half;
    long export_peak = first.child.peak_kib, half_peak = 0;
    ExportRun last = first, last_half;
    for (int i = 0; i < kRuns && ok; ++i) {  // interleaved, so all see the same machine load
        last = export_span(cli, image, dir, span);
        const double f = ffmpeg_all(channels, dir, &ffmpeg_peak);
        const double p = read_all(channels, buf, &read_bytes);
        last_half = export_span(cli, image, dir, span / 2);
        ok = last.child.ok && last_half.child.ok && f > 0 && p > 0 &&
             last.recorded_frames == first.recorded_frames;
        if (!ok) {
            std::printf("run %d: export %s, half export %s, ffmpeg %s, read %s, frames %lld "
                        "(first run %lld)\n",
                        i, last.child.ok ? "ok" : "FAILED", last_half.child.ok ? "ok" : "FAILED",
                        f > 0 ? "ok" : "FAILED", p > 0 ? "ok" : "FAILED", last.recorded_frames,
                        first.recorded_frames);
        }
        exp.push_back(last.child.seconds);
        peer.push_back(f);
        plain.push_back(p);
        half.push_back(last_half.child.seconds);
        export_peak = std::max(export_peak, last.child.peak_kib);
        half_peak = std::max(half_peak, last_half.child.peak_kib);
    }
    fs::remove_all(dir + "/export");
    fs::remove(dir + "/export.json");
    if (!ok) {
        std::printf("RUN FAILED: a run failed or runs differed\n");
        return 1;
    }

    const double e = median(exp), f = median(peer), p = median(plain), h = median(half);
    const double src = static_cast<double>(source_bytes) / kMB;
    const double half_src = static_cast<double>(half_source_bytes) / kMB;
    std::printf(
        "16 channels over %d min, %.1f MB of source frames (page cache warm, median of %d runs):\n"
        "  export      %8.3f s  %7.0f MB/s  peak RSS %6.1f MiB  (%lld recorded frames of %lld, "
        "%.1f MB written)\n"
        "  ffmpeg      %8.3f s  %7.0f MB/s  peak RSS %6.1f MiB  (16 remuxes to AVI at 25 fps, "
        "summed)\n"
        "  plain read  %8.3f s  %7.0f MB/s  (%.1f MB of elementary streams)\n"
        "  ratio export/ffmpeg (source bytes per second, every file hashed and the report "
        "written): %.2f (target >= 3, aim 5)\n"
        "half the span (%d s, %.1f MB):\n"
        "  export      %8.3f s  %7.0f MB/s  peak RSS %6.1f MiB  (%lld recorded frames of %lld)\n"
        "  peak RSS full/half span: %.2f\n"
        "last full export: %.2f s user, %.2f s system; this process's own peak RSS %.1f MiB "
        "(a floor for the children's)\n",
        minutes, src, kRuns, e, src / e, static_cast<double>(export_peak) / 1024.0, last.recorded_frames, frames,
        static_cast<double>(last.out_bytes) / kMB, f, src / f, static_cast<double>(ffmpeg_peak) / 1024.0, p,
        static_cast<double>(read_bytes) / kMB / p, static_cast<double>(read_bytes) / kMB, f / e,
        span / 2, half_src, h, half_src / h, static_cast<double>(half_peak) / 1024.0, last_half.recorded_frames,
        half_frames, static_cast<double>(export_peak) / static_cast<double>(half_peak), last.child.user,
        last.child.sys, static_cast<double>(self_peak_kib()) / 1024.0);
    // The export starts each channel at its second GOP and reports what it placed in the span;
    // a count that differs from the volume's is shown rather than judged here.
    if (last.recorded_frames != frames) {
        std::printf("note: the export placed %lld of the volume's %lld frames (%lld fewer: %.1f per "
                    "channel)\n",
                    last.recorded_frames, frames, frames - last.recorded_frames,
                    static_cast<double>(frames - last.recorded_frames) / kVideo);
    }
    if (std::getenv("QUILLON_BENCH_KEEP") != nullptr) {
        std::printf("kept %s and the streams (QUILLON_BENCH_KEEP)\n", image.c_str());
        return 0;
    }
    for (const Channel& c : channels) fs::remove(c.stream_path);
    fs::remove(image);
    return 0;
}
