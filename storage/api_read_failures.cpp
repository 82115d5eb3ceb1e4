// The read failures the engine met during play, kept for the user interface in a bounded queue
// with a lock of its own: the playback thread adds to it with the API lock held, and the user
// interface takes from it without ever waiting for a whole engine pass.
#include <algorithm>
#include <deque>
#include <mutex>

#include "storage/api_state.h"

namespace {

struct FailureQueue {
    std::mutex mutex;
    std::deque<PlaybackReadFailure> list;
    uint32_t dropped = 0;
};

FailureQueue& queue() {
    static FailureQueue q;
    return q;
}

}  // namespace

void api_push_read_failure(const PlaybackReadFailure& failure) {
    FailureQueue& q = queue();
    std::lock_guard<std::mutex> guard(q.mutex);
    // A reader that never takes them must not make the queue grow without bound: the newest
    // failures say most about where play stands now.
    while (q.list.size() >= static_cast<size_t>(kReadFailureQueue)) {
        q.list.pop_front();
        ++q.dropped;
    }
    q.list.push_back(failure);
}

void api_clear_read_failures() {
    FailureQueue& q = queue();
    std::lock_guard<std::mutex> guard(q.mutex);
    q.list.clear();
    q.dropped = 0;
}

int32_t api_take_read_failures(PlaybackReadFailure* list, int32_t max) {
    if (list == nullptr || max <= 0) return 0;
    FailureQueue& q = queue();
    std::lock_guard<std::mutex> guard(q.mutex);
    const auto n = static_cast<int32_t>(std::min<size_t>(q.list.size(), static_cast<size_t>(max)));
    std::copy_n(q.list.begin(), n, list);
    q.list.erase(q.list.begin(), q.list.begin() + n);
    return n;
}

uint32_t api_read_failures_dropped() {
    FailureQueue& q = queue();
    std::lock_guard<std::mutex> guard(q.mutex);
    return q.dropped;
}
