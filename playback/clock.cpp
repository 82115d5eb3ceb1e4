#include "playback/clock.h"

#include <atomic>
#include <chrono>

#include "storage/api_state.h"

namespace {

class SystemClock final : public PlaybackClock {
public:
    uint32_t tick_ms() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    }
    // A timed wait that api_wake() cuts short, so a new play mode is seen at once.
    void sleep_ms(int ms) override {
        if (ms > 0) api_nap(ms);
    }
};

std::atomic<PlaybackClock*>& installed() {
    static std::atomic<PlaybackClock*> clock{nullptr};
    return clock;
}

}  // namespace

PlaybackClock& playback_clock() {
    static SystemClock system;
    PlaybackClock* c = installed().load();
    return c != nullptr ? *c : system;
}

void playback_set_clock(PlaybackClock* clock) { installed().store(clock); }
