// The read-ahead of the scan: the thread fills buffer i % 2 with block i, in plan order.
#include "recover/carver_reader.h"

#include <new>

#include "disk/disk.h"
#include "disk/format.h"

namespace recover {

BlockReader::BlockReader(const ScanPlan& plan) : plan_(plan) {}

BlockReader::~BlockReader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool BlockReader::start() {
    for (Buffer& b : buffers_) {
        b.bytes.reset(new (std::nothrow) uint8_t[plan_.block_size]);
        if (!b.bytes) return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void BlockReader::run() {
    size_t index = 0;
    for (size_t first = 0; first < plan_.pieces.size(); ++index) {
        size_t last = first + 1;
        while (last < plan_.pieces.size() && plan_.pieces[last].sector == plan_.pieces[first].sector) {
            ++last;
        }
        Buffer& b = buffers_[index % 2];
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || !b.full; });
            if (stop_) return;
        }
        // The buffer is the thread's own until it is marked full.
        const ScanPiece& head = plan_.pieces[first];
        const uint32_t from = head.begin / kSectorSize * kSectorSize;
        const uint32_t to =
            (plan_.pieces[last - 1].end + kSectorSize - 1) / kSectorSize * kSectorSize;
        const int32_t rc = hdd_read_sectors(head.sector + from / kSectorSize,
                                            (to - from) / kSectorSize, b.bytes.get());
        {
            std::lock_guard<std::mutex> lock(mutex_);
            b.block = ReadBlock{first, last, from, rc, b.bytes.get()};
            b.full = true;
        }
        changed_.notify_all();
        first = last;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    changed_.notify_all();
}

bool BlockReader::next(ReadBlock* block) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (holding_) {
        buffers_[(handed_out_ - 1) % 2].full = false;  // the parser is done with it
        holding_ = false;
        changed_.notify_all();
    }
    Buffer& b = buffers_[handed_out_ % 2];
    changed_.wait(lock, [&] { return b.full || done_; });
    if (!b.full) return false;
    *block = b.block;
    ++handed_out_;
    holding_ = true;
    return true;
}

}  // namespace recover
