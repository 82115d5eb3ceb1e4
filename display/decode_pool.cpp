#include "display/decode_pool.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace display {

int decode_thread_count() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}

DecodePool::DecodePool(int threads, int channels, std::function<bool(int)> work)
    : work_(std::move(work)), ring_(static_cast<size_t>(std::max(channels, 1))) {
    const int n = std::max(threads, 1);
    threads_.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) threads_.emplace_back([this] { run(); });
}

DecodePool::~DecodePool() { stop(); }

void DecodePool::schedule(int channel) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (stopping_ || count_ == ring_.size()) return;
        ring_[(head_ + count_) % ring_.size()] = channel;
        ++count_;
    }
    wake_.notify_one();
}

void DecodePool::stop() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) {
        if (t.joinable()) t.join();
    }
    threads_.clear();
}

namespace {

// Decoding is background work next to the playback thread, whose frame calls the engine's
// pacing times, and the UI thread, which paints: a worker woken by a frame call must not take
// the core from the caller in the middle of that call.
void lower_priority() {
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, tid, kWorkerNice);
}

}  // namespace

void DecodePool::run() {
    lower_priority();
    std::unique_lock<std::mutex> guard(mutex_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || count_ > 0; });
        if (stopping_) return;
        const int channel = ring_[head_];
        head_ = (head_ + 1) % ring_.size();
        --count_;
        guard.unlock();
        const bool more = work_(channel);
        guard.lock();
        if (more && !stopping_) {
            ring_[(head_ + count_) % ring_.size()] = channel;
            ++count_;
        }
    }
}

}  // namespace display
