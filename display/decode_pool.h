// The decoding threads: a few workers take channels that have frames waiting. A channel is
// handed in once (by whoever turned its scheduled flag on) and held by one worker at a time, so
// each channel decodes in order on one thread while different channels decode side by side.
// Handing a channel in takes no lock and, while frames keep coming, no system call: workers
// that found nothing to do look again after a few milliseconds, and only after a spell without
// frames (a pause, a stop) do they sleep until a hand-in wakes them. So the playback thread's
// frame call never waits for a worker, nor gives its core away by waking one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace display {

// Niceness of the workers (Linux schedules threads one by one).
inline constexpr int kWorkerNice = 5;
// How often an idle worker looks for work while frames come, and how long without work sends
// it to sleep until woken.
inline constexpr int kPollMs = 4;
inline constexpr int kIdleBeforeSleepMs = 200;
// Channels a pool can serve: one bit each.
inline constexpr int kPoolMaxChannels = 32;

// Workers for a machine: one per core, at least one, at most four.
int decode_thread_count();

class DecodePool {
public:
    // `work` decodes some of a channel's frames and returns true when the channel is still the
    // caller's (it is handed in again) or false once it let go of it.
    DecodePool(int threads, int channels, std::function<bool(int)> work);
    ~DecodePool();
    DecodePool(const DecodePool&) = delete;
    DecodePool& operator=(const DecodePool&) = delete;

    // Hands a channel in; the caller makes sure it is not handed in or held already.
    void schedule(int channel);
    // Lets the workers finish the channel they hold and joins them. Idempotent.
    void stop();

private:
    void run(unsigned first);
    int claim(unsigned* next);
    void sleep_until_woken();

    std::function<bool(int)> work_;
    int channels_;
    std::atomic<uint32_t> ready_{0};   // channels handed in, not yet claimed
    std::atomic<uint32_t> signal_{0};  // bumped to wake sleepers, and on stop
    std::atomic<int> sleepers_{0};     // workers asleep until woken
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> threads_;
};

}  // namespace display
