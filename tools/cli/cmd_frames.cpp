// frames: runs the playback engine without pacing and prints every callback as a JSON line.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <mutex>
#include <thread>

#include "storage/api.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"
#include "platform/sha256.h"

namespace cli {
namespace {

// What the callbacks hand over; they run on the playback thread with the API lock held, so
// they only queue lines.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> lines;
    std::atomic<int64_t> frames{0};
};

Collector& collector() {
    static Collector c;
    return c;
}

void push(std::string line) {
    Collector& c = collector();
    {
        std::lock_guard<std::mutex> guard(c.mutex);
        c.lines.push_back(std::move(line));
    }
    c.changed.notify_all();
}

// What a frame line's kind means to a reader of the output.
const char* kind_name(int32_t kind) {
    switch (kind) {
        case FRAME_KIND_VIDEO: return "video";
        case FRAME_KIND_AUDIO: return "audio";
        case FRAME_KIND_PREROLL: return "preroll";  // decoded for the frames after it, not shown
        default: return "unknown";
    }
}

void on_frame(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data, int32_t length,
              int32_t kind, uint32_t picture_size) {
    Json j{{"slot", slot}, {"time", time}, {"time_text", time_text(time)}, {"ms", msec},
           {"kind", kind}, {"kind_name", kind_name(kind)}, {"length", length},
           {"picture_size", picture_size},
           {"sha256", platform::sha256_hex(data, static_cast<size_t>(length))}};
    ++collector().frames;
    push(j.dump());
}

// A failure's own line: what could not be read, from when, and where the slot goes on.
Json failure_line(const PlaybackReadFailure& f) {
    Json j{{"status", PLAYBACK_STATUS_READ_ERROR}, {"slot", f.slot}, {"error", f.error},
           {"error_text", dvrfs_strerror(f.error)}};
    put_time(j, "failed_at", f.failed_at);
    put_time(j, "resumed_at", f.resumed_at);
    return j;
}

void on_status(int32_t code, int32_t slot) {
    if (code == PLAYBACK_STATUS_READ_ERROR) {
        // The engine records each failure just before it reports it: the one taken here.
        PlaybackReadFailure taken[kReadFailureQueue];
        const int32_t n = api_take_read_failures(taken, kReadFailureQueue);
        for (int32_t i = 0; i < n; ++i) push(failure_line(taken[i]).dump());
        if (n > 0) return;
    }
    push(Json{{"status", code}, {"slot", slot}}.dump());
}

const std::map<std::string, int32_t>& mode_names() {
    static const std::map<std::string, int32_t> names = {
        {"play", PM_PLAY},       {"ff2", PM_FF_2},         {"ff4", PM_FF_4},
        {"ff8", PM_FF_8},        {"ff16", PM_FF_16},       {"ff32", PM_FF_32},
        {"rew1", PM_REW_1},      {"rew2", PM_REW_2},       {"rew4", PM_REW_4},
        {"rew8", PM_REW_8},      {"rew16", PM_REW_16},     {"rew32", PM_REW_32},
        {"frame-f", PM_FRAME_F}, {"frame-b", PM_FRAME_B},  {"minute-f", PM_MINUTE_F},
        {"minute-b", PM_MINUTE_B}};
    return names;
}

}  // namespace

// Channel list "1,2,5" (video channels as the user numbers them) as a mask.
std::optional<uint32_t> parse_channel_list(const std::string& list) {
    uint32_t mask = 0;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, comma - at);
        int n = 0;
        try {
            size_t used = 0;
            n = std::stoi(item, &used);
            if (used != item.size()) return std::nullopt;
        } catch (...) {
            return std::nullopt;
        }
        if (n < 1 || n > kVideoChannels) return std::nullopt;
        mask |= 1u << (n - 1);
        at = comma + 1;
    }
    return mask != 0 ? std::optional<uint32_t>(mask) : std::nullopt;
}

namespace {

bool finished(int32_t mode) {
    const int32_t now = api_play_mode();
    return now == PM_STOP || (now == PM_PAUSE && mode != PM_PAUSE);
}

// Waits until the engine has left the mode; returns the mode it took.
int32_t wait_while_mode(int32_t mode) {
    Collector& c = collector();
    std::unique_lock<std::mutex> guard(c.mutex);
    while (api_play_mode() == mode) c.changed.wait_for(guard, std::chrono::milliseconds(5));
    return api_play_mode();
}

// A minute jump moves from the play clock and then returns to the mode that played; from a
// stop there is neither. A frame step at the time sets the clock, the jump follows, then play
// from where it landed. Returns the mode to run in: PM_PLAY, or PM_STOP when the step found
// nothing to play.
std::optional<int32_t> start_minute_jump(int32_t jump) {
    if (api_set_play_mode(PM_FRAME_F) < 0) return std::nullopt;
    if (wait_while_mode(PM_FRAME_F) == PM_STOP) return PM_STOP;
    if (api_set_play_mode(jump) < 0) return std::nullopt;
    wait_while_mode(jump);
    if (api_set_play_mode(PM_PLAY) < 0) return std::nullopt;
    return PM_PLAY;
}

bool is_minute_jump(int32_t mode) { return mode == PM_MINUTE_F || mode == PM_MINUTE_B; }

}  // namespace

int run_frames(const GlobalOptions&, const SessionOptions& session, const FramesOptions& frames) {
    const auto mask = parse_channel_list(frames.channels);
    if (!mask) return usage_error("--channels " + frames.channels + ": expected video channels 1..16, e.g. 1,2");
    const auto from = parse_time(frames.from);
    if (!from) return usage_error("--from " + frames.from + ": expected YYYY-MM-DD HH:MM:SS");
    int32_t mode = PM_PLAY;
    if (!frames.mode.empty()) {
        auto it = mode_names().find(frames.mode);
        if (it == mode_names().end()) return usage_error("--mode " + frames.mode + ": unknown play mode");
        mode = it->second;
    }

    SessionScope scope;
    if (int rc = scope.open(session, on_frame, on_status); rc != kExitOk) return rc;
    api_set_no_pacing(1);
    api_set_key_frame_only(frames.key_frames_only ? 1 : 0);
    if (api_set_channel_mask(*mask) < 0 || api_play_from(*from) < 0) {
        return fail("the engine refused the channels or the time");
    }
    if (is_minute_jump(mode)) {
        const auto started = start_minute_jump(mode);
        if (!started) return fail("the engine refused the minute jump");
        mode = *started;
    } else if (api_set_play_mode(mode) < 0) {
        return fail("the engine refused the play mode");
    }

    Collector& c = collector();
    int64_t printed = 0;
    const int64_t limit = frames.count ? *frames.count : -1;
    for (;;) {
        std::unique_lock<std::mutex> guard(c.mutex);
        c.changed.wait_for(guard, std::chrono::milliseconds(20));
        while (!c.lines.empty() && (limit < 0 || printed < limit)) {
            std::cout << c.lines.front() << '\n';
            if (c.lines.front().rfind("{\"slot\"", 0) == 0) ++printed;
            c.lines.pop_front();
        }
        if ((limit >= 0 && printed >= limit) || (c.lines.empty() && finished(mode))) break;
    }
    api_set_play_mode(PM_STOP);
    std::cout.flush();
    return scope.finish(kExitOk);
}

}  // namespace cli
