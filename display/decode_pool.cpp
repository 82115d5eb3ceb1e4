#include "display/decode_pool.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace display {

int decode_thread_count() {
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 4u));
}

DecodePool::DecodePool(int threads, int channels, std::function<bool(int)> work)
    : work_(std::move(work)), channels_(std::clamp(channels, 1, kPoolMaxChannels)) {
    const int n = std::max(threads, 1);
    threads_.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        threads_.emplace_back([this, i] { run(static_cast<unsigned>(i)); });
    }
}

DecodePool::~DecodePool() { stop(); }

void DecodePool::schedule(int channel) {
    if (channel < 0 || channel >= channels_) return;
    ready_.fetch_or(1u << channel, std::memory_order_seq_cst);
    // A worker going to sleep counts itself and then looks at ready_: one of the two sides sees
    // the other (both sequentially consistent).
    if (sleepers_.load(std::memory_order_seq_cst) == 0) return;
    signal_.fetch_add(1, std::memory_order_seq_cst);
    signal_.notify_all();
}

void DecodePool::stop() {
    stopping_.store(true);
    signal_.fetch_add(1);
    signal_.notify_all();
    for (std::thread& t : threads_) {
        if (t.joinable()) t.join();
    }
    threads_.clear();
}

// Takes one handed-in channel, looking from *next on so that no channel waits behind others.
int DecodePool::claim(unsigned* next) {
    uint32_t ready = ready_.load(std::memory_order_acquire);
    while (ready != 0) {
        const unsigned n = static_cast<unsigned>(channels_);
        int found = -1;
        for (unsigned k = 0; k < n && found < 0; ++k) {
            const unsigned c = (*next + k) % n;
            if (ready & (1u << c)) found = static_cast<int>(c);
        }
        if (found < 0) return -1;
        const uint32_t bit = 1u << found;
        if (ready_.compare_exchange_weak(ready, ready & ~bit, std::memory_order_acq_rel)) {
            *next = static_cast<unsigned>(found) + 1;
            return found;
        }
    }
    return -1;
}

namespace {

// Decoding is background work next to the playback thread, whose frame calls the engine's
// pacing times, and the UI thread, which paints.
void lower_priority() {
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, tid, kWorkerNice);
    pthread_setname_np(pthread_self(), "display-decode");
}

}  // namespace

void DecodePool::sleep_until_woken() {
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    const uint32_t seen = signal_.load(std::memory_order_seq_cst);
    if (ready_.load(std::memory_order_seq_cst) == 0 && !stopping_.load()) {
        signal_.wait(seen);  // returns at once if woken since `seen`
    }
    sleepers_.fetch_sub(1, std::memory_order_seq_cst);
}

void DecodePool::run(unsigned first) {
    lower_priority();
    unsigned next = first;
    auto last_work = std::chrono::steady_clock::now();
    while (!stopping_.load()) {
        const int channel = claim(&next);
        if (channel >= 0) {
            if (work_(channel)) schedule(channel);
            last_work = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - last_work <
                   std::chrono::milliseconds(kIdleBeforeSleepMs)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        } else {
            sleep_until_woken();
            last_work = std::chrono::steady_clock::now();
        }
    }
}

}  // namespace display
