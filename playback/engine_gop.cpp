// Loading GOPs into a video slot: the header the reader moves to, and the frames that forward
// play delivers from the slot's GOP data buffer.
#include "playback/engine.h"
#include "playback/stream_reader.h"
#include "storage/api_state.h"

namespace {

// Frames of this size or more do not fit a slot's GOP data buffer.
constexpr int64_t kMaxGopData = kFrameBufferSize;

const GopHeader& video_header(int32_t slot) { return stream_reader_state().slots[slot].video; }

int32_t read_video(int32_t slot, int32_t command, uint8_t* buffer, int32_t size) {
    int32_t got = size;
    getvideodata(slot, command, buffer, &got);
    return got;
}

// Where the GOP record the slot's reader has just passed lies in the image, for whoever traces
// the delivered frames to the disk.
void note_gop_source(int32_t slot, const GopHeader& h) {
    GopSource& s = engine_state().slots[slot].source;
    s = GopSource{};
    const int32_t n = backup_image_ranges(api_state().slots[slot], -int64_t{h.gop_length},
                                          h.gop_length, s.ranges, kGopSourceRanges);
    if (n <= 0) {
        s.range_count = 0;
        return;
    }
    s.time = record_time_to_time(h.time);
    s.milliseconds = h.milliseconds;
    s.gop_length = h.gop_length;
    s.frame_count = h.frame_count;
    s.range_count = n;
}

}  // namespace

int32_t api_gop_source(int32_t slot, GopSource* out) {
    if (out == nullptr || slot < 0 || slot >= video_slot_count() || !slot_open(slot)) return -1;
    const SlotPlay& sp = engine_state().slots[slot];
    if (sp.gop_data != GopData::Loaded || sp.source.range_count <= 0) return -1;
    *out = sp.source;
    return 0;
}

GopLoad load_gop_header(int32_t slot, int32_t command) {
    SlotPlay& sp = engine_state().slots[slot];
    // Whatever the read gives, the buffer no longer holds the current header's frames.
    sp.gop_data = GopData::Refused;
    sp.source.range_count = 0;
    if (read_video(slot, command, api_state().video_buffer.get(), kGopHeaderSize) == 0) {
        return GopLoad::Failed;
    }
    const GopHeader& h = video_header(slot);
    if (h.start_bits != kStartBits) {
        dvrfs_trace("readstreamdata [%d]  Start bit Error(%x)\n", slot, h.start_bits);
        return GopLoad::BadStartBits;
    }
    sp.frame_index = 0;
    sp.time = header_time(record_time_to_time(h.time), h.milliseconds, frame_time_step(h.frames[0]));
    sp.gop_data = GopData::Unread;
    return GopLoad::Loaded;
}

void load_gop_frames(int32_t slot) {
    SlotPlay& sp = engine_state().slots[slot];
    sp.gop_data = GopData::Refused;
    sp.source.range_count = 0;
    // The frames follow the header: a reader that has passed some of them reads the header
    // again to stand right behind it.
    if (stream_reader_state().slots[slot].gop_offset != 0 &&
        read_video(slot, PLAYBACK_VIDEO_CRRUENT_GOP_HEADER, api_state().video_buffer.get(),
                   kGopHeaderSize) == 0) {
        return;
    }
    const GopHeader& h = video_header(slot);
    const int64_t data = int64_t{h.gop_length} - kGopHeaderSize;
    if (data <= 0 || data >= kMaxGopData) {
        // None of its frames fit the buffer: forward play passes the GOP over as a whole.
        dvrfs_trace("Too big bulk size %d\n", static_cast<int32_t>(data));
        return;
    }
    const int32_t size = static_cast<int32_t>(data);
    if (read_video(slot, PLAYBACK_VIDEO_GOP_DATA, api_state().frame_buffers[slot].get(), size) == size) {
        sp.gop_data = GopData::Loaded;
        note_gop_source(slot, h);
    }
}
