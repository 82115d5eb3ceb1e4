// Frame steps: one press of PM_FRAME_F or PM_FRAME_B moves every open video slot by exactly one
// stored frame, whatever the frame rate and wherever its GOPs begin. A slot finds its way from
// the last frame it showed, so a step follows play, fast play, rewind or another step alike.
// A frame shown by a step back may not decode on its own: the frames from its GOP's key frame up
// to it come first, as preroll, to be decoded and not shown.
#include "disk/recorder_time.h"
#include "playback/clock.h"
#include "playback/engine.h"
#include "playback/pacing.h"
#include "playback/stream_reader.h"
#include "storage/api_state.h"

namespace {

// GOPs a slot may pass in one step: a damaged GOP, or one too big to load, cannot be shown.
constexpr int kMaxGopHops = 4;

const GopHeader& video_header(int32_t slot) { return stream_reader_state().slots[slot].video; }

bool walkable(const GopHeader& h) {
    return h.start_bits == kStartBits && h.frame_count >= 1 && h.frame_count <= kMaxGopFrames;
}

int32_t frame_count(const GopHeader& h) { return static_cast<int32_t>(h.frame_count); }

// Frame i's time as forward play gives it: the header time, then each entry's time step.
PlayTime frame_time(const GopHeader& h, int32_t i) {
    PlayTime t = header_time(record_time_to_time(h.time), h.milliseconds, frame_time_step(h.frames[0]));
    for (int32_t k = 1; k <= i && k < kMaxGopFrames; ++k) add_milliseconds(&t, frame_time_step(h.frames[k]));
    return t;
}

bool same_time(const PlayTime& a, const PlayTime& b) { return a.sec == b.sec && a.msec == b.msec; }
bool earlier(const PlayTime& a, const PlayTime& b) { return !reached(a, b); }

// The frame of the GOP shown at t; -1 when none is.
int32_t index_at(const GopHeader& h, const PlayTime& t) {
    for (int32_t i = 0; i < frame_count(h); ++i) {
        if (same_time(frame_time(h, i), t)) return i;
    }
    return -1;
}

int32_t first_after(const GopHeader& h, const PlayTime& t) {
    for (int32_t i = 0; i < frame_count(h); ++i) {
        if (earlier(t, frame_time(h, i))) return i;
    }
    return -1;
}

int32_t last_before(const GopHeader& h, const PlayTime& t) {
    for (int32_t i = frame_count(h) - 1; i >= 0; --i) {
        if (earlier(frame_time(h, i), t)) return i;
    }
    return -1;
}

// A slot on its way to the GOP that holds its next or previous frame, and where it stood before,
// to go back to when it finds nothing to show: a slot at its end stays on its last frame.
class SlotWalk {
public:
    explicit SlotWalk(int32_t slot) : slot_(slot) {
        positioned_ = backup_tell(api_state().slots[slot], &position_) == 0;
        reader_ = stream_reader_state().slots[slot];
        play_ = engine_state().slots[slot];
    }

    bool positioned() const { return positioned_; }

    // The GOP's frames in the slot's GOP data buffer; false when they cannot be loaded.
    bool frames_ready() {
        SlotPlay& sp = engine_state().slots[slot_];
        if (sp.gop_data == GopData::Unread) {
            buffer_used_ = true;
            load_gop_frames(slot_);
        }
        return sp.gop_data == GopData::Loaded;
    }

    // readstreamdata, forward or backward. False when the slot found its end that way.
    bool next_gop() {
        buffer_used_ = true;
        load_next_gop(slot_);
        return !(engine_state().slots[slot_].end_flags & kEndForward);
    }
    bool previous_gop() {
        load_previous_gop(slot_);
        return !(engine_state().slots[slot_].end_flags & kEndBackward);
    }

    // Looks at the previous GOP without telling anyone of a beginning found there. True when the
    // slot now stands on it; else it stands where it stood.
    bool peek_previous_gop() {
        if (load_gop_header(slot_, PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER) == GopLoad::Loaded &&
            walkable(video_header(slot_))) {
            return true;
        }
        undo();
        return false;
    }

    // Back to where the slot stood; end flags found on the way stay.
    void undo() {
        SlotPlay& sp = engine_state().slots[slot_];
        const uint32_t ends = sp.end_flags;
        sp = play_;
        sp.end_flags |= ends;
        if (buffer_used_ && sp.gop_data == GopData::Loaded) sp.gop_data = GopData::Unread;
        stream_reader_state().slots[slot_] = reader_;
        if (!seek_back()) {
            // The file cannot be put back where the header says: the slot has nothing to play.
            dvrfs_trace("frame step CH%d lost its place\n", slot_);
            stream_reader_clear_slot(slot_);
            sp.end_flags |= kEndForward | kEndBackward;
        }
    }

private:
    bool seek_back() {
        const int32_t fd = api_state().slots[slot_];
        if (backup_iseek(fd, &position_) == 0) return true;
        // A read that ended a block leaves the position at the block's size, which a position
        // seek refuses: the same place is the byte before it plus one.
        if (position_.offset <= 0) return false;
        ChannelPosition before = position_;
        --before.offset;
        return backup_iseek(fd, &before) == 0 && backup_lseek(fd, 1, SEEK_CURRENT) == 0;
    }

    int32_t slot_;
    bool positioned_ = false;
    bool buffer_used_ = false;
    ChannelPosition position_{};
    SlotReader reader_{};
    SlotPlay play_{};
};

// The frame after `shown` in the previous GOP, when that GOP holds `shown` (fast play with key
// frames only moves on a GOP after showing its key frame). -1, the slot where it stood, if not.
int32_t next_in_previous_gop(SlotWalk& walk, int32_t slot, const PlayTime& shown) {
    if (!walk.peek_previous_gop()) return -1;
    const GopHeader& h = video_header(slot);
    const int32_t m = index_at(h, shown);
    if (m >= 0 && m + 1 < frame_count(h)) return m + 1;
    walk.undo();
    return -1;
}

// Forward: moves the slot to the GOP that holds the frame after the one it showed and returns
// that frame's index, its frames loaded; -1 when the slot has nothing to show forward.
int32_t find_next(SlotWalk& walk, int32_t slot) {
    const SlotPlay& sp = engine_state().slots[slot];
    const PlayTime shown = sp.shown;
    bool passed = shown.sec == 0;  // every frame from here on is after the shown one
    for (int hop = 0; hop <= kMaxGopHops; ++hop) {
        const GopHeader& h = video_header(slot);
        int32_t t = -1;
        if (walkable(h) && passed) {
            t = hop == 0 ? sp.frame_index : 0;
            if (t >= frame_count(h)) t = -1;
        } else if (walkable(h)) {
            const int32_t m = index_at(h, shown);
            t = m >= 0 ? m + 1 : first_after(h, shown);
            if (t >= frame_count(h)) t = -1;
            passed = m >= 0;
            if (t == 0 && hop == 0) {
                const int32_t back = next_in_previous_gop(walk, slot, shown);
                if (back >= 0) t = back;
            }
        }
        if (t >= 0 && walk.frames_ready()) return t;
        if (!walk.next_gop()) return -1;
    }
    return -1;
}

// Backward: the same for the frame before the one the slot showed.
int32_t find_previous(SlotWalk& walk, int32_t slot) {
    const PlayTime shown = engine_state().slots[slot].shown;
    bool passed = shown.sec == 0;  // every frame from here back is before the shown one
    for (int hop = 0; hop <= kMaxGopHops; ++hop) {
        const GopHeader& h = video_header(slot);
        int32_t t = -1;
        if (walkable(h) && passed) {
            t = frame_count(h) - 1;
        } else if (walkable(h)) {
            const int32_t m = index_at(h, shown);
            t = m >= 0 ? m - 1 : last_before(h, shown);
            passed = m >= 0;
        }
        if (t >= 0 && walk.frames_ready()) return t;
        if (!walk.previous_gop()) return -1;
    }
    return -1;
}

uint32_t shown_picture_size(const GopHeader& h) {
    return picture_width(h.picture_size) << 16 | picture_height(h.picture_size);
}

// Frame i of the GOP data buffer; false when its length does not fit the GOP.
bool deliver_gop_frame(int32_t slot, int32_t i, int32_t kind) {
    const GopHeader& h = video_header(slot);
    int64_t at = 0;
    for (int32_t k = 0; k < i; ++k) at += frame_bytes(h.frames[k]);
    const int64_t length = frame_bytes(h.frames[i]);
    if (length == 0 || at + length > int64_t{h.gop_length} - kGopHeaderSize) {
        dvrfs_trace("PLAYBACK_VIDEO_NEXT_FRAME2 error   CH%d [%d:%d]\n", slot, i,
                    static_cast<int32_t>(length));
        return false;
    }
    deliver_frame(slot, frame_time(h, i), api_state().frame_buffers[slot].get() + at,
                  static_cast<int32_t>(length), kind, i == 0 ? shown_picture_size(h) : 0);
    return true;
}

// The slot stands behind frame i as forward play would: its next frame is i + 1.
void stand_behind(int32_t slot, int32_t i) {
    SlotPlay& sp = engine_state().slots[slot];
    const GopHeader& h = video_header(slot);
    sp.frame_index = i + 1;
    sp.time = frame_time(h, i + 1 < frame_count(h) ? i + 1 : i);
    // A frame that cannot be shown counts as passed, so that the next step goes beyond it.
    sp.shown = frame_time(h, i);
}

// One slot's step; true with the shown frame's time when it showed one.
bool step_slot(int32_t slot, bool forward, PlayTime* shown) {
    SlotPlay& sp = engine_state().slots[slot];
    SlotWalk walk(slot);
    if (!walk.positioned()) return false;
    const int32_t t = forward ? find_next(walk, slot) : find_previous(walk, slot);
    if (t < 0) {
        walk.undo();
        return false;
    }
    // Backward, the frames from the key frame on feed the decoder first.
    for (int32_t i = 0; !forward && i < t; ++i) deliver_gop_frame(slot, i, FRAME_KIND_PREROLL);
    const bool delivered = deliver_gop_frame(slot, t, FRAME_KIND_VIDEO);
    stand_behind(slot, t);
    // Having moved, the slot has data the other way again.
    sp.end_flags &= forward ? ~kEndBackward : ~kEndForward;
    if (delivered) *shown = sp.shown;
    return delivered;
}

void trace_step(const PlayTime& clock, int32_t interval) {
    dvrfs_trace("PM_FRAME_F prev_msec = %d nPBInterval = %d\n", clock.msec, interval);
    const CivilTime c = civil_from_recorder(static_cast<uint32_t>(clock.sec));
    dvrfs_trace("Time -- %d-%d-%d %d/%d/%d\n", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

}  // namespace

int engine_frame_step(int32_t mode) {
    ApiState& st = api_state();
    EngineState& es = engine_state();
    const uint32_t tick = playback_clock().tick_ms();
    if (!findplaystartposition()) return 0;
    const bool forward = mode == PM_FRAME_F;
    if (forward) trace_step(es.clock, es.interval);
    bool any = false;
    PlayTime latest{};
    for (int32_t slot = 0; slot < video_slot_count(); ++slot) {
        const uint32_t end_bit = forward ? kEndForward : kEndBackward;
        if (!slot_open(slot) || (es.slots[slot].end_flags & end_bit)) continue;
        PlayTime shown{};
        if (!step_slot(slot, forward, &shown)) continue;
        if (!any || earlier(latest, shown)) latest = shown;
        any = true;
    }
    if (any) {
        es.clock = latest;
        es.idle = 0;
    }
    // Audio was not played along: normal play positions it again at the clock.
    es.audio_resync = true;
    if (st.no_pacing) return 0;
    const uint32_t now = playback_clock().tick_ms();
    const int64_t elapsed = now >= tick ? now - tick : 0;
    return pacing_sleep_ms(mode, elapsed, es.interval, st.key_frame_only != 0);
}
