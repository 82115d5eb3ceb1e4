// A slot that meets a read failure during play (a sector that cannot be read, or a record
// damaged beyond the reader's start-bits search) does not end there: the failure is recorded
// for the user interface, and the slot moves on to the next record that can be read, found
// through the time index at the index intervals on the far side of the failure. Only when
// nothing after it can be read does the slot end, as at the end of its data.
#include "playback/engine.h"
#include "playback/resume_search.h"
#include "playback/stream_reader.h"
#include "storage/api_state.h"

namespace {

constexpr uint32_t kDefaultInterval = 15;
// A backward resume walks from the located GOP towards the failure at most this many GOPs.
constexpr int kMaxWalk = 64;

GopHeader& video_header(int32_t slot) { return stream_reader_state().slots[slot].video; }
AudioHeader& audio_header(int32_t slot) { return stream_reader_state().slots[slot].audio; }

uint32_t index_interval(const VolumeRecord& v) {
    return v.interval >= 1 && v.interval <= 3600 ? v.interval : kDefaultInterval;
}

int32_t video_command(int32_t slot, int32_t command) {
    int32_t got = kGopHeaderSize;
    getvideodata(slot, command, api_state().video_buffer.get(), &got);
    return got;
}

bool playable(const GopHeader& h) {
    return h.start_bits == kStartBits && h.frame_count != 0 && record_time_is_valid(h.time);
}

// Locates the slot at time t and reads the record there. Unreadable also for a time the index
// cannot give (a failing index read); End for a time outside the recorded span.
ResumeProbe locate(int32_t slot, int64_t t) {
    stream_reader_clear_slot(slot);
    stream_reader_set_read_error(slot, 0);
    const int32_t rc = backup_locate_index(api_state().slots[slot], static_cast<int32_t>(t), nullptr);
    if (rc == DVR_ENOINDEX) return ResumeProbe::End;
    return rc == 0 ? ResumeProbe::Readable : ResumeProbe::Unreadable;
}

// What a failed read of the slot means: a failure, or the end of its data.
ResumeProbe failed_read(int32_t slot) {
    return stream_reader_read_error(slot) < 0 ? ResumeProbe::Unreadable : ResumeProbe::End;
}

void stand_at_gop(int32_t slot) {
    SlotPlay& sp = engine_state().slots[slot];
    const GopHeader& h = video_header(slot);
    sp.frame_index = 0;
    sp.time = header_time(record_time_to_time(h.time), h.milliseconds, frame_time_step(h.frames[0]));
    sp.gop_data = GopData::Unread;
}

// Forward: the first GOP of the interval at t, with its frames read.
ResumeProbe probe_video_forward(int32_t slot, int64_t t, uint32_t failed_at) {
    if (ResumeProbe p = locate(slot, t); p != ResumeProbe::Readable) return p;
    if (video_command(slot, PLAYBACK_VIDEO_CRRUENT_GOP_HEADER) == 0) return failed_read(slot);
    const GopHeader& h = video_header(slot);
    if (gop_is_end_mark(h)) return ResumeProbe::End;
    if (!playable(h) || record_time_to_time(h.time) <= failed_at) return ResumeProbe::Unreadable;
    stand_at_gop(slot);
    load_gop_frames(slot);
    return stream_reader_read_error(slot) < 0 ? ResumeProbe::Unreadable : ResumeProbe::Readable;
}

// Whether the GOP the slot stands at lies before the failure and can be played.
bool before_failure(int32_t slot, uint32_t failed_at) {
    const GopHeader& h = video_header(slot);
    return playable(h) && record_time_to_time(h.time) < failed_at;
}

// Backward: the last GOP before the failure that the interval at t leads to. The GOPs after the
// located one are counted first and then walked again from the index, since a read that fails
// on the way leaves no header to step back from.
ResumeProbe probe_video_backward(int32_t slot, int64_t t, uint32_t failed_at) {
    if (ResumeProbe p = locate(slot, t); p != ResumeProbe::Readable) return p;
    if (video_command(slot, PLAYBACK_VIDEO_CRRUENT_GOP_HEADER) == 0) return failed_read(slot);
    if (!before_failure(slot, failed_at)) return ResumeProbe::Unreadable;
    int walk = 0;
    while (walk < kMaxWalk && video_command(slot, PLAYBACK_VIDEO_NEXT_GOP_HEADER) != 0 &&
           before_failure(slot, failed_at)) {
        ++walk;
    }
    if (locate(slot, t) != ResumeProbe::Readable ||
        video_command(slot, PLAYBACK_VIDEO_CRRUENT_GOP_HEADER) == 0) {
        return ResumeProbe::Unreadable;
    }
    for (int i = 0; i < walk; ++i) {
        if (video_command(slot, PLAYBACK_VIDEO_NEXT_GOP_HEADER) == 0) return ResumeProbe::Unreadable;
    }
    if (!before_failure(slot, failed_at)) return ResumeProbe::Unreadable;
    stand_at_gop(slot);
    return ResumeProbe::Readable;
}

// Forward: the first audio record of the interval at t.
ResumeProbe probe_audio(int32_t slot, int64_t t, uint32_t failed_at) {
    if (ResumeProbe p = locate(slot, t); p != ResumeProbe::Readable) return p;
    int32_t got = kAudioHeaderSize;
    getaudiodata(slot, PLAYBACK_AUDIO_HEADER, api_state().audio_buffer.get(), &got);
    if (got == 0) return failed_read(slot);
    const AudioHeader& h = audio_header(slot);
    if (audio_is_end_mark(h)) return ResumeProbe::End;
    const uint32_t time = record_time_to_time(h.time);
    if (h.start_bits != kStartBits || !audio_lengths_valid(h) || time == kInvalidRecordTime ||
        time <= failed_at) {
        return ResumeProbe::Unreadable;
    }
    engine_state().slots[slot].time = header_time(time, h.milliseconds, 0);
    return ResumeProbe::Readable;
}

// The slot's time where its data continues after the failure, or 0 when it does not.
uint32_t resume(int32_t slot, int32_t direction, uint32_t failed_at) {
    const VolumeRecord* v = api_session();
    if (v == nullptr || failed_at == 0) return 0;
    const int64_t interval = index_interval(*v);
    // The interval that holds the failure; the search starts on its far side (backward, the
    // interval itself may still hold records before the failure).
    const int64_t base = int64_t{failed_at} / interval * interval;
    const bool video = slot < video_slot_count();
    std::function<ResumeProbe(int64_t)> probe;
    int64_t max_step = 0;
    if (direction >= 0) {
        max_step = (int64_t{v->newest} - base) / interval;
        probe = [&](int64_t k) {
            const int64_t t = base + k * interval;
            return video ? probe_video_forward(slot, t, failed_at) : probe_audio(slot, t, failed_at);
        };
    } else {
        max_step = (base - int64_t{volume_first_indexed_time(*v)}) / interval + 1;
        probe = [&](int64_t k) { return probe_video_backward(slot, base - (k - 1) * interval, failed_at); };
    }
    if (find_resume_step(probe, max_step) == 0) return 0;
    stream_reader_set_read_error(slot, 0);
    return static_cast<uint32_t>(engine_state().slots[slot].time.sec);
}

}  // namespace

void record_read_failure(int32_t slot, int32_t error, uint32_t failed_at, uint32_t resumed_at) {
    dvrfs_trace("readstreamdata CH%d read failure %d at %d, resumed at %d\n", slot, error,
                static_cast<int32_t>(failed_at), static_cast<int32_t>(resumed_at));
    api_push_read_failure(PlaybackReadFailure{slot, error, failed_at, resumed_at});
    notify_status(PLAYBACK_STATUS_READ_ERROR, slot);
}

bool skip_read_failure(int32_t slot, int32_t direction, uint32_t failed_at) {
    const int32_t error = stream_reader_read_error(slot);
    if (error >= 0) return false;
    const uint32_t resumed_at = resume(slot, direction, failed_at);
    if (resumed_at == 0) {
        // Nothing further can be read: the slot ends, and the failure stays known as its cause.
        stream_reader_clear_slot(slot);
        stream_reader_set_read_error(slot, error);
    }
    record_read_failure(slot, error, failed_at, resumed_at);
    return resumed_at != 0;
}
