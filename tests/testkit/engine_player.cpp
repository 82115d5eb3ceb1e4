#include "tests/testkit/engine_player.h"

#include <time.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/drive.h"
#include "storage/api.h"
#include "storage/api_state.h"

namespace testkit {
namespace {

// The engine's callbacks are plain functions: what they reach lives here, one player at a time.
struct Route {
    std::atomic<DisplayControl*> display{nullptr};
    std::atomic<int> display_channels{0};
    std::atomic<bool> ended{false};
    std::atomic<uint64_t> frames{0};
    std::mutex times_mutex;  // taken by the UI side only while reading or resizing
    std::vector<int64_t> times;
    std::vector<int64_t> cpu_times;
    std::atomic<size_t> times_used{0};
    std::atomic<bool> timing{false};
};

Route& route() {
    static Route r;
    return r;
}

void on_frame(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data, int32_t length,
              int32_t kind, uint32_t picture_size) {
    Route& r = route();
    DisplayControl* display = r.display.load();
    if (display == nullptr || length <= 0 || slot < 0) return;
    const int video = r.display_channels.load();
    const bool audio = slot >= video;
    const int32_t channel = audio ? slot - video : slot;
    timespec cpu0{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
    const auto started = std::chrono::steady_clock::now();
    const DisplayFrameKind shown = audio || kind == FRAME_KIND_AUDIO ? DisplayFrameKind::Audio
                                   : kind == FRAME_KIND_PREROLL    ? DisplayFrameKind::Preroll
                                                                   : DisplayFrameKind::Video;
    display->frame(data, time, static_cast<uint32_t>(msec), shown, static_cast<uint32_t>(length),
                   picture_size, channel);
    const auto took = std::chrono::steady_clock::now() - started;
    timespec cpu1{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
    r.frames.fetch_add(1);
    if (r.timing.load()) {
        const size_t at = r.times_used.load();
        if (at < r.times.size()) {
            r.times[at] = std::chrono::duration_cast<std::chrono::nanoseconds>(took).count();
            r.cpu_times[at] = (cpu1.tv_sec - cpu0.tv_sec) * 1000000000LL + (cpu1.tv_nsec - cpu0.tv_nsec);
            r.times_used.store(at + 1);
        }
    }
}

void on_status(int32_t code, int32_t slot) {
    if (code == PLAYBACK_STATUS_NO_DATA && slot == -1) route().ended.store(true);
}

bool mountable(const DiskEntry& e) {
    return e.fs_type == FS_PSOS || e.fs_type == FS_BACKUP10 || e.fs_type == FS_BACKUP20;
}

}  // namespace

EnginePlayer::~EnginePlayer() {
    stop();
    if (started_) set_display(nullptr);
    if (started_) api_exit();
    platform::detach_all();
}

int EnginePlayer::open(const std::string& image, DisplayControl* display, std::string* error) {
    Route& r = route();
    r.display.store(display);
    r.ended.store(false);
    r.frames.store(0);
    if (platform::attach_image(image) < 0) {
        *error = "cannot attach " + image;
        return -1;
    }
    if (api_init(0, on_frame, on_status) != 0) {
        *error = "api_init failed";
        return -1;
    }
    started_ = true;
    DiskEntry table[kDiskTableSize];
    if (api_scan_disks(table) < 0) {
        *error = "scan failed";
        return -1;
    }
    int row = -1;
    for (int i = 0; i < api_disk_count() && row < 0; ++i) {
        if (mountable(table[i])) row = i;
    }
    if (row < 0 || api_mount_disk(row) != 0 || api_mount_session(0) != 0) {
        *error = "no mountable session";
        return -1;
    }
    display_channels_ = api_display_channels();
    r.display_channels.store(display_channels_);
    return 0;
}

int EnginePlayer::play(uint32_t mask, uint32_t from, bool pacing) {
    route().ended.store(false);
    api_set_no_pacing(pacing ? 0 : 1);
    if (api_set_channel_mask(mask) < 0 || api_play_from(from) < 0) return -1;
    return api_set_play_mode(PM_PLAY) < 0 ? -1 : 0;
}

void EnginePlayer::stop() {
    if (!started_) return;
    api_set_play_mode(PM_STOP);
    // The engine leaves the mode on its next pass; wait for it so that no callback runs after.
    for (int i = 0; i < 500 && api_play_mode() != PM_STOP; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The engine holds the lock for a whole pass: once we have it, no callback is running.
    std::lock_guard<std::mutex> pass(api_state().lock);
}

void EnginePlayer::set_display(DisplayControl* display) {
    route().display.store(display);
    std::lock_guard<std::mutex> pass(api_state().lock);  // a call in flight has returned
}

bool EnginePlayer::ended() const { return route().ended.load(); }

void EnginePlayer::record_call_times(size_t capacity) {
    Route& r = route();
    r.timing.store(false);
    r.times.assign(capacity, 0);
    r.cpu_times.assign(capacity, 0);
    r.times_used.store(0);
    r.timing.store(capacity > 0);
}

std::vector<int64_t> EnginePlayer::call_times() const {
    Route& r = route();
    const size_t used = r.times_used.load();
    return std::vector<int64_t>(r.times.begin(), r.times.begin() + static_cast<long>(used));
}

std::vector<int64_t> EnginePlayer::call_cpu_times() const {
    Route& r = route();
    const size_t used = r.times_used.load();
    return std::vector<int64_t>(r.cpu_times.begin(), r.cpu_times.begin() + static_cast<long>(used));
}

uint64_t EnginePlayer::frames() const { return route().frames.load(); }

}  // namespace testkit
