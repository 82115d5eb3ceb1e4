#include "export/record_ring.h"

#include <algorithm>
#include <cstring>
#include <new>

RecordRing::RecordRing(std::chrono::milliseconds room_wait) : room_wait_(room_wait) {}

bool RecordRing::allocate() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!bytes_ || capacity_ != kSize) {
        bytes_.reset(new (std::nothrow) uint8_t[kSize]);
        capacity_ = bytes_ ? kSize : 0;
    }
    read_ = write_ = 0;
    stats_ = {};
    return bytes_ != nullptr;
}

void RecordRing::release() {
    std::lock_guard<std::mutex> guard(lock_);
    // Under the lock, so that a producer racing a close sees no ring instead of freed memory.
    bytes_.reset();
    capacity_ = 0;
    read_ = write_ = 0;
    room_.notify_all();
}

void RecordRing::reset() {
    std::lock_guard<std::mutex> guard(lock_);
    read_ = write_ = 0;
    last_stamp_ = 0;
    data_signal_ = stop_signal_ = writer_active_ = writer_idle_ = false;
}

bool RecordRing::push(const QueuedHeader& header, const uint8_t* data) {
    if (header.length < 0 || header.length > kRecordDataMax ||
        (header.length > 0 && data == nullptr)) {
        std::lock_guard<std::mutex> guard(lock_);
        ++stats_.dropped;
        return false;
    }
    const size_t need = kHeaderSize + static_cast<size_t>(header.length);
    std::unique_lock<std::mutex> guard(lock_);
    const auto deadline = std::chrono::steady_clock::now() + room_wait_;
    bool waited = false;
    for (;;) {
        if (!bytes_) break;
        if (need > capacity_ / 2) grow(need);
        if (write_ + need > capacity_ && read_ > 0) compact();
        if (write_ + need <= capacity_) break;
        // Wait for the writer only while there is one to wait for.
        if (!writer_active_ || stop_signal_) break;
        waited = true;
        ++waiting_;
        const bool timed_out = room_.wait_until(guard, deadline) == std::cv_status::timeout;
        --waiting_;
        if (timed_out) {
            if (bytes_ && read_ > 0) compact();
            break;
        }
    }
    if (waited) ++stats_.waits;
    if (!bytes_ || write_ + need > capacity_) {
        ++stats_.dropped;
        return false;
    }
    std::memcpy(bytes_.get() + write_, &header, kHeaderSize);
    if (header.length > 0)
        std::memcpy(bytes_.get() + write_ + kHeaderSize, data, need - kHeaderSize);
    write_ += need;
    if (write_ > capacity_ / 3 * 2) compact();
    ++stats_.queued;
    data_signal_ = true;
    // The writer can place a second only once the next one begins, so an idle writer is woken
    // when a record of a new second arrives (audio carries no time stamp and never does), or
    // when the ring fills up: one thread switch per second instead of one per record. A busy
    // writer looks for more before it waits again.
    const bool new_second = header.time_stamp != 0 && header.time_stamp != last_stamp_;
    if (header.time_stamp != 0) last_stamp_ = header.time_stamp;
    const bool wake = writer_idle_ && (new_second || write_ - read_ > kWakeAbove);
    guard.unlock();
    if (wake) work_.notify_one();
    return true;
}

// A frame longer than half the ring: the ring grows to hold two of them beside what is unread,
// so that it is queued whole and the writer can take one while the next is queued. Rare, and
// never more than twice the largest frame.
void RecordRing::grow(size_t need) {
    const size_t unread = write_ - read_;
    const size_t size = std::max(capacity_ * 2, unread + 2 * need);
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[size]);
    if (!bigger) return;
    if (unread > 0) std::memcpy(bigger.get(), bytes_.get() + read_, unread);
    bytes_ = std::move(bigger);
    capacity_ = size;
    read_ = 0;
    write_ = unread;
}

void RecordRing::compact() {
    const size_t unread = write_ - read_;
    if (read_ > 0 && unread > 0) std::memmove(bytes_.get(), bytes_.get() + read_, unread);
    write_ = unread;
    read_ = 0;
}

void RecordRing::start_writer() {
    std::lock_guard<std::mutex> guard(lock_);
    writer_active_ = true;
}

void RecordRing::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stop_signal_ = true;
        writer_active_ = false;
    }
    work_.notify_all();
    room_.notify_all();
    idle_.notify_all();
}

bool RecordRing::wait_for_work() {
    std::unique_lock<std::mutex> guard(lock_);
    if (!stop_signal_ && !data_signal_) {
        writer_idle_ = true;
        idle_.notify_all();
        work_.wait(guard, [this] { return stop_signal_ || data_signal_; });
        writer_idle_ = false;
    }
    data_signal_ = false;
    return stop_signal_;
}

void RecordRing::wait_drained() {
    std::unique_lock<std::mutex> guard(lock_);
    // Records of the second still being collected did not wake the writer.
    if (read_ != write_) {
        data_signal_ = true;
        work_.notify_one();
    }
    idle_.wait(guard, [this] {
        return !writer_active_ || stop_signal_ ||
               (writer_idle_ && read_ == write_ && !data_signal_);
    });
}

bool RecordRing::stopping() const {
    std::lock_guard<std::mutex> guard(lock_);
    return stop_signal_;
}

bool RecordRing::front(QueuedHeader* header) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (!bytes_ || write_ - read_ < kHeaderSize) return false;
    std::memcpy(header, bytes_.get() + read_, kHeaderSize);
    return true;
}

void RecordRing::take(uint8_t* destination) {
    pop(destination);
}

void RecordRing::discard() {
    pop(nullptr);
}

void RecordRing::pop(uint8_t* destination) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!bytes_ || write_ - read_ < kHeaderSize) return;
        QueuedHeader header;
        std::memcpy(&header, bytes_.get() + read_, kHeaderSize);
        const size_t length = static_cast<size_t>(header.length);
        if (destination != nullptr && length > 0) {
            std::memcpy(destination, bytes_.get() + read_ + kHeaderSize, length);
        }
        read_ += kHeaderSize + length;
        if (read_ == write_) read_ = write_ = 0;
        if (waiting_ == 0) return;
    }
    room_.notify_all();
}

size_t RecordRing::unread() const {
    std::lock_guard<std::mutex> guard(lock_);
    return write_ - read_;
}

RecordRingStats RecordRing::stats() const {
    std::lock_guard<std::mutex> guard(lock_);
    return stats_;
}

int RecordRing::waiting_producers() const {
    std::lock_guard<std::mutex> guard(lock_);
    return waiting_;
}

bool RecordRing::writer_waiting() const {
    std::lock_guard<std::mutex> guard(lock_);
    return writer_idle_;
}
