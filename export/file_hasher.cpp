#include "export/file_hasher.h"

#include <algorithm>

#include "platform/sha256.h"

FileHasher::FileHasher(int threads) : threads_wanted_(std::max(1, threads)) {}

FileHasher::~FileHasher() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        quit_ = true;
    }
    queued_.notify_all();
    for (std::thread& t : threads_) t.join();
}

// The threads start with the first file, so that a job that writes nothing costs none.
void FileHasher::add(const std::string& path) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        queue_.push_back(path);
        if (static_cast<int>(threads_.size()) < threads_wanted_ &&
            static_cast<int>(threads_.size()) < static_cast<int>(queue_.size()) + busy_) {
            threads_.emplace_back(&FileHasher::work, this);
        }
    }
    queued_.notify_one();
}

// Once everything is hashed the threads end: a job that is over keeps no thread of its own
// (the next file starts them again).
std::map<std::string, FileDigest> FileHasher::wait() {
    std::vector<std::thread> ending;
    std::map<std::string, FileDigest> digests;
    {
        std::unique_lock<std::mutex> guard(mutex_);
        idle_.wait(guard, [&] { return queue_.empty() && busy_ == 0; });
        digests = done_;
        quit_ = true;
        ending.swap(threads_);
    }
    queued_.notify_all();
    for (std::thread& t : ending) t.join();
    std::lock_guard<std::mutex> guard(mutex_);
    quit_ = false;
    return digests;
}

void FileHasher::clear() {
    std::unique_lock<std::mutex> guard(mutex_);
    idle_.wait(guard, [&] { return queue_.empty() && busy_ == 0; });
    done_.clear();
}

void FileHasher::work() {
    std::unique_lock<std::mutex> guard(mutex_);
    for (;;) {
        queued_.wait(guard, [&] { return quit_ || !queue_.empty(); });
        if (queue_.empty()) return;  // quitting with nothing left to do
        const std::string path = queue_.front();
        queue_.pop_front();
        ++busy_;
        guard.unlock();
        FileDigest d;
        d.ok = platform::sha256_file(path, &d.sha256, &d.size) == 0;
        guard.lock();
        done_[path] = d;
        --busy_;
        if (queue_.empty() && busy_ == 0) idle_.notify_all();
    }
}
