// The reader's per-slot state, record times, the checks every header passes before its lengths
// are used, and the read and seek helpers of the video and audio readers.
#include <cstring>

#include "playback/read_ahead.h"
#include "playback/reader_i.h"
#include "storage/api_state.h"

StreamReaderState& stream_reader_state() {
    // One for the process, search buffers included: nothing in the reader allocates.
    static StreamReaderState state{};
    return state;
}

void stream_reader_clear_slot(int32_t slot) {
    if (slot < 0 || slot >= kPlaybackSlots) return;
    std::memset(&stream_reader_state().slots[slot], 0, sizeof(SlotReader));
}

void stream_reader_reset() {
    for (int32_t slot = 0; slot < kPlaybackSlots; ++slot) stream_reader_clear_slot(slot);
    stream_reader_clear_read_errors();
}

int32_t reader_handle(int32_t slot) {
    if (slot < 0 || slot >= kPlaybackSlots) return -1;
    const int32_t fd = api_state().slots[slot];
    return fd < 0 ? -1 : fd;
}

namespace {

// A read that ended short either reached the end of the stored data or met a sector it could
// not read. At the tail a forward seek cannot move the position; anywhere else it can, and is
// undone.
bool stopped_before_tail(int32_t fd) {
    ChannelPosition before{}, after{};
    if (backup_tell(fd, &before) != 0 || !seek_by(fd, 1) || backup_tell(fd, &after) != 0) {
        return false;
    }
    if (before.block == after.block && before.offset == after.offset) return false;
    seek_by(fd, -1);
    return true;
}

void note_read_error(int32_t fd, int32_t code) {
    // Kept for the slot that reads this file, so that its end can be told from a failure.
    StreamReaderState& state = stream_reader_state();
    for (int32_t slot = 0; slot < kPlaybackSlots; ++slot) {
        if (api_state().slots[slot] == fd) state.read_errors[slot] = code;
    }
}

}  // namespace

int32_t reader_read(int32_t fd, void* buffer, int32_t length) {
    const int32_t n = read_ahead_read(fd, buffer, length);
    if (n < 0) {
        note_read_error(fd, n);
    } else if (n < length && stopped_before_tail(fd)) {
        // The channel layer hands over what it read before a failing sector; the caller sees a
        // short read, which must not pass for the end of the data.
        note_read_error(fd, DVR_EDISK);
    }
    return n;
}

int32_t stream_reader_read_error(int32_t slot) {
    if (slot < 0 || slot >= kPlaybackSlots) return 0;
    return stream_reader_state().read_errors[slot];
}

void stream_reader_set_read_error(int32_t slot, int32_t code) {
    if (slot >= 0 && slot < kPlaybackSlots) stream_reader_state().read_errors[slot] = code;
}

void reader_note_damage(int32_t fd) { note_read_error(fd, DVR_EBROKEN); }

void stream_reader_clear_read_errors() {
    for (int32_t& e : stream_reader_state().read_errors) e = 0;
}

int32_t read_exact(int32_t fd, void* buffer, int32_t length) {
    const int32_t n = reader_read(fd, buffer, length);
    if (n == length) return n;
    // Keep the position where it was, so that the slot's header and offset still describe it.
    if (n > 0) backup_lseek(fd, -int64_t{n}, SEEK_CURRENT);
    return n;
}

bool seek_by(int32_t fd, int64_t offset) {
    return backup_lseek(fd, offset, SEEK_CURRENT) == 0;
}

// --- Record times ---------------------------------------------------------------------------

namespace {

int days_in_month(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

uint32_t record_time_to_time(const RecordTime& t) {
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > days_in_month(t.year, t.month) ||
        t.hour > 23 || t.minute > 59 || t.second > 59) {
        return kInvalidRecordTime;
    }
    const DateTime date{t.year, t.month, 0, t.day, t.hour, t.minute, t.second, 0};
    uint32_t time = 0;
    systemtime_to_time(&date, &time);
    return time == 0 ? kInvalidRecordTime : time;
}

bool record_time_is_valid(const RecordTime& t) { return record_time_to_time(t) != kInvalidRecordTime; }

bool record_time_has_time(const RecordTime& t) {
    return record_time_to_time(t) != kInvalidRecordTime && t.year >= 1900 && t.month >= 2;
}

// --- Header checks ----------------------------------------------------------------------------

bool gop_lengths_valid(const GopHeader& h) {
    if (h.gop_length < kGopHeaderSize || h.gop_length > kMaxGopLength) return false;
    if (h.frame_count < 1 || h.frame_count > kMaxGopFrames) return false;
    int64_t frames = 0;
    for (uint32_t i = 0; i < h.frame_count; ++i) frames += frame_bytes(h.frames[i]);
    return frames <= int64_t{h.gop_length} - kGopHeaderSize;
}

bool audio_lengths_valid(const AudioHeader& h) {
    if (h.sample > kMaxAudioSample) return false;
    return h.total_size >= kAudioHeaderSize + h.sample &&
           h.total_size <= kAudioHeaderSize + kMaxAudioSample;
}

bool gop_is_end_mark(const GopHeader& h) {
    return has_start_bits(h) && h.frame_count == 0 && !record_time_has_time(h.time);
}

bool audio_is_end_mark(const AudioHeader& h) {
    return has_start_bits(h) && h.sample == 0 && !record_time_has_time(h.time);
}
