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

}  // namespace

GopLoad load_gop_header(int32_t slot, int32_t command) {
    SlotPlay& sp = engine_state().slots[slot];
    // Whatever the read gives, the buffer no longer holds the current header's frames.
    sp.gop_data = GopData::Refused;
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
    }
}
