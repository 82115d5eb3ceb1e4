// Hashes finished export files on threads of their own: each file is read back from the disk and
// hashed as soon as it is closed, while the job goes on writing the next ones, so that the
// report's digests cost little more than the writing itself.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FileDigest {
    bool ok = false;
    uint64_t size = 0;   // bytes hashed
    std::string sha256;  // lower-case hex; empty when the file could not be read
};

class FileHasher {
public:
    static constexpr int kDefaultThreads = 2;

    explicit FileHasher(int threads = kDefaultThreads);
    ~FileHasher();
    FileHasher(const FileHasher&) = delete;
    FileHasher& operator=(const FileHasher&) = delete;

    // Queues a closed file. A path given again is hashed again: its last digest counts.
    void add(const std::string& path);
    // Waits until every queued file is hashed; the digests so far, by path.
    std::map<std::string, FileDigest> wait();
    // Forgets every digest (a new job); waits for files still being hashed first.
    void clear();

private:
    void work();

    const int threads_wanted_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable idle_;
    std::deque<std::string> queue_;
    std::map<std::string, FileDigest> done_;
    int busy_ = 0;
    bool quit_ = false;
    std::vector<std::thread> threads_;
};
