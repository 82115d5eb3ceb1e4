// The stream reader: moves through the video and audio channel files of the playback slots
// record by record, forward and backward, and finds its way back onto the start bits when a
// record is damaged. The playback engine is its only user; it calls under the API lock.
#pragma once

#include <cstdint>

#include "playback/record_format.h"
#include "storage/api.h"

// --- Video commands ---------------------------------------------------------------------------
enum VideoCommand : int32_t {
    PLAYBACK_VIDEO_READ = 48,
    PLAYBACK_VIDEO_CRRUENT_GOP_HEADER = 49,
    PLAYBACK_VIDEO_NEXT_FRAME = 50,
    PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_1 = 51,  // entries with bit 30 (type codes 1 and 3)
    PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_ANY = 52,
    PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_2 = 53,  // entries with bit 31 (type codes 2 and 3)
    PLAYBACK_VIDEO_NEXT_GOP_HEADER = 64,
    PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER = 65,
    PLAYBACK_VIDEO_SKIP_FRAME = 80,
    PLAYBACK_VIDEO_BACK_TWO_FRAMES = 81,
    PLAYBACK_VIDEO_GOP_DATA = 82,
};

// --- Audio commands ---------------------------------------------------------------------------
enum AudioCommand : int32_t {
    PLAYBACK_AUDIO_READ = 32,
    PLAYBACK_AUDIO_READ_2 = 33,
    PLAYBACK_AUDIO_HEADER = 34,
    PLAYBACK_AUDIO_DATA = 35,
    PLAYBACK_AUDIO_PREVIOUS_HEADER = 36,
    PLAYBACK_AUDIO_DATA_2 = 37,
};

inline constexpr int32_t kVideoSearchChunk = 40960;
inline constexpr int32_t kAudioSearchChunk = 8192;
inline constexpr int kSearchChunks = 20;

// What the reader keeps per slot. The engine reads the header copies and clears a slot with
// stream_reader_clear_slot when it positions the slot anew.
struct SlotReader {
    GopHeader video;          // current GOP header (video slots); all zero: none loaded
    AudioHeader audio;        // current audio header (audio slots); total size 0: consumed
    int32_t frames_consumed;  // frames of the current GOP the file position has passed
    // Bytes the position lies past the end of the current GOP header. Equal to the lengths of
    // the consumed frames when the caller reads frames as the table gives them; kept apart so
    // that the way back to the header and on to the trailer never depends on the caller.
    int64_t gop_offset;
};

struct StreamReaderState {
    SlotReader slots[kPlaybackSlots];
    // The last error code a channel read of the slot returned; 0 when none since the errors
    // were cleared. Kept apart from the slot, which the engine clears at the channel's end.
    int32_t read_errors[kPlaybackSlots];
    uint8_t video_search[kVideoSearchChunk];
    uint8_t audio_search[kAudioSearchChunk];
};

StreamReaderState& stream_reader_state();
// Every slot back to "no header loaded" (tests, and the engine when it starts over).
void stream_reader_reset();
void stream_reader_clear_slot(int32_t slot);

// The slot's last failed channel read (a negative error code: DVR_EDISK also for a read cut
// short before the end of the data, DVR_EBROKEN for records damaged beyond the start-bits
// search), or 0; cleared when play starts anew from a time. Lets a caller tell a channel that
// ended from one that could not be read.
int32_t stream_reader_read_error(int32_t slot);
void stream_reader_set_read_error(int32_t slot, int32_t code);  // 0 clears it
void stream_reader_clear_read_errors();

// One command on a slot. size: on entry the bytes wanted where the command reads; on return the
// bytes delivered, 0 on failure. Returns 0, or -1 when nothing could be done (size is then 0).
// A header command whose header stays damaged after the search delivers the header (96 or 32
// bytes) with its bad start bits and returns 0; the caller checks the start bits.
int32_t getvideodata(int32_t slot, int32_t command, uint8_t* buffer, int32_t* size);
int32_t getaudiodata(int32_t slot, int32_t command, uint8_t* buffer, int32_t* size);

// Position the slot's file on the nearest start-bits word, forward (direction 1) or backward
// (direction 0). 0 when found, -1 otherwise.
int32_t search_video_start_gop(int32_t slot, int32_t direction);
int32_t search_audio_start_gop(int32_t slot, int32_t direction);

// --- Record times ---------------------------------------------------------------------------
// The recorder time stamp of a record time (milliseconds aside). Fields that name no real date
// and time (month 13, 30 February, hour 24, a zeroed time), 1970-01-01 00:00:00 itself (0 is
// "no time" for a recorder time stamp) and dates past the stamp's range all give
// kInvalidRecordTime, so that every kind of missing time reads the same to the engine.
uint32_t record_time_to_time(const RecordTime& time);
// Whether a record time names a time at all: not kInvalidRecordTime. Every month counts.
bool record_time_is_valid(const RecordTime& time);
// The end-of-channel test of a time: not kInvalidRecordTime, year from 1900, month field from
// 2. The recorder marks the end of a channel with a header of frame count (audio: sample) 0
// whose time fails it; on any other header a January time is as good as any.
bool record_time_has_time(const RecordTime& time);

// --- Header checks ----------------------------------------------------------------------------
// The lengths of a GOP header can be used: GOP length 96..0x110000, frame count 1..16, and the
// counted frames fit inside the GOP.
bool gop_lengths_valid(const GopHeader& header);
// The lengths of an audio header can be used: sample at most 9216 and the total size holding
// the header and the sample, at most a full audio buffer after the header.
bool audio_lengths_valid(const AudioHeader& header);
// End-of-channel marks: start bits, frame count (sample) 0 and no time.
bool gop_is_end_mark(const GopHeader& header);
bool audio_is_end_mark(const AudioHeader& header);
