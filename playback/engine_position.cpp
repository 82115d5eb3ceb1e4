// Positioning the slots at the requested time: the first record of every video slot, the
// located GOP of every slot, and the play clock's start.
#include <algorithm>
#include <cstring>

#include "playback/clock.h"
#include "playback/engine.h"
#include "playback/stream_reader.h"
#include "storage/api_state.h"

namespace {

int32_t direction() { return play_mode_direction(api_state().play_mode); }

void stop_playback() {
    notify_status(PLAYBACK_STATUS_NO_DATA, -1);
    api_state().play_mode = PM_STOP;
}

GopHeader& video_header(int32_t slot) { return stream_reader_state().slots[slot].video; }
AudioHeader& audio_header(int32_t slot) { return stream_reader_state().slots[slot].audio; }

// Reads a header command into the video buffer; the size delivered, 0 on failure.
int32_t video_command(int32_t slot, int32_t command, int32_t size) {
    int32_t got = size;
    getvideodata(slot, command, api_state().video_buffer.get(), &got);
    return got;
}

int32_t audio_command(int32_t slot, int32_t command, int32_t size) {
    int32_t got = size;
    getaudiodata(slot, command, api_state().audio_buffer.get(), &got);
    return got;
}

uint32_t gop_time(int32_t slot) { return record_time_to_time(video_header(slot).time); }

// A GOP that can be played: start bits, frames and a time.
bool playable(int32_t slot) {
    const GopHeader& h = video_header(slot);
    return h.start_bits == kStartBits && h.frame_count != 0 && record_time_is_valid(h.time);
}

// Backward play starts at the last GOP at or before the requested time. The index located the
// quarter minute before it, or after a recording gap the first GOP after the gap; the slot
// walks forward over the GOPs still at or before the time, then back over any after it. A
// channel with nothing at or before the time has reached its beginning.
int64_t settle_backward(int32_t slot, uint32_t requested) {
    SlotPlay& sp = engine_state().slots[slot];
    const int32_t fd = api_state().slots[slot];
    // Recorder times are whole seconds: every GOP of the requested second is at that time.
    const auto located = [&] { return int64_t{gop_time(slot)}; };
    const int64_t wanted = requested;
    if (playable(slot) && located() < wanted) {
        // Count first, then walk from the located GOP again: a failed read past the channel's
        // end leaves no header to step back from.
        int forward = 0;
        while (video_command(slot, PLAYBACK_VIDEO_NEXT_GOP_HEADER, kGopHeaderSize) != 0 &&
               playable(slot) && located() <= wanted) {
            ++forward;
        }
        backup_locate_index(fd, static_cast<int32_t>(api_align_time(requested, 1)), nullptr);
        stream_reader_clear_slot(slot);
        video_command(slot, PLAYBACK_VIDEO_CRRUENT_GOP_HEADER, kGopHeaderSize);
        for (int i = 0; i < forward; ++i) {
            video_command(slot, PLAYBACK_VIDEO_NEXT_GOP_HEADER, kGopHeaderSize);
        }
    }
    // Back over GOPs after the time, end marks and damaged records; bounded, since a damaged
    // channel may offer no playable GOP at all.
    constexpr int kMaxSteps = 256;
    for (int step = 0; step < kMaxSteps && !(playable(slot) && located() <= wanted + 1);
         ++step) {
        const int64_t before = playable(slot) ? located() : -1;
        if (video_command(slot, PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER, kGopHeaderSize) == 0) {
            stream_reader_clear_slot(slot);
            dvrfs_trace("setvideotime PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER error .. %d\n", slot);
            break;
        }
        if (playable(slot) && located() == before) break;  // no earlier GOP
    }
    if (!(playable(slot) && located() <= wanted + 1)) {
        sp.end_flags |= kEndBackward;
        dvrfs_trace("notify no data 11111111\n");
        notify_status(PLAYBACK_STATUS_BEGINNING, slot);
    }
    return gop_time(slot);
}

// Moves a located video slot to the GOP that holds the requested time (d: direction).
void settle_video_slot(int32_t slot, int32_t d, uint32_t requested) {
    stream_reader_clear_slot(slot);
    stream_reader_set_read_error(slot, 0);
    engine_state().slots[slot].gop_data = GopData::Unread;
    if (video_command(slot, PLAYBACK_VIDEO_CRRUENT_GOP_HEADER, kGopHeaderSize) == 0) {
        dvrfs_trace("setvideotime PLAYBACK_VIDEO_CRRUENT_GOP_HEADER error ... %d\n", slot);
        // Play from a time that cannot be read goes on where the slot's data can be read again.
        if (d >= 0 && !skip_read_failure(slot, d, requested)) {
            stream_reader_clear_slot(slot);
            return;
        }
        if (d < 0) dvrfs_trace("setvideotime CH%d no data after the current time, data before it\n", slot);
    }
    int64_t t = gop_time(slot);
    dvrfs_trace("[CH%d] video_time %d, time %d, len %d\n", slot, static_cast<int32_t>(t),
                static_cast<int32_t>(requested), static_cast<int32_t>(video_header(slot).gop_length));
    if (d >= 0) {
        while (t < int64_t{requested} - d) {
            const int64_t before = t;
            if (video_command(slot, PLAYBACK_VIDEO_NEXT_GOP_HEADER, kGopHeaderSize) == 0) {
                dvrfs_trace("setvideotime PLAYBACK_VIDEO_NEXT_GOP_HEADER error .. %d\n", slot);
                if (skip_read_failure(slot, d, static_cast<uint32_t>(before))) {
                    t = gop_time(slot);
                    continue;
                }
                stream_reader_clear_slot(slot);
                break;
            }
            t = gop_time(slot);
        }
    } else {
        t = settle_backward(slot, requested);
    }
    GopHeader& h = video_header(slot);
    if (h.start_bits != kStartBits) {
        dvrfs_trace("Playback[%d]  Start bit Error(%x)\n", slot, h.start_bits);
        return;
    }
    const uint32_t w = picture_width(h.picture_size), ht = picture_height(h.picture_size);
    if (w >= 1 && w <= 720 && ht >= 1 && ht <= 576 && h.frame_count >= 1 && h.frame_count <= 16) {
        h.picture_size &= 0x00FFFFFF;
        engine_state().interval = ht == 240 || ht == 480 ? 33 : 40;
        dvrfs_trace("setvideotime Check Decoder CH%d, size %d, %d\n", slot, w, ht);
    }
    dvrfs_trace("video_time - CH%d, End %d\n", slot, static_cast<int32_t>(t));
    // Forward play starts with the located GOP's own frames.
    if (d >= 0) load_gop_frames(slot);
}

}  // namespace

namespace {

// The first GOP of every open video slot at the session's start.
void getfirstvideorectime() {
    const VolumeRecord* v = api_session();
    if (v == nullptr) return;
    for (int32_t slot = 0; slot < video_slot_count(); ++slot) {
        if (!slot_open(slot)) continue;
        const int32_t rc = backup_locate_index(api_state().slots[slot], static_cast<int32_t>(v->oldest), nullptr);
        if (rc != 0) {
            dvrfs_trace("getfirstvideorectime locat index error .. %d\n", rc);
            return;
        }
    }
    for (int32_t slot = 0; slot < video_slot_count(); ++slot) {
        if (!slot_open(slot)) continue;
        SlotPlay& sp = engine_state().slots[slot];
        stream_reader_clear_slot(slot);
        sp.gop_data = GopData::Unread;
        if (video_command(slot, PLAYBACK_VIDEO_CRRUENT_GOP_HEADER, kGopHeaderSize) > 0) {
            sp.first_record_time = gop_time(slot);
            dvrfs_trace("CH[%d] First rec time %d, request time %d, len %d\n", slot,
                        static_cast<int32_t>(sp.first_record_time),
                        static_cast<int32_t>(api_state().requested_time.load()),
                        static_cast<int32_t>(video_header(slot).gop_length));
            continue;
        }
        dvrfs_trace("getfirstvideorectime PLAYBACK_VIDEO_CRRUENT_GOP_HEADER error .. %d\n", slot);
        stream_reader_clear_slot(slot);
        sp.first_record_time = 0;
        sp.end_flags = kEndForward | kEndBackward;
        // No record at all: the slot is not played for the rest of the session.
        backup_close(api_state().slots[slot]);
        api_state().slots[slot] = -1;
    }
}

}  // namespace

void setvideotime() {
    ApiState& st = api_state();
    const uint32_t requested = st.requested_time;
    const uint32_t req = api_align_time(requested, 1);
    if (req == 0) return;
    dvrfs_trace(" ---- setvideotime tPlay %d, req %d\n", static_cast<int32_t>(engine_state().clock.sec),
                static_cast<int32_t>(req));
    getfirstvideorectime();

    const int32_t d = direction();
    if (d >= 0 && requested > api_session()->newest) {
        dvrfs_trace("setvideotime -- stop22222222222222222\n");
        stop_playback();
        return;
    }
    if (d < 0) {
        uint32_t first = 0;
        for (int32_t slot = 0; slot < video_slot_count(); ++slot) {
            const uint32_t f = engine_state().slots[slot].first_record_time;
            if (slot_open(slot) && f > 0 && (first == 0 || f < first)) first = f;
        }
        if (first == 0 || first > requested) {
            dvrfs_trace("setvideotime -- stop1111111111111111\n");
            stop_playback();
            return;
        }
    }
    for (int32_t slot = 0; slot < video_slot_count(); ++slot) {
        if (!slot_open(slot)) continue;
        const int32_t rc = backup_locate_index(st.slots[slot], static_cast<int32_t>(req), nullptr);
        if (rc != 0) {
            dvrfs_trace("setvideotime locat index error .. %d\n", rc);
            return;
        }
    }
    const uint32_t end_bit = d < 0 ? kEndBackward : kEndForward;
    for (int32_t slot = 0; slot < video_slot_count(); ++slot) {
        if (slot_open(slot) && !(engine_state().slots[slot].end_flags & end_bit)) {
            settle_video_slot(slot, d, requested);
        }
    }
}

void setaudiotime(uint32_t time) {
    ApiState& st = api_state();
    EngineState& es = engine_state();
    const uint32_t req = api_align_time(time, 1);
    if (req == 0) {
        es.audio_resync = false;
        return;
    }
    const int32_t first = audio_slot_first();
    for (int32_t slot = first; slot < first + kAudioChannels; ++slot) {
        if (!slot_open(slot)) continue;
        const int32_t rc = backup_locate_index(st.slots[slot], static_cast<int32_t>(req), nullptr);
        if (rc != 0) {
            dvrfs_trace("setaudiotime locat index error .. %d\n", rc);
            es.audio_resync = false;
            return;
        }
    }
    const int32_t d = direction();
    const uint32_t end_bit = d < 0 ? kEndBackward : kEndForward;
    for (int32_t slot = first; slot < first + kAudioChannels; ++slot) {
        SlotPlay& sp = es.slots[slot];
        if (!slot_open(slot) || (sp.end_flags & end_bit)) continue;
        stream_reader_clear_slot(slot);
        if (audio_command(slot, PLAYBACK_AUDIO_HEADER, kAudioHeaderSize) == 0) {
            dvrfs_trace("setaudiotime PLAYBACK_AUDIO_HEADER error .. %d\n", slot);
            if (d >= 0) stream_reader_clear_slot(slot);
            continue;
        }
        const AudioHeader& h = audio_header(slot);
        int64_t t = record_time_to_time(h.time);
        dvrfs_trace("audio_time %d, sample %d, totalsize %d, prevsize %d\n", static_cast<int32_t>(t),
                    static_cast<int32_t>(h.sample), static_cast<int32_t>(h.total_size),
                    static_cast<int32_t>(h.previous_size));
        while (d >= 0 ? t < int64_t{time} - d
                      : !(record_time_is_valid(audio_header(slot).time) && t <= int64_t{time} + 1)) {
            const int32_t command = d >= 0 ? PLAYBACK_AUDIO_HEADER : PLAYBACK_AUDIO_PREVIOUS_HEADER;
            if (audio_command(slot, command, kAudioHeaderSize) == 0) {
                stream_reader_clear_slot(slot);
                dvrfs_trace("setaudiotime PLAYBACK_AUDIO_HEADER error2 .. %d\n", slot);
                break;
            }
            const int64_t before = t;
            t = record_time_to_time(audio_header(slot).time);
            if (d < 0 && t == before) {
                if (t > int64_t{time}) {
                    sp.end_flags |= kEndBackward;
                    notify_status(PLAYBACK_STATUS_BEGINNING, slot);
                }
                break;
            }
        }
        if (audio_header(slot).start_bits != kStartBits) {
            dvrfs_trace("Audio Playback[%d]  Start bit Error(%x)\n", slot, audio_header(slot).start_bits);
        } else {
            dvrfs_trace("audio_time End %d\n", static_cast<int32_t>(t));
        }
    }
    es.audio_resync = false;
}

namespace {

// Audio slots take their time from their header; an end mark ends the slot going forward.
void start_audio_slots(int32_t d) {
    const int32_t first = audio_slot_first();
    for (int32_t slot = first; slot < first + kAudioChannels; ++slot) {
        if (!slot_open(slot)) continue;
        SlotPlay& sp = engine_state().slots[slot];
        const AudioHeader& h = audio_header(slot);
        if (h.sample == 0 && !record_time_has_time(h.time)) {
            if (d >= 0) {
                sp.end_flags |= kEndForward;
                notify_status(PLAYBACK_STATUS_END, slot);
            }
            continue;
        }
        sp.time = header_time(record_time_to_time(h.time), h.milliseconds, 0);
    }
}

}  // namespace

void start_audio_slots_at_clock() {
    setaudiotime(static_cast<uint32_t>(engine_state().clock.sec));
    start_audio_slots(direction());
}

bool findplaystartposition() {
    EngineState& es = engine_state();
    if (es.clock.sec != 0) return true;
    const int32_t d = direction();
    bool counted = false;
    PlayTime start{};
    for (int32_t slot = 0; slot < video_slot_count(); ++slot) {
        if (!slot_open(slot)) continue;
        SlotPlay& sp = es.slots[slot];
        const GopHeader& h = video_header(slot);
        sp.frame_index = 0;
        if (h.frame_count == 0 && !record_time_has_time(h.time)) {
            if (d >= 0) {
                sp.end_flags |= kEndForward;
                notify_status(PLAYBACK_STATUS_END, slot);
            }
            continue;
        }
        sp.time = header_time(gop_time(slot), h.milliseconds, frame_time_step(h.frames[0]));
        // A slot already at its end in this direction does not set the clock.
        if (sp.end_flags & (d < 0 ? kEndBackward : kEndForward)) continue;
        const bool better = d >= 0 ? !reached(sp.time, start) || !counted
                                   : !counted || reached(sp.time, start);
        if (better) start = sp.time;
        counted = true;
    }
    if (!counted) {
        dvrfs_trace(d < 0 ? "findplaystartposition -- stop2\n" : "findplaystartposition -- stop1\n");
        stop_playback();
        dvrfs_trace("No Data --- stop \n");
        return false;
    }
    es.clock = start;
    dvrfs_trace("BASE [%d] time : %d, tick %d\n", 0, static_cast<int32_t>(start.sec),
                static_cast<int32_t>(playback_clock().tick_ms()));
    start_audio_slots(d);
    return true;
}
