// One step of playback: the play clock moves by the mode, every slot whose time the clock has
// reached delivers its next frame or audio block, gaps are skipped, and the step is paced.
#include <algorithm>

#include "disk/recorder_time.h"
#include "playback/clock.h"
#include "playback/engine.h"
#include "playback/pacing.h"
#include "playback/stream_reader.h"
#include "storage/api_state.h"

namespace {

constexpr uint32_t kInvalidTime = kInvalidRecordTime;

GopHeader& video_header(int32_t slot) { return stream_reader_state().slots[slot].video; }
AudioHeader& audio_header(int32_t slot) { return stream_reader_state().slots[slot].audio; }

bool is_backward(int32_t mode) { return play_mode_direction(mode) < 0; }

// Offset of frame i in the GOP data: the frames before it, back to back.
int64_t frame_offset(const GopHeader& h, int32_t i) {
    int64_t at = 0;
    for (int32_t k = 0; k < i; ++k) at += frame_bytes(h.frames[k]);
    return at;
}

uint32_t shown_picture_size(const GopHeader& h) {
    return picture_width(h.picture_size) << 16 | picture_height(h.picture_size);
}

// The frame that was delivered moves the slot to the next entry's time.
void count_frame(SlotPlay& sp, const GopHeader& h) {
    ++sp.frame_index;
    if (sp.frame_index < static_cast<int32_t>(h.frame_count) && sp.frame_index < kMaxGopFrames) {
        add_milliseconds(&sp.time, frame_time_step(h.frames[sp.frame_index]));
    }
}

void end_forward(int32_t slot) {
    SlotPlay& sp = engine_state().slots[slot];
    stream_reader_clear_slot(slot);
    sp.time = PlayTime{kInvalidTime, 0};
    sp.end_flags |= kEndForward;
    notify_status(PLAYBACK_STATUS_END, slot);
}

}  // namespace

void load_next_gop(int32_t slot) {
    SlotPlay& sp = engine_state().slots[slot];
    // The slot's time before the load: where the records read so far end.
    const auto reached_at = static_cast<uint32_t>(sp.time.sec);
    stream_reader_set_read_error(slot, 0);
    const GopLoad load = load_gop_header(slot, PLAYBACK_VIDEO_NEXT_GOP_HEADER);
    if (load == GopLoad::Failed) {
        dvrfs_trace("readstreamdata PLAYBACK_VIDEO_NEXT_GOP_HEADER error .. %d\n", slot);
        if (!skip_read_failure(slot, 1, reached_at)) end_forward(slot);
        return;
    }
    if (load != GopLoad::Loaded) return;
    load_gop_frames(slot);
    // Frames that cannot be read: the span is lost from this GOP on.
    if (sp.gop_data != GopData::Loaded && stream_reader_read_error(slot) < 0 &&
        !skip_read_failure(slot, 1, static_cast<uint32_t>(sp.time.sec))) {
        end_forward(slot);
    }
}

void load_previous_gop(int32_t slot) {
    SlotPlay& sp = engine_state().slots[slot];
    // The GOP's own time, not the slot time, which delivering a frame moved on.
    const GopHeader& current = video_header(slot);
    const PlayTime before = header_time(record_time_to_time(current.time), current.milliseconds,
                                        frame_time_step(current.frames[0]));
    dvrfs_trace("CH[%d] REW Next Gop %d, %d, %d\n", slot, static_cast<int32_t>(sp.time.sec),
                sp.time.msec, sp.frame_index);
    stream_reader_set_read_error(slot, 0);
    const GopLoad load = load_gop_header(slot, PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER);
    if (load == GopLoad::Failed) {
        dvrfs_trace("readstreamdata PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER error ... %d\n", slot);
        if (skip_read_failure(slot, -1, static_cast<uint32_t>(before.sec))) return;
        stream_reader_clear_slot(slot);
        notify_status(PLAYBACK_STATUS_BEGINNING, slot);
        sp.end_flags |= kEndBackward;
        return;
    }
    if (load != GopLoad::Loaded) return;
    dvrfs_trace("CH[%d] REW Next Gop %d, %d, %d\n", slot, static_cast<int32_t>(sp.time.sec),
                sp.time.msec, sp.frame_index);
    if (sp.time.sec == before.sec && sp.time.msec == before.msec) {
        notify_status(PLAYBACK_STATUS_BEGINNING, slot);
        sp.end_flags |= kEndBackward;
    }
}

namespace {

// The frames of a GOP whose header was read on the way here (backward play, positioning).
void load_frames_or_skip(int32_t slot) {
    SlotPlay& sp = engine_state().slots[slot];
    stream_reader_set_read_error(slot, 0);
    load_gop_frames(slot);
    if (sp.gop_data != GopData::Loaded && stream_reader_read_error(slot) < 0 &&
        !skip_read_failure(slot, 1, static_cast<uint32_t>(sp.time.sec))) {
        end_forward(slot);
    }
}

// Forward: the next frame from the GOP data buffer. True when a frame was delivered.
bool forward_frame(int32_t slot) {
    SlotPlay& sp = engine_state().slots[slot];
    const GopHeader& h = video_header(slot);
    const int32_t i = sp.frame_index;
    if (sp.gop_data != GopData::Loaded || i >= static_cast<int32_t>(h.frame_count) ||
        i >= kMaxGopFrames) {
        return false;
    }
    const int64_t length = frame_bytes(h.frames[i]);
    const int64_t at = frame_offset(h, i);
    const PlayTime t = sp.time;
    count_frame(sp, h);
    if (length == 0 || at + length > int64_t{h.gop_length} - kGopHeaderSize) {
        dvrfs_trace("PLAYBACK_VIDEO_NEXT_FRAME2 error   CH%d [%d:%d]\n", slot, i,
                    static_cast<int32_t>(length));
        return false;
    }
    deliver_frame(slot, t, api_state().frame_buffers[slot].get() + at, static_cast<int32_t>(length), 0,
                  i == 0 ? shown_picture_size(h) : 0);
    return true;
}

// Backward: the GOP's key frame, from the GOP data buffer when forward play loaded it there
// (the reader has passed it then), else read from the file.
bool backward_frame(int32_t slot) {
    SlotPlay& sp = engine_state().slots[slot];
    const GopHeader& h = video_header(slot);
    if (sp.gop_data == GopData::Loaded) return forward_frame(slot);
    const int64_t length = frame_bytes(h.frames[0]);
    const PlayTime t = sp.time;
    int32_t got = static_cast<int32_t>(std::min<int64_t>(length, kVideoBufferSize));
    if (length > 0 && length <= kVideoBufferSize) {
        getvideodata(slot, PLAYBACK_VIDEO_NEXT_FRAME, api_state().video_buffer.get(), &got);
    } else {
        got = 0;
    }
    count_frame(sp, h);
    if (got == 0) {
        dvrfs_trace("PLAYBACK_VIDEO_NEXT_FRAME error   CH%d\n", slot);
        return false;
    }
    deliver_frame(slot, t, api_state().video_buffer.get(), got, 0, shown_picture_size(h));
    return true;
}

// The gap skip's target: the earliest (forward) or latest (backward) slot time in seconds of
// the slots that still have data that way; 0 when none has.
int64_t gap_target(int32_t direction) {
    int64_t target = 0;
    bool any = false;
    const uint32_t end_bit = direction < 0 ? kEndBackward : kEndForward;
    for (int32_t slot = 0; slot < video_slot_count(); ++slot) {
        const SlotPlay& sp = engine_state().slots[slot];
        if (!slot_open(slot) || (sp.end_flags & end_bit)) continue;
        if (!any || (direction < 0 ? sp.time.sec > target : sp.time.sec < target)) target = sp.time.sec;
        any = true;
    }
    return target;
}

// True when the step asked for a reposition (or stopped) and must end here.
bool skip_gap(bool delivered, int32_t step_direction) {
    EngineState& es = engine_state();
    es.idle = delivered ? 0 : es.idle + 1;
    const int32_t limit = step_direction < 0 ? 2 : step_direction == 0 ? 30 : 10;
    if (es.idle < limit) return false;
    const int32_t direction = play_mode_direction(api_state().play_mode);
    const int64_t target = gap_target(direction);
    if (target == 0) {
        // Every slot is at its end in the direction of play: nothing is left to play.
        notify_status(PLAYBACK_STATUS_NO_DATA, -1);
        api_state().play_mode = PM_STOP;
        return true;
    }
    if (std::abs(target - es.clock.sec) < 4) return false;
    api_state().requested_time = static_cast<uint32_t>(target);
    api_state().reposition = 1;
    return true;
}

bool video_step(int32_t s) {
    EngineState& es = engine_state();
    bool delivered = false;
    for (int32_t slot = 0; slot < video_slot_count(); ++slot) {
        if (!slot_open(slot)) continue;
        SlotPlay& sp = es.slots[slot];
        if (s >= 0) {
            if (sp.end_flags & kEndForward) continue;
            // A GOP reached going backward has only its header read.
            if (sp.gop_data == GopData::Unread) load_frames_or_skip(slot);
            if (sp.end_flags & kEndForward) continue;
            if (reached(es.clock, sp.time)) delivered |= forward_frame(slot);
            // A GOP whose frames could not be loaded is passed over as if it had been shown.
            const int32_t count = static_cast<int32_t>(video_header(slot).frame_count);
            const bool done = s == 1 ? sp.frame_index != 0 : sp.frame_index >= count;
            if (done || sp.gop_data != GopData::Loaded) load_next_gop(slot);
        } else {
            if (sp.end_flags & kEndBackward) continue;
            if (reached(sp.time, es.clock) && sp.frame_index == 0) delivered |= backward_frame(slot);
            if (sp.frame_index != 0) load_previous_gop(slot);
        }
    }
    return skip_gap(delivered, s);
}

void audio_step(int32_t s, int32_t mode) {
    EngineState& es = engine_state();
    if (s != 0) {
        es.audio_resync = true;
        return;
    }
    if (es.audio_resync) start_audio_slots_at_clock();
    const int32_t first = audio_slot_first();
    for (int32_t slot = first; slot < first + kAudioChannels; ++slot) {
        SlotPlay& sp = es.slots[slot];
        if (!slot_open(slot) || (sp.end_flags & kEndForward) || !reached(es.clock, sp.time)) continue;
        const uint32_t sample = audio_header(slot).sample;
        const auto record_at = static_cast<uint32_t>(sp.time.sec);
        stream_reader_set_read_error(slot, 0);
        int32_t got = static_cast<int32_t>(std::min<uint32_t>(sample, kAudioBufferSize));
        getaudiodata(slot, PLAYBACK_AUDIO_DATA, api_state().audio_buffer.get(), &got);
        if (got == 0) {
            dvrfs_trace("PLAYBACK_AUDIO_DATA error   CH%d\n", slot);
        } else if (mode == PM_PLAY) {
            deliver_frame(slot, sp.time, api_state().audio_buffer.get(), got, 1, 0);
        }
        const int32_t data_error = stream_reader_read_error(slot);
        got = kAudioHeaderSize;
        getaudiodata(slot, PLAYBACK_AUDIO_HEADER, api_state().audio_buffer.get(), &got);
        if (got == 0) {
            dvrfs_trace("PLAYBACK_AUDIO_HEADER error2   CH%d\n", slot);
            if (skip_read_failure(slot, 1, record_at)) continue;
            stream_reader_clear_slot(slot);
            sp.end_flags |= kEndForward;
            notify_status(PLAYBACK_STATUS_END, slot);
            continue;
        }
        const AudioHeader& h = audio_header(slot);
        sp.time = header_time(record_time_to_time(h.time), h.milliseconds, 0);
        // The data could not be read, but the search found the next record behind it.
        if (data_error < 0) record_read_failure(slot, data_error, record_at, static_cast<uint32_t>(sp.time.sec));
    }
}

// Moves the play clock by the mode; returns the step direction.
int32_t advance_clock(int32_t mode) {
    EngineState& es = engine_state();
    const bool key_only = api_state().key_frame_only != 0;
    if (mode == PM_PLAY) {
        add_milliseconds(&es.clock, es.interval);
        return 0;
    }
    if (is_backward(mode)) {
        add_milliseconds(&es.clock, -500);
        return -1;
    }
    add_milliseconds(&es.clock, key_only ? 500 : es.interval);
    return key_only ? 1 : 0;
}

}  // namespace

int engine_one_step() {
    ApiState& st = api_state();
    const int32_t mode = st.play_mode;
    PlaybackClock& clock = playback_clock();
    if (mode == PM_STOP || mode == PM_PAUSE) return 100;
    const uint32_t tick = clock.tick_ms();
    if (!findplaystartposition()) return 0;
    const int32_t s = advance_clock(mode);
    if (video_step(s)) return 0;
    audio_step(s, mode);
    if (st.no_pacing) return 0;
    const uint32_t now = clock.tick_ms();
    const int64_t elapsed = now >= tick ? now - tick : 0;  // a wrapped tick counts as 0
    return pacing_sleep_ms(mode, elapsed, engine_state().interval, st.key_frame_only != 0);
}
