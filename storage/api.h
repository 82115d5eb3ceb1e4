// The storage API: the one interface through which the user interface and the playback
// engine reach a mounted disk, and its calendar, day search and log readers.
#pragma once

#include <cstdint>

#include "disk/disk.h"

// A broken-down recorder time, the fields of a recorder time stamp read as UTC.
struct DateTime {
    uint16_t year;
    uint16_t month;        // 1..12
    uint16_t day_of_week;  // 0 = Sunday
    uint16_t day;          // 1..31
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};

// Frame callback: slot, time (s), milliseconds, data, length, kind (one of FrameKind),
// picture size ((width << 16) | height on a GOP's first frame, else 0).
using FrameCallback = void (*)(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data,
                               int32_t length, int32_t kind, uint32_t picture_size);
// What the frame callback carries.
enum FrameKind : int32_t {
    FRAME_KIND_VIDEO = 0,    // a video frame to decode and show
    FRAME_KIND_AUDIO = 1,    // an audio block
    // A video frame to decode but not to show: a step back delivers the frames from the GOP's
    // key frame up to the one it shows, since only a key frame decodes on its own.
    FRAME_KIND_PREROLL = 2,
};

// Status callback: one of the codes below and the slot it concerns.
using StatusCallback = void (*)(int32_t code, int32_t slot);

enum PlaybackStatus : int32_t {
    PLAYBACK_STATUS_NO_DATA = 100,    // nothing left to play in the direction of play; slot -1
    PLAYBACK_STATUS_END = 101,        // the slot reached the end of its data going forward
    PLAYBACK_STATUS_BEGINNING = 102,  // the slot reached its beginning going backward
    PLAYBACK_STATUS_READ_ERROR = 103,  // a read of the slot failed; api_take_read_failures says more
};

// A span of a slot that could not be read during play.
struct PlaybackReadFailure {
    int32_t slot;         // the engine's slot (video slots first, then audio)
    int32_t error;        // the file system's negative error code
    uint32_t failed_at;   // recorder time (s) at which the unreadable span begins
    uint32_t resumed_at;  // recorder time (s) where the slot's data continues; 0 = it does not
};

enum PlayMode : int32_t {
    PM_STOP = 0,
    PM_PLAY = 1,
    PM_REW_1 = 2,
    PM_FF_2 = 3,
    PM_FRAME_F = 4,
    PM_FRAME_B = 5,
    PM_MINUTE_F = 6,
    PM_MINUTE_B = 7,
    PM_REW_2 = 8,
    PM_REW_4 = 9,
    PM_REW_8 = 10,
    PM_FF_4 = 11,
    PM_FF_8 = 12,
    PM_FF_16 = 13,
    PM_REW_16 = 14,
    PM_FF_32 = 15,
    PM_PAUSE = 16,
    PM_REW_32 = 17,
};

inline constexpr int32_t kApiRefused = -1;
inline constexpr int kVideoChannels = 16;
inline constexpr int kAudioChannels = 4;
inline constexpr int kPlaybackSlots = 32;
inline constexpr int32_t kVideoBufferSize = 0x110000;
inline constexpr int32_t kAudioBufferSize = 9216;
inline constexpr int32_t kFrameBufferSize = 3072000;

// --- Start-up and shut-down -------------------------------------------------------------------
int32_t api_init(int32_t trace, FrameCallback on_frame, StatusCallback on_status);
int32_t api_exit();

// --- Disks and sessions ---------------------------------------------------------------------
int32_t api_scan_disks(DiskEntry* table);  // copies all 30 entries
int32_t api_disk_count();
int32_t api_mount_disk(int32_t disk);
int32_t api_unmount_disk();
int32_t api_read_super_block(int32_t disk, void* buffer);  // 136 bytes
int32_t api_get_sessions(VolumeRecord* records);            // copies all 32 records
int32_t api_session_count();
int32_t api_mount_session(int32_t session);
int32_t api_unmount_session();
int32_t api_display_channels();

// --- Playback control -------------------------------------------------------------------------
int32_t api_set_channel_mask(uint32_t mask);
// Sets `mode` (PM_STOP or PM_PAUSE) and closes every channel in one step under the engine's
// lock: the pass under way ends first, and no mode the engine falls back to afterwards can
// refuse the close, as a separate mode change and api_set_channel_mask(0) could.
int32_t api_halt(int32_t mode);
int32_t api_play_from(uint32_t time);
int32_t api_set_play_mode(int32_t mode);
int32_t api_play_mode();
// Passes of the playback thread's loop so far, paused or not: something to wait on.
uint64_t api_engine_passes();  // the mode in force; the engine itself returns to PM_STOP or PM_PAUSE
void api_set_key_frame_only(int32_t on);
uint8_t api_set_no_pacing(uint8_t off);
int32_t play_mode_direction(int32_t mode);

// --- Read failures during play --------------------------------------------------------------------
inline constexpr int32_t kReadFailureQueue = 64;
// The read failures since the last call, oldest first, at most max; returns the count. Takes
// only a small lock of its own, never the API lock: safe from any thread, the callbacks
// included. Cleared by api_set_channel_mask(0).
int32_t api_take_read_failures(PlaybackReadFailure* list, int32_t max);
// Failures dropped since the last clear because the queue was full (the oldest go first).
uint32_t api_read_failures_dropped();

// --- Where delivered video was read from -------------------------------------------------------
inline constexpr int kGopSourceRanges = 32;
// A GOP record (header and frames, without the trailer) as it lies in the drive or image.
struct GopSource {
    uint32_t time;          // the GOP header's recorder time (s), 32399 when it has none
    uint32_t milliseconds;  // the header's milliseconds
    uint32_t gop_length;    // header and frames, bytes
    uint32_t frame_count;
    int32_t range_count;    // 1..kGopSourceRanges
    ImageRange ranges[kGopSourceRanges];  // in record order
};
// Only inside the frame callback, on the playback thread: where the GOP of the video frame
// being delivered on the slot was read from. 0, or -1 when the frame did not come from a GOP
// read whole (a frame read alone when playing backward) or its bytes could not be placed.
int32_t api_gop_source(int32_t slot, GopSource* out);

// --- Times --------------------------------------------------------------------------------------
uint32_t api_align_time(uint32_t time, int32_t clamp);
void time_to_filetime(uint32_t time, uint64_t* filetime);
void filetime_to_time(uint64_t filetime, uint32_t* time);
void systemtime_to_time(const DateTime* st, uint32_t* time);
void time_to_systemtime(uint32_t time, DateTime* st);

// --- Capture images ---------------------------------------------------------------------------
// Reads the capture image recorded at time into buffer (size bytes). A record longer than the
// buffer, or with a negative length, is refused with -1 and nothing is written past the buffer.
int32_t api_read_capture_image(uint32_t time, uint8_t* buffer, int32_t size);

// --- Calendar and day search --------------------------------------------------------------------
inline constexpr int kMonthMapMonths = 120;
inline constexpr int kMonthMapEntries = 32;
inline constexpr int kDaySlots = 5760;

// month_map: kMonthMapMonths x kMonthMapEntries day masks, cleared by the caller.
int32_t tvfs_getexistmonthlog(uint32_t* month_map);
// The recorded days of the month that holds time (bit d - 1 = day d), or -1.
int32_t tvfs_month_day_mask(const uint32_t* month_map, uint32_t time);
// search_map: kDaySlots channel masks of the day of time, cleared by the caller.
int32_t tvfs_getsearchlog(uint32_t time, uint32_t* search_map);

// --- Log readers --------------------------------------------------------------------------------
inline constexpr int kSystemLogMax = 2048;
inline constexpr int kEventLogMax = 20480;
inline constexpr int kCaptureLogMax = 4096;

struct SystemLogRecord {
    uint8_t unused[4];
    uint32_t time;
    char text[56];
};
static_assert(sizeof(SystemLogRecord) == 64);

struct EventLogRecord {
    uint8_t channel;  // video channel from 0
    uint8_t type;     // 1 Continue, 2 Motion, 3 Sensor, 4 and 5 Manual
    uint8_t in_use;
    uint8_t unused;
    uint32_t t;
};
static_assert(sizeof(EventLogRecord) == 8);

struct CaptureLogRecord {
    uint32_t time;      // capture time; the capture image is stored under it
    uint32_t kind;      // 0 Live JPEG, 1 Play JPEG, 2 AVI Backup
    uint32_t pictured;  // time of the recording that was captured
    uint32_t unused;
};
static_assert(sizeof(CaptureLogRecord) == 16);

uint32_t api_day_start(uint32_t time);
int32_t api_get_system_log(uint32_t time, SystemLogRecord* list);  // kSystemLogMax records
int32_t api_get_event_log(uint32_t time, EventLogRecord* list);    // kEventLogMax records
int32_t api_get_capture_log(uint32_t time, CaptureLogRecord* list);  // kCaptureLogMax records

// Names the program shows for an event type and a capture kind.
const char* event_type_name(uint8_t type);
const char* capture_kind_name(uint32_t kind);
