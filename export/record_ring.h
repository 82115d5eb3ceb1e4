// The record ring of a channel writer: the byte queue through which the playback thread hands a
// channel's frames and audio blocks to the channel's writer thread, with the two signals that
// wake that thread (data queued, stop).
//
// Queueing never writes past the ring. When a record does not fit, the producer waits for the
// writer to make room, but only while a writer is active and at most for the ring's room wait;
// a record that still does not fit is dropped and counted, so a stopped or stuck writer cannot
// hang the playback thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "storage/api.h"

inline constexpr int32_t kRecordVideo = 0;
inline constexpr int32_t kRecordAudio = 1;

// Largest data of one record: the largest frame the stream reader can deliver. Frames are
// queued whole; a longer one is refused and counted, never cut.
inline constexpr int32_t kRecordDataMax = kFrameBufferSize;

// A frame or audio block as the job stages it and the writer thread keeps it in a group slot.
struct ExportRecord {
    int32_t kind = kRecordVideo;
    int32_t channel = 0;
    DateTime time{};          // for video, milliseconds holds the frame's milliseconds
    uint32_t time_stamp = 0;  // recorder seconds; 0 for audio
    int32_t key = 0;          // 1 = key frame
    int32_t length = 0;
    uint8_t* data = nullptr;  // the record's own buffer
};

// The 36-byte header of a queued record; `length` data bytes follow it in the ring.
struct QueuedHeader {
    int32_t kind;
    int32_t channel;
    uint32_t time_stamp;
    int32_t key;
    int32_t length;
    DateTime time;
};
static_assert(sizeof(QueuedHeader) == 36);

struct RecordRingStats {
    uint64_t queued = 0;   // records appended
    uint64_t waits = 0;    // records that had to wait for room
    uint64_t dropped = 0;  // records refused: no room in time, writer stopped, or no memory
};

class RecordRing {
  public:
    // The ring's size at allocation; it grows only for a record larger than itself. Unread
    // bytes move to the start once the write position passes two thirds of the ring.
    static constexpr size_t kSize = 2097152;
    static constexpr size_t kHeaderSize = sizeof(QueuedHeader);
    // Unread bytes above which an idle writer is woken whatever the record.
    static constexpr size_t kWakeAbove = kSize / 4;
    static constexpr std::chrono::milliseconds kDefaultRoomWait{5000};

    explicit RecordRing(std::chrono::milliseconds room_wait = kDefaultRoomWait);
    RecordRing(const RecordRing&) = delete;
    RecordRing& operator=(const RecordRing&) = delete;

    // The ring's memory, empty and with fresh counters; false when it cannot be had. Release
    // drops whatever is queued.
    bool allocate();
    void release();

    // Empty ring, signals cleared, no writer active.
    void reset();

    // --- Producer -------------------------------------------------------------------------
    // Appends the header and header.length bytes of data (a negative or too long length is
    // refused). False when the record was dropped.
    bool push(const QueuedHeader& header, const uint8_t* data);

    // --- Writer thread --------------------------------------------------------------------
    // From now on producers may wait for room.
    void start_writer();
    // Sets the stop signal: the writer's wait ends, producers stop waiting for room.
    void stop();
    // Blocks until there is work: a record of a new second, a ring filling up, or a drain
    // asking for the rest; or stop. True when stopped; stop wins.
    bool wait_for_work();
    bool stopping() const;
    // Blocks until the writer has taken everything queued and waits for more, or no writer is
    // active. Lets a caller finish a channel with every queued second written.
    void wait_drained();

    // The header of the oldest unread record; false when the ring is empty.
    bool front(QueuedHeader* header) const;
    // Copies the oldest record's data to destination (its header's length bytes) and removes it.
    void take(uint8_t* destination);
    // Removes the oldest record unread.
    void discard();

    size_t unread() const;
    RecordRingStats stats() const;
    // Producers waiting for room right now (lets tests hold a producer at the bound).
    int waiting_producers() const;
    // The writer waits in wait_for_work right now.
    bool writer_waiting() const;

  private:
    void compact();  // lock held
    void grow(size_t need);  // lock held
    void pop(uint8_t* destination);

    const std::chrono::milliseconds room_wait_;
    mutable std::mutex lock_;
    std::condition_variable work_;  // data queued or stop
    std::condition_variable room_;  // bytes taken or stop
    std::condition_variable idle_;  // the writer went idle, or stop
    std::unique_ptr<uint8_t[]> bytes_;
    size_t capacity_ = 0;
    size_t read_ = 0;
    size_t write_ = 0;
    bool data_signal_ = false;  // auto-reset: cleared by wait_for_work
    bool stop_signal_ = false;  // manual reset: cleared only by reset
    bool writer_active_ = false;
    bool writer_idle_ = false;  // the writer waits in wait_for_work
    uint32_t last_stamp_ = 0;   // time stamp of the last video record queued
    int waiting_ = 0;
    RecordRingStats stats_;
};
