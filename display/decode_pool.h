// The decoding threads: a few workers take channels that have frames waiting from one ring.
// A channel is in the ring at most once and is handed to one worker at a time, so each
// channel decodes in order on one thread while different channels decode side by side.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace display {

// Niceness of the workers (Linux schedules threads one by one).
inline constexpr int kWorkerNice = 5;

// Workers for a machine: one per core, at least one, at most four.
int decode_thread_count();

class DecodePool {
public:
    // `work` decodes some of a channel's frames and returns true when the channel still has
    // frames waiting (it goes to the back of the ring) or false once it found none.
    DecodePool(int threads, int channels, std::function<bool(int)> work);
    ~DecodePool();
    DecodePool(const DecodePool&) = delete;
    DecodePool& operator=(const DecodePool&) = delete;

    // Puts a channel in the ring; the caller makes sure it is not there already and not being
    // worked on. Never blocks for longer than the ring's lock.
    void schedule(int channel);
    // Lets the workers finish the channel they hold and joins them. Idempotent.
    void stop();

private:
    void run();

    std::function<bool(int)> work_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<int> ring_;
    size_t head_ = 0;
    size_t count_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace display
