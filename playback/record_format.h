// The records a recorder writes into its video and audio channels. A GOP record is a 96-byte
// header, the frames of one group of pictures and a 4-byte trailer that repeats the GOP length;
// an audio record is a 32-byte header, the audio bytes and the same kind of trailer. Records are
// copied byte for byte into these structures (little-endian host, see disk/format.h).
#pragma once

#include <cstdint>

#include "disk/format.h"

inline constexpr uint32_t kStartBits = 0xFF0FF0FF;

inline constexpr int32_t kGopHeaderSize = 96;
inline constexpr int32_t kAudioHeaderSize = 32;
inline constexpr int32_t kTrailerSize = 4;
inline constexpr int kMaxGopFrames = 16;
// A GOP (header and frames) has to fit the video read buffer.
inline constexpr int32_t kMaxGopLength = 0x110000;
// The audio bytes of one record have to fit the audio read buffer.
inline constexpr int32_t kMaxAudioSample = 9216;

// The converted record time that stands for "no time".
inline constexpr uint32_t kInvalidRecordTime = 32399;

// Calendar fields of a record time, as the recorder writes them.
struct RecordTime {
    uint8_t day;    // 1..31
    uint8_t month;  // 1..12
    uint16_t year;  // four digits
    uint8_t second;
    uint8_t minute;
    uint16_t hour;
};
static_assert(sizeof(RecordTime) == 8);

struct GopHeader {
    uint32_t start_bits;
    RecordTime time;
    uint32_t milliseconds;           // 0..999
    uint32_t gop_length;             // header and frames, without the trailer
    uint32_t previous_length;        // the previous GOP's length; 0 or 96: not known
    uint32_t frame_count;            // 1..16
    uint32_t frames[kMaxGopFrames];  // frame table in stored order; unused entries 0
    uint32_t picture_size;           // bits 12..23 width, 0..11 height, 24..31 flags
};
static_assert(sizeof(GopHeader) == kGopHeaderSize);

struct AudioHeader {
    uint32_t start_bits;
    RecordTime time;
    uint32_t milliseconds;
    uint32_t unused;
    uint32_t total_size;     // header and audio bytes, without the trailer
    uint32_t previous_size;  // the previous audio record's total size
    uint32_t sample;         // audio bytes after the header
};
static_assert(sizeof(AudioHeader) == kAudioHeaderSize);

// --- Frame table entries -------------------------------------------------------------------
inline constexpr uint32_t kFrameLengthMask = 0xFFFF;
inline constexpr uint32_t kFrameTypeMask = 0xC0000000;

inline constexpr int64_t frame_bytes(uint32_t entry) {
    return int64_t{entry & kFrameLengthMask} * 4;
}
inline constexpr uint32_t frame_time_step(uint32_t entry) {
    return (entry >> 16) & 0x3FFF;
}
inline constexpr uint32_t frame_type(uint32_t entry) {
    return entry >> 30;
}
inline constexpr uint32_t frame_entry(uint32_t words, uint32_t time_step, uint32_t type) {
    return (words & kFrameLengthMask) | (time_step & 0x3FFF) << 16 | (type & 3) << 30;
}

// --- Picture size ------------------------------------------------------------------------------
inline constexpr uint32_t picture_width(uint32_t size) {
    return (size >> 12) & 0xFFF;
}
inline constexpr uint32_t picture_height(uint32_t size) {
    return size & 0xFFF;
}
inline constexpr uint32_t picture_flags(uint32_t size) {
    return size >> 24;
}
inline constexpr uint32_t picture_size(uint32_t width, uint32_t height, uint32_t flags) {
    return (width & 0xFFF) << 12 | (height & 0xFFF) | (flags & 0xFF) << 24;
}
