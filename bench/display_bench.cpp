// The video display under a full recorder's load, against a peer in the same run:
//  - 16 D1 channels (704x576 H.264, 25 frames a second) played paced through the engine into
//    the widget (1280x960, 16 splits, offscreen): the process's CPU share, its peak resident
//    memory and the time spent in each frame call (the engine's pacing counts it);
//  - peer: 16 `ffmpeg -re -threads 1 -f h264 -i X -f null -` processes on the same streams
//    for the same time, half before and half after the display (decoding only: no scaling,
//    no painting);
//  - one stream decoded unpaced on one thread against `ffmpeg -threads 1`.
// Usage: quillon-bench-display [--seconds N] (default 60; the recording lasts 70 seconds).
#include <QApplication>
#include <QTimer>

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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "decode/channel_decoder.h"
#include "display/video_display.h"
#include "tests/testkit/engine_player.h"
#include "tools/sample/sample.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kSpanStart = sample::kDefaultTime / 3600 * 3600 - 3600;
constexpr int kRecordedSeconds = 70;

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double cpu_seconds(const rusage& u) {
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double self_cpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return cpu_seconds(u);
}

long self_peak_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

pid_t spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

struct Waited {
    bool ok = false;
    double cpu = 0;
    long peak_kib = 0;
};

Waited wait_child(pid_t pid) {
    Waited w;
    int status = 0;
    rusage u{};
    if (pid <= 0 || wait4(pid, &status, 0, &u) != pid) return w;
    w.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    w.cpu = cpu_seconds(u);
    w.peak_kib = u.ru_maxrss;
    return w;
}

// The image is written by a child, so that the builder's memory never counts as ours.
bool build_image(const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        bool known = false;
        std::string error;
        const int rc = sample::write_image(path, sample::preset("recorder-d1", &known), nullptr,
                                           &error);
        if (rc != 0) std::fprintf(stderr, "%s\n", error.c_str());
        _exit(rc == 0 && known ? 0 : 1);
    }
    return wait_child(pid).ok;
}

// Keeps every video frame: each channel's frames written one after the other make the
// elementary stream ffmpeg reads; channel 1's are also kept for the single-stream decode.
class StreamDump : public DisplayControl {
public:
    explicit StreamDump(const std::string& dir) {
        for (int c = 0; c < 16 && !dir.empty(); ++c) {
            files_[c] = std::fopen((dir + "/ch" + std::to_string(c + 1) + ".h264").c_str(), "wb");
        }
    }
    ~StreamDump() override {
        for (FILE* f : files_) {
            if (f) std::fclose(f);
        }
    }
    struct Frame {
        std::vector<uint8_t> bytes;
        uint32_t picture_size;
        decode::FrameTime time;
    };
    std::vector<Frame> first;
    uint64_t frames = 0;

    void frame(const uint8_t* data, uint32_t seconds, uint32_t ms, DisplayFrameKind kind,
               uint32_t length, uint32_t picture_size, int32_t channel) override {
        if (kind != DisplayFrameKind::Video || channel < 0 || channel >= 16) return;
        if (files_[channel]) std::fwrite(data, 1, length, files_[channel]);
        if (channel == 0) first.push_back({{data, data + length}, picture_size, {seconds, ms}});
        ++frames;
    }
    void set_owner(uintptr_t) override {}
    int32_t set_title(std::string_view) override { return 0; }
    int32_t set_version(std::string_view) override { return 0; }
    void set_up(int32_t, int32_t) override {}
    void set_layout(int32_t, int32_t) override {}
    int32_t selected_channel() const override { return 0; }
    void clear() override {}
    void set_volume(int32_t) override {}
    int32_t capture(const std::string&) override { return -1; }
    void export_closed(int32_t, int32_t) override {}
    int32_t export_closed_reset(int32_t, int32_t, int32_t, std::string_view, int32_t, int32_t,
                                int32_t) override {
        return 0;
    }

private:
    FILE* files_[16] = {};
};

class NullDisplay : public StreamDump {
public:
    NullDisplay() : StreamDump("") {}
    void frame(const uint8_t*, uint32_t, uint32_t, DisplayFrameKind, uint32_t, uint32_t,
               int32_t) override {}
};

// Runs the Qt event loop until `done` says so or `limit` seconds passed.
template <class F>
void run_loop(QApplication& app, double limit, F done) {
    const auto start = Clock::now();
    while (seconds_since(start) < limit && !done()) {
        app.processEvents(QEventLoop::AllEvents, 50);
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

struct PeerRun {
    double cpu = 0;
    double wall = 0;
    long peak_kib = 0;  // summed over the processes
    bool ok = true;
};

// 16 ffmpeg processes decoding the channels' streams in real time for `seconds`.
PeerRun run_peers(const std::string& dir, int seconds) {
    PeerRun run;
    std::vector<pid_t> peers;
    const auto start = Clock::now();
    for (int c = 1; c <= 16; ++c) {
        peers.push_back(spawn({"ffmpeg", "-nostdin", "-v", "error", "-re", "-threads", "1", "-f",
                               "h264", "-i", dir + "/ch" + std::to_string(c) + ".h264", "-t",
                               std::to_string(seconds), "-f", "null", "-"}));
    }
    for (pid_t p : peers) {
        const Waited w = wait_child(p);
        run.ok = run.ok && w.ok;
        run.cpu += w.cpu;
        run.peak_kib += w.peak_kib;
    }
    run.wall = seconds_since(start);
    return run;
}

double our_decode_fps(const std::vector<StreamDump::Frame>& frames) {
    decode::ChannelDecoder decoder;
    const auto start = Clock::now();
    int pictures = 0;
    for (const auto& f : frames) {
        if (decoder.decode(f.bytes.data(), f.bytes.size(), f.picture_size, f.time) == 1) ++pictures;
    }
    return pictures / seconds_since(start);
}

double ffmpeg_decode_fps(const std::string& stream, size_t frames) {
    const auto start = Clock::now();
    const Waited w = wait_child(spawn({"ffmpeg", "-nostdin", "-v", "error", "-threads", "1", "-f",
                                       "h264", "-i", stream, "-f", "null", "-"}));
    const double wall = seconds_since(start);
    return w.ok ? static_cast<double>(frames) / wall : -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// CPU seconds of each of our threads so far, by name.
std::vector<std::pair<std::string, double>> thread_cpu() {
    std::vector<std::pair<std::string, double>> out;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const size_t open_paren = line.find('('), close_paren = line.rfind(')');
        if (open_paren == std::string::npos || close_paren == std::string::npos) continue;
        const std::string name = line.substr(open_paren + 1, close_paren - open_paren - 1);
        std::istringstream rest(line.substr(close_paren + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::atof(field.c_str());
            if (i == 15) stime = std::atof(field.c_str());
        }
        out.emplace_back(name, (utime + stime) / tick);
    }
    return out;
}

// Other processes on the machine make every share and latency worse: say how busy it was.
void print_load(const char* when) {
    double load[3] = {};
    if (getloadavg(load, 3) == 3) std::printf("  %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

const char* verdict(bool ok) { return ok ? "ok" : "MISSED"; }

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
    }
    if (const char* env = std::getenv("QUILLON_BENCH_SECONDS")) seconds = std::atoi(env);
    seconds = std::clamp(seconds, 5, kRecordedSeconds - 5);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    char dir_template[] = "/tmp/quillon-bench-display-XXXXXX";
    if (!mkdtemp(dir_template)) return 1;
    const std::string dir = dir_template;
    const std::string image = dir + "/d1.img";
    std::printf("display bench: 16 D1 channels, %d s paced, %u cores\n", seconds, cores);
    print_load("load before");
    auto t = Clock::now();
    if (!build_image(image)) {
        std::printf("RUN FAILED: the sample image could not be built\n");
        return 1;
    }
    std::printf("  sample image built in %.1f s\n", seconds_since(t));

    QApplication app(argc, argv);
    testkit::EnginePlayer player;
    StreamDump dump(dir);
    std::string error;
    if (player.open(image, &dump, &error) != 0 || player.display_channels() != 16) {
        std::printf("RUN FAILED: %s\n", error.c_str());
        return 1;
    }
    // The streams for the peers, through the engine unpaced.
    player.play(0xFFFF, kSpanStart, false);
    run_loop(app, 120, [&] { return player.ended(); });
    player.stop();
    player.set_display(nullptr);
    std::printf("  %llu frames written as elementary streams\n",
                static_cast<unsigned long long>(dump.frames));

    // The engine alone, paced, into a display that drops everything: what the display's own
    // share is measured above.
    NullDisplay null_display;
    player.set_display(&null_display);
    double cpu_base = self_cpu();
    t = Clock::now();
    player.play(0xFFFF, kSpanStart, true);
    run_loop(app, seconds, [] { return false; });
    const double engine_share = (self_cpu() - cpu_base) / seconds_since(t) / cores * 100;
    player.stop();
    player.set_display(nullptr);

    // The peer runs half before the display and half after, so that a change in what else the
    // machine runs weighs on both alike.
    const PeerRun peers_before = run_peers(dir, seconds / 2);

    // The display, paced.
    auto* widget = new display::VideoDisplay();
    widget->resize(1280, 960);
    widget->show();
    widget->set_layout(kDisplayAllChannels, 16);
    widget->set_volume(8);
    app.processEvents();
    player.record_call_times(static_cast<size_t>(seconds + 10) * 16 * 30);
    player.set_display(widget);
    const long rss_before = self_peak_kib();
    const auto threads_before = thread_cpu();
    const double cpu0 = self_cpu();
    t = Clock::now();
    player.play(0xFFFF, kSpanStart, true);
    run_loop(app, seconds, [] { return false; });
    const double wall = seconds_since(t);
    const double cpu = self_cpu() - cpu0;
    const auto threads_after = thread_cpu();
    player.stop();
    player.set_display(nullptr);
    const long peak_kib = self_peak_kib();
    QImage shot = widget->grab().toImage();
    shot.save("/tmp/display-16.png");
    uint64_t pictures = 0, dropped = 0, failed = 0;
    for (int c = 0; c < 16; ++c) {
        const display::ChannelStats s = widget->channel_stats(c);
        pictures += s.pictures;
        dropped += s.dropped;
        failed += s.failed;
    }
    const uint64_t paints = widget->paints();
    const double paint_ms = widget->paint_seconds() * 1000 / static_cast<double>(std::max<uint64_t>(paints, 1));
    delete widget;
    std::vector<int64_t> times = player.call_times();
    std::sort(times.begin(), times.end());
    std::vector<int64_t> cpu_times = player.call_cpu_times();
    std::sort(cpu_times.begin(), cpu_times.end());
    const double cpu_p99_us =
        cpu_times.empty() ? 0 : static_cast<double>(cpu_times[cpu_times.size() * 99 / 100]) / 1000.0;
    const double p99_us = times.empty() ? 0 : static_cast<double>(times[times.size() * 99 / 100]) / 1000.0;
    auto at = [&](size_t permille) {
        return times.empty() ? 0.0 : static_cast<double>(times[times.size() * permille / 1000]) / 1000.0;
    };
    const double p50_us = at(500), p90_us = at(900);
    const double max_us = times.empty() ? 0 : static_cast<double>(times.back()) / 1000.0;

    const PeerRun peers_after = run_peers(dir, seconds - seconds / 2);
    const double peer_cpu = peers_before.cpu + peers_after.cpu;
    const double peer_wall = peers_before.wall + peers_after.wall;
    const long peer_kib = std::max(peers_before.peak_kib, peers_after.peak_kib);
    const bool peer_ok = peers_before.ok && peers_after.ok;

    // One stream unpaced on one thread, interleaved with ffmpeg, median of three.
    std::vector<double> ours, theirs;
    for (int run = 0; run < 3; ++run) {
        ours.push_back(our_decode_fps(dump.first));
        theirs.push_back(ffmpeg_decode_fps(dir + "/ch1.h264", dump.first.size()));
    }
    const double our_fps = median(ours), ffmpeg_fps = median(theirs);

    const double share = cpu / wall / cores * 100;
    const double peer_share = peer_cpu / peer_wall / cores * 100;
    const double mib = static_cast<double>(peak_kib) / 1024.0;
    std::printf("\n  %-34s %12s %12s %s\n", "measure", "display", "target", "");
    std::printf("  %-34s %11.1f%% %11s  %s\n", "CPU share (user+sys/wall/cores)", share, "<= 45%",
                verdict(share <= 45));
    std::printf("  %-34s %11.1f%%\n", "  of which the engine alone", engine_share);
    std::printf("  %-34s %11.1f%% %11s  %s\n", "peer: 16 ffmpeg -re -threads 1", peer_share,
                ">= display", peer_ok ? verdict(share <= peer_share) : "PEER FAILED");
    std::printf("  %-34s %11.1f%% %11s  %s\n", "display without the engine", share - engine_share,
                "<= peer", verdict(share - engine_share <= peer_share));
    std::printf("  %-34s %9.1f MiB %11s  %s\n", "peak RSS", mib, "<= 250 MB",
                verdict(mib * 1024 * 1024 <= 250e6));
    std::printf("  %-34s %10.1f us %11s  %s\n", "frame call p99", p99_us, "< 50 us",
                verdict(p99_us < 50));
    std::printf("  %-34s %10.1f us %11s  %s\n", "frame call p99, thread CPU time", cpu_p99_us,
                "< 50 us", verdict(cpu_p99_us < 50));
    std::printf("  %-34s %10.1f us\n", "frame call max", max_us);
    std::printf("  %-34s %10.1f us\n", "frame call p50", p50_us);
    std::printf("  %-34s %10.1f us\n", "frame call p90", p90_us);
    std::printf("  %-34s %8.0f fps %11s  %s\n", "one stream, 1 thread, unpaced", our_fps,
                ">= 0.9x", verdict(our_fps >= 0.9 * ffmpeg_fps));
    std::printf("  %-34s %8.0f fps\n", "ffmpeg -threads 1, same stream", ffmpeg_fps);
    std::printf("\n  wall %.1f s, frame calls %zu, pictures %llu, dropped %llu, failed %llu, "
                "paints %llu (%.1f/s, %.2f ms each), peak RSS before play %.1f MiB, peers' RSS sum %.1f MiB\n",
                wall, times.size(), static_cast<unsigned long long>(pictures),
                static_cast<unsigned long long>(dropped), static_cast<unsigned long long>(failed),
                static_cast<unsigned long long>(paints), static_cast<double>(paints) / wall, paint_ms,
                static_cast<double>(rss_before) / 1024.0,
                static_cast<double>(peer_kib) / 1024.0);
    std::printf("  threads' CPU during play (s):");
    for (const auto& [name, after] : threads_after) {
        double before = 0;
        for (const auto& [n, b] : threads_before) {
            if (n == name && b <= after) before = b;
        }
        if (after - before >= 0.05) std::printf(" %s %.2f", name.c_str(), after - before);
    }
    std::printf("\n");
    print_load("load after");
    std::printf("  screenshot: /tmp/display-16.png\n");
    std::filesystem::remove_all(dir);
    return 0;
}
