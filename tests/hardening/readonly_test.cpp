// Nothing opens a recorder image for writing. This executable defines open, open64, openat and
// openat64 itself (they take precedence over the C library's and the sanitizer's, which they
// forward to) and records the flags of every open of a file in the image folder. The core then
// scans, mounts, searches, reads the logs, plays and exports in-process; the tool runs every
// command; and the image's bytes and modification time are compared before and after.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "export/backup_job.h"
#include "platform/container.h"
#include "tests/hardening/playback_fixture.h"
#include "tests/testkit/tool_run.h"
#include "tools/sample/log_records.h"
#include "tools/sample/test_pattern.h"

namespace {

struct OpenRecord {
    char path[256];
    int flags;
};

// Filled from inside open itself: fixed storage, no allocation, no locks that open could need.
struct OpenLog {
    std::atomic<bool> armed{false};
    char folder[256] = {};
    size_t folder_length = 0;
    std::atomic<size_t> count{0};
    OpenRecord records[4096];
};
OpenLog g_log;

void note(const char* path, int flags) {
    if (!g_log.armed.load() || path == nullptr) return;
    if (std::strncmp(path, g_log.folder, g_log.folder_length) != 0) return;
    const size_t i = g_log.count.fetch_add(1);
    if (i >= std::size(g_log.records)) return;
    std::snprintf(g_log.records[i].path, sizeof g_log.records[i].path, "%s", path);
    g_log.records[i].flags = flags;
}

bool takes_mode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);

template <typename Fn>
Fn next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

int forward_open(const char* name, const char* path, int flags, mode_t mode) {
    note(path, flags);
    static OpenFn real_open = next<OpenFn>("open");
    static OpenFn real_open64 = next<OpenFn>("open64");
    OpenFn fn = std::strcmp(name, "open64") == 0 ? real_open64 : real_open;
    if (fn == nullptr) return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
    return fn(path, flags, mode);
}

int forward_openat(const char* name, int dir, const char* path, int flags, mode_t mode) {
    note(path, flags);
    static OpenAtFn real_openat = next<OpenAtFn>("openat");
    static OpenAtFn real_openat64 = next<OpenAtFn>("openat64");
    OpenAtFn fn = std::strcmp(name, "openat64") == 0 ? real_openat64 : real_openat;
    if (fn == nullptr) return static_cast<int>(::syscall(SYS_openat, dir, path, flags, mode));
    return fn(dir, path, flags, mode);
}

mode_t mode_of(int flags, va_list args) {
    return takes_mode(flags) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" {
int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    return forward_open("open", path, flags, mode);
}
int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    return forward_open("open64", path, flags, mode);
}
int openat(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    return forward_openat("openat", dir, path, flags, mode);
}
int openat64(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_of(flags, args);
    va_end(args);
    return forward_openat("openat64", dir, path, flags, mode);
}
}

namespace {

using testkit::kT0;

constexpr int kWriteFlags = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;

std::vector<OpenRecord> recorded() {
    const size_t n = std::min(g_log.count.load(), std::size(g_log.records));
    return {g_log.records, g_log.records + n};
}

void watch(const std::string& folder) {
    std::snprintf(g_log.folder, sizeof g_log.folder, "%s/", folder.c_str());
    g_log.folder_length = std::strlen(g_log.folder);
    g_log.count = 0;
    g_log.armed = true;
}

// Opens of the image seen since watch(); fails the test for any that asked for more than reading.
size_t read_only_opens_of(const std::string& image) {
    g_log.armed = false;
    size_t n = 0;
    for (const OpenRecord& r : recorded()) {
        if (image != r.path) continue;
        ++n;
        EXPECT_EQ(r.flags & O_ACCMODE, O_RDONLY) << r.path;
        EXPECT_EQ(r.flags & kWriteFlags, 0) << r.path << " flags " << std::hex << r.flags;
    }
    return n;
}

TEST(ReadOnlyDriveLayer, OpensWithReadOnlyFlagsAndTheInterpositionSeesIt) {
    testkit::TempDir dir;
    const std::string path = dir.file("drive.img");
    // A write open seen by the same hook shows that it would catch one.
    watch(dir.path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 1 << 20), 0);
    ::close(fd);
    ASSERT_EQ(recorded().size(), 1u);
    EXPECT_EQ(recorded()[0].flags & kWriteFlags, O_WRONLY | O_CREAT | O_TRUNC);

    watch(dir.path());
    auto drive = platform::open_system_drive(path.c_str());
    ASSERT_NE(drive, nullptr);
    ASSERT_EQ(recorded().size(), 1u);
    EXPECT_EQ(recorded()[0].flags & O_ACCMODE, O_RDONLY);
    EXPECT_EQ(read_only_opens_of(path), 1u);
}

class ReadOnlyCore : public hardening::PlaybackFaultTest {
protected:
    void SetUp() override {
        PlaybackFaultTest::SetUp();
        platform::set_drive_opener({});  // the real opener: its own open is what is checked
    }
    void TearDown() override {
        g_log.armed = false;
        PlaybackFaultTest::TearDown();
    }
    sample::DiskSpec logged_recording() {
        sample::DiskSpec spec = recording(kT0, kT0 + 30);
        sample::ChannelData events, system;
        events.channel = 26;
        system.channel = 28;
        for (uint32_t i = 0; i < 20; ++i) {
            events.writes.push_back({kT0 + i, sample::event_log_record(kT0 + i, 0, 2)});
            system.writes.push_back({kT0 + i, sample::system_log_record(kT0 + i, "UP")});
        }
        // A still at 07:00:05 and its capture log record (channels 23 and 27 of count 29).
        sample::ChannelData stills, captures;
        stills.channel = 23;
        captures.channel = 27;
        const std::vector<uint8_t> jpeg = sample::encode_jpeg(
            sample::test_pattern(64, 48, sample::caption_for(1, kT0 + 5), 0), 80);
        stills.writes.push_back({kT0 + 5, sample::capture_image_record(kT0 + 5, jpeg)});
        captures.writes.push_back({kT0 + 5, sample::capture_log_record(kT0 + 5, 1, kT0 + 5)});
        for (sample::ChannelData* c : {&events, &stills, &captures, &system})
            spec.bare.recorder.content.channels.push_back(*c);
        return spec;
    }
    int32_t mount_path(const std::string& path) {
        if (platform::attach_image(path) < 0) return DVR_ENODISK;
        DiskEntry table[kDiskTableSize];
        if (int32_t rc = api_scan_disks(table); rc != 0) return rc;
        if (int32_t rc = api_mount_disk(0); rc != 0) return rc;
        return api_mount_session(0);
    }
    testkit::TempDir out_;
};

TEST_F(ReadOnlyCore, EveryOperationOpensTheImageReadOnly) {
    const std::string image = testkit::make_image(dir_, "evidence.img", logged_recording());
    const std::string before = testkit::fingerprint(image);
    watch(dir_.path());
    ASSERT_EQ(mount_path(image), 0);
    std::vector<uint32_t> months(size_t{kMonthMapMonths} * kMonthMapEntries, 0), day(kDaySlots, 0);
    EXPECT_GT(tvfs_getexistmonthlog(months.data()), 0);
    EXPECT_EQ(tvfs_getsearchlog(kT0, day.data()), 0);
    std::vector<EventLogRecord> events(kEventLogMax);
    std::vector<SystemLogRecord> system(kSystemLogMax);
    EXPECT_EQ(api_get_event_log(kT0, events.data()), 20);
    EXPECT_EQ(api_get_system_log(kT0, system.data()), 20);
    uint8_t still[64];
    api_read_capture_image(kT0, still, sizeof still);
    ASSERT_EQ(api_set_channel_mask(0x1), 0x1);
    for (int32_t mode : {PM_PLAY, PM_REW_4, PM_FF_8}) play(kT0 + 10, mode, 20);
    EXPECT_GE(frames().size(), 20u);
    api_exit();
    reset();

    // The export, with its files in a folder of their own.
    BackupJob job;
    BackupJob::install(&job);
    ASSERT_EQ(api_init(0, BackupJob::frame_callback, BackupJob::status_callback), 0);
    ASSERT_EQ(mount_path(image), 0);
    ASSERT_EQ(job.start(kT0 + 2, kT0 + 12, 0x1, out_.file("avi")), 0);
    EXPECT_TRUE(wait_for([&] { return !job.process(20); }));
    BackupJob::install(nullptr);
    EXPECT_EQ(job.files().size(), 1u);

    // Scan, two mounts, and nothing else touched the image (the positive control: at least
    // the opens the drive layer is known to make were seen).
    EXPECT_GE(read_only_opens_of(image), 4u);
    EXPECT_EQ(testkit::fingerprint(image), before);
}

TEST_F(ReadOnlyCore, EveryToolCommandLeavesTheImageAndItsTimeUnchanged) {
    const std::string image = testkit::make_image(dir_, "evidence.img", logged_recording());
    const char* cli = std::getenv("QUILLON_CLI");
    ASSERT_NE(cli, nullptr);
    struct stat st_before {};
    ASSERT_EQ(::stat(image.c_str(), &st_before), 0);
    const std::string sha = "sha256sum " + testkit::quoted(image);
    const std::string digest = testkit::run_tool(out_, sha).out;
    ASSERT_EQ(digest.size(), 64u + 2u + image.size() + 1u) << digest;
    const std::string tool = testkit::quoted(cli) + " --image " + testkit::quoted(image) + " ";
    const char* t = "'2026-03-14 07:00:05'";
    const std::vector<std::string> commands = {
        "scan", "info", "channels", "read --channel 3 --offset 0 --length 5000", "calendar",
        "day --date 2026-03-14", "log event --date 2026-03-14", "log system --date 2026-03-14",
        "log capture --date 2026-03-14",
        std::string("capture-image --time ") + t + " --out " + testkit::quoted(out_.file("c.jpg")),
        std::string("frames --channels 1 --count 30 --from ") + t,
        std::string("frames --channels 1 --mode rew4 --count 10 --from ") + t,
        std::string("export --channels 1 --from ") + t + " --to '2026-03-14 07:00:15' --out " +
            testkit::quoted(out_.file("avi"))};
    for (const std::string& c : commands) {
        const testkit::ToolRun r = testkit::run_tool(out_, tool + c + " >/dev/null");
        EXPECT_EQ(r.status, 0) << c << ": " << r.err;
    }
    // An output named after the evidence, by its path or a link to it, is refused.
    const std::string link = out_.file("link.img");
    ASSERT_EQ(::symlink(image.c_str(), link.c_str()), 0);
    for (const std::string& target : {image, link}) {
        const testkit::ToolRun r = testkit::run_tool(
            out_, tool + "capture-image --time " + t + " --out " + testkit::quoted(target));
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("refusing to write the capture image over the disk " + image),
                  std::string::npos) << r.err;
    }
    EXPECT_EQ(testkit::run_tool(out_, tool + "--json calendar").status, 0);
    struct stat st_after {};
    ASSERT_EQ(::stat(image.c_str(), &st_after), 0);
    EXPECT_EQ(testkit::run_tool(out_, sha).out, digest);
    EXPECT_EQ(st_after.st_mtim.tv_sec, st_before.st_mtim.tv_sec);
    EXPECT_EQ(st_after.st_mtim.tv_nsec, st_before.st_mtim.tv_nsec);
    EXPECT_EQ(st_after.st_size, st_before.st_size);
}
// The evidence as E01 segment sets and split raw pieces: every file of the set, opened by the
// core and by every command of the tool, is opened read-only and keeps its bytes and its time.
class ReadOnlyContainers : public ReadOnlyCore {
protected:
    // One small disk as several uncompressed E01 segments, and as raw pieces.
    void make_sets() {
        sample::DiskSpec spec = logged_recording();
        spec.total_sectors = 1u << 17;  // 64 MiB: 64 segments of 1 MiB
        image_ = testkit::make_image(dir_, "evidence.img", spec);
        const std::string acquire = "ewfacquire -u -q -c none -S 1048576 -t " +
                                    testkit::quoted(dir_.file("set")) + " " + testkit::quoted(image_);
        ASSERT_EQ(testkit::run_tool(out_, acquire + " >/dev/null").status, 0);
        ASSERT_EQ(testkit::run_tool(out_, "split -b 3999999 -d -a 3 --numeric-suffixes=1 " +
                                              testkit::quoted(image_) + " " +
                                              testkit::quoted(dir_.file("piece."))).status, 0);
        e01_ = platform::container_files(dir_.file("set.E01"));
        split_ = platform::container_files(dir_.file("piece.001"));
        ASSERT_GE(e01_.size(), 60u);
        ASSERT_EQ(split_.size(), 17u);
    }
    // Digest, size and modification time of every file of a set.
    std::string state_of(const std::vector<std::string>& files) {
        std::string command = "sha256sum";
        for (const std::string& f : files) command += " " + testkit::quoted(f);
        std::string state = testkit::run_tool(out_, command).out;
        for (const std::string& f : files) {
            struct stat st {};
            EXPECT_EQ(::stat(f.c_str(), &st), 0) << f;
            state += std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                     std::to_string(st.st_mtim.tv_nsec) + "\n";
        }
        return state;
    }
    // The core mounts the set, searches, plays; every file was opened, and only for reading.
    void check_core(const std::vector<std::string>& set) {
        const std::string before = state_of(set);
        watch(dir_.path());
        ASSERT_EQ(mount_path(set.front()), 0);
        std::vector<uint32_t> months(size_t{kMonthMapMonths} * kMonthMapEntries, 0), day(kDaySlots, 0);
        EXPECT_GT(tvfs_getexistmonthlog(months.data()), 0);
        EXPECT_EQ(tvfs_getsearchlog(kT0, day.data()), 0);
        ASSERT_EQ(api_set_channel_mask(0x1), 0x1);
        play(kT0 + 10, PM_PLAY, 20);
        EXPECT_GE(frames().size(), 20u);
        api_exit();
        reset();
        for (const std::string& f : set) EXPECT_GE(read_only_opens_of(f), 1u) << f;
        EXPECT_EQ(state_of(set), before);
    }
    std::string image_;
    std::vector<std::string> e01_, split_;
};

TEST_F(ReadOnlyContainers, TheCoreOpensEveryE01SegmentReadOnly) {
    ASSERT_NO_FATAL_FAILURE(make_sets());
    check_core(e01_);
}

TEST_F(ReadOnlyContainers, TheCoreOpensEverySplitPieceReadOnly) {
    ASSERT_NO_FATAL_FAILURE(make_sets());
    check_core(split_);
}

TEST_F(ReadOnlyContainers, EveryToolCommandLeavesEverySegmentAndPieceAndItsTimeUnchanged) {
    ASSERT_NO_FATAL_FAILURE(make_sets());
    const char* cli = std::getenv("QUILLON_CLI");
    ASSERT_NE(cli, nullptr);
    const char* t = "'2026-03-14 07:00:05'";
    for (const std::vector<std::string>* set : {&e01_, &split_}) {
        SCOPED_TRACE(set->front());
        const std::string before = state_of(*set);
        const std::string tool = testkit::quoted(cli) + " --image " + testkit::quoted(set->front()) + " ";
        const std::vector<std::string> commands = {
            "scan", "info", "channels", "read --channel 3 --offset 0 --length 5000", "calendar",
            "day --date 2026-03-14", "log event --date 2026-03-14", "log system --date 2026-03-14",
            "log capture --date 2026-03-14",
            std::string("capture-image --time ") + t + " --out " + testkit::quoted(out_.file("c.jpg")),
            std::string("frames --channels 1 --count 30 --from ") + t,
            std::string("export --channels 1 --from ") + t + " --to '2026-03-14 07:00:15' --out " +
                testkit::quoted(out_.file("avi"))};
        for (const std::string& c : commands) {
            const testkit::ToolRun r = testkit::run_tool(out_, tool + c + " >/dev/null");
            EXPECT_EQ(r.status, 0) << c << ": " << r.err;
            EXPECT_EQ(state_of(*set), before) << "after " << c;
        }
        // No output may land on any file of the set, not only the one named on the command line.
        for (const std::string& target : {set->at(1), set->back()}) {
            const testkit::ToolRun r = testkit::run_tool(
                out_, tool + "capture-image --time " + t + " --out " + testkit::quoted(target));
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_NE(r.err.find("refusing to write the capture image over the disk " + set->front()),
                      std::string::npos) << r.err;
        }
        EXPECT_EQ(state_of(*set), before);
    }
}

}  // namespace
