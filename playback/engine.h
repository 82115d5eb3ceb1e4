// The playback engine's own state: the play clock, the per-slot play state and the words of
// the control block that only the playback thread uses. The thread itself is
// playback_thread_main (storage/api_state.h), started by api_init.
#pragma once

#include <cstdint>

#include "storage/api.h"

// Seconds and milliseconds (0..999); seconds 0 mean "not set".
struct PlayTime {
    int64_t sec = 0;
    int32_t msec = 0;
};

void add_milliseconds(PlayTime* t, int64_t ms);
// Whether the clock has reached t.
bool reached(const PlayTime& clock, const PlayTime& t);

inline constexpr uint32_t kEndForward = 1;   // no more data going forward
inline constexpr uint32_t kEndBackward = 2;  // no more data going backward

// What a video slot's GOP data buffer holds of the current GOP.
enum class GopData : uint8_t {
    Unread,   // nothing yet: the reader stands behind the header, where the frames begin
    Loaded,   // the current GOP's frames
    Refused,  // nothing, and forward play passes the GOP over (too big, damaged, unreadable)
};

struct SlotPlay {
    PlayTime time;               // the slot's next frame or audio block
    int32_t frame_index = 0;     // frames of the current GOP already delivered
    uint32_t end_flags = 0;
    uint32_t first_record_time = 0;  // video: first GOP at or after the session start
    GopData gop_data = GopData::Unread;
    // Video: the time of the last frame delivered to be shown; seconds 0 when none was since the
    // slot was positioned. Frame steps find their way from it, whatever mode moved the slot.
    PlayTime shown;
    // Where the frames in the GOP data buffer were read from; range count 0 when unknown.
    GopSource source{};
};

struct EngineState {
    int32_t previous_mode = PM_STOP;
    int32_t interval = 33;  // nPBInterval: 33 or 40 ms by the picture height
    PlayTime clock;
    int32_t idle = 0;
    bool audio_resync = false;
    SlotPlay slots[kPlaybackSlots];
};

EngineState& engine_state();
void engine_reset_for_tests();

// Steps of the engine, run by the playback thread with the API lock held.
// One pass of the thread's loop in a play mode; returns the milliseconds to sleep afterwards.
// Exposed so that a caller holding the lock can drive the engine without the thread.
int engine_pass(int32_t mode, bool reposition);
void engine_reset();                   // play clock and slots cleared, positioned anew
void setvideotime();
void setaudiotime(uint32_t time);
bool findplaystartposition();          // false when nothing is left to play
void start_audio_slots_at_clock();     // audio positioned again after fast play
// One step; returns the milliseconds to sleep after it, which the thread sleeps with the lock
// released so that the user interface is never held up by pacing.
int engine_one_step();

// GOP loading of a video slot.
enum class GopLoad { Failed, BadStartBits, Loaded };
// Reads the next or previous GOP header (the reader command). Loaded: frame index 0 and the
// slot time at the GOP's first frame, its frames not read yet. Bad start bits leave the slot's
// index and time as they were. The frames of the slot's former GOP are gone either way.
GopLoad load_gop_header(int32_t slot, int32_t command);
// Reads the frames of the GOP the slot stands at into its GOP data buffer.
void load_gop_frames(int32_t slot);
// readstreamdata: moves a video slot to its next GOP (frames loaded) or its previous one (header
// only). A failure ends the slot in that direction and tells the status callback.
void load_next_gop(int32_t slot);
void load_previous_gop(int32_t slot);

// One press of PM_FRAME_F or PM_FRAME_B: every open video slot shows its next or previous
// stored frame. Returns the milliseconds to sleep afterwards.
int engine_frame_step(int32_t mode);

// Read failures during play. After a failed load of the slot: when a read failure caused it
// (not the end of its data), the failure is recorded (status 103) and the slot moved to the
// next record that can be read in the direction of play (forward: after the failure; backward:
// before it), its time set there. True when the slot plays on from there; false when nothing
// caused the load to fail but the end of the data, or nothing more can be read, and the caller
// ends the slot as before. failed_at: the slot's time when the failure was met.
bool skip_read_failure(int32_t slot, int32_t direction, uint32_t failed_at);
// Records a failure for the user interface and tells the status callback.
void record_read_failure(int32_t slot, int32_t error, uint32_t failed_at, uint32_t resumed_at);

// Slot ranges of the playback channel table.
int32_t video_slot_count();
int32_t audio_slot_first();
bool slot_open(int32_t slot);

// The time of a record: its header time, milliseconds and a frame's time step.
PlayTime header_time(uint32_t time, uint32_t msec, uint32_t step);

// The two callbacks, when the user interface gave them.
void notify_status(int32_t code, int32_t slot);
void deliver_frame(int32_t slot, const PlayTime& t, const uint8_t* data, int32_t length, int32_t kind,
                   uint32_t picture_size);
