// Reads the scan plan's blocks one ahead of the parser, on a thread of its own, so that the disk
// and the parser work at the same time. Two buffers of a block each: memory does not grow with
// the disk. Only this thread reads the disk while a scan runs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "recover/carver_areas.h"

namespace recover {

// The pieces [first, last) of one block, read from byte `from` of the block into `data`.
struct ReadBlock {
    size_t first = 0, last = 0;
    uint32_t from = 0;
    int32_t rc = 0;  // the sector read's result; data holds nothing when it is not 0
    const uint8_t* data = nullptr;
};

class BlockReader {
public:
    explicit BlockReader(const ScanPlan& plan);
    ~BlockReader();  // stops the thread, also half way
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // Allocates the buffers and starts reading; false when memory runs out.
    bool start();
    // The next block in plan order, once read; false after the last. The block's data stays valid
    // until the next call.
    bool next(ReadBlock* block);

private:
    struct Buffer {
        std::unique_ptr<uint8_t[]> bytes;
        ReadBlock block;
        bool full = false;
    };
    void run();

    const ScanPlan& plan_;
    Buffer buffers_[2];
    size_t handed_out_ = 0;  // blocks given to the parser so far
    bool holding_ = false;   // the parser holds the buffer of the last block handed out
    bool stop_ = false;
    bool done_ = false;      // the thread has read its last block
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

}  // namespace recover
