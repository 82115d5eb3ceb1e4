// getvideodata: one command on a video slot. The file position of a slot stays the start of its
// current GOP header plus 96 plus the slot's gop_offset, so that the header, the next GOP and
// the previous GOP are all reached by relative seeks. Lengths come from the header only after
// it passed its checks; a header without usable lengths is left by a start-bits search.
#include <cstring>

#include "playback/reader_i.h"

namespace {

SlotReader& reader(int32_t slot) {
    return stream_reader_state().slots[slot];
}

int64_t frame_span(const GopHeader& h, int32_t from, int32_t to) {
    int64_t bytes = 0;
    for (int32_t i = from; i < to; ++i) bytes += frame_bytes(h.frames[i]);
    return bytes;
}

void trace_damage(int32_t slot, const GopHeader& h) {
    if (!has_start_bits(h)) {
        dvrfs_trace("GOP Start Bit Error %d  %x", slot, h.start_bits);
    } else {
        dvrfs_trace("GOP Length Error %d  length %u count %u\n", slot, h.gop_length, h.frame_count);
    }
}

// The trailer of a GOP cannot steer a seek: damaged, or too short to hold a header.
bool trailer_damaged(uint32_t trailer) {
    const auto value = static_cast<int32_t>(trailer);
    return value < kGopHeaderSize || value > kMaxGopLength;
}

int32_t fail(int32_t* size) {
    *size = 0;
    return -1;
}

// Reads the GOP header at the current position into the slot's copy and the caller's buffer.
// A damaged header starts a start-bits search in the direction of travel and one more try.
int32_t load_header(int32_t slot, int32_t fd, int32_t direction, int read_error, uint8_t* buffer,
                    int32_t* size) {
    GopHeader h;
    stream_reader_clear_slot(slot);
    if (read_exact(fd, &h, kGopHeaderSize) != kGopHeaderSize) {
        dvrfs_trace("getvideodata read_error%d\n", read_error);
        return fail(size);
    }
    if (!header_acceptable(h)) {
        trace_damage(slot, h);
        // Backward, the search must pass this header's own start bits.
        if (direction == 0 && has_start_bits(h) && !seek_by(fd, -kGopHeaderSize)) {
            dvrfs_trace("getvideodata lseek_error\n");
            return fail(size);
        }
        if (video_start_bits_search(fd, slot, direction) != 0) return fail(size);
        if (read_exact(fd, &h, kGopHeaderSize) != kGopHeaderSize) {
            dvrfs_trace("getvideodata read_error%d\n", direction == 0 ? 10 : 9);
            return fail(size);
        }
        if (!header_acceptable(h)) {
            trace_damage(slot, h);
            // Lengths that cannot be trusted are never handed on; bad start bits the caller
            // recognises by itself.
            if (has_start_bits(h)) {
                reader_note_damage(fd);
                return fail(size);
            }
        }
    }
    reader(slot).video = h;
    if (buffer != nullptr) std::memcpy(buffer, &h, kGopHeaderSize);
    *size = kGopHeaderSize;
    return 0;
}

int32_t current_header(int32_t slot, int32_t fd, uint8_t* buffer, int32_t* size) {
    const SlotReader& r = reader(slot);
    if (r.video.gop_length != 0 && !seek_by(fd, -(kGopHeaderSize + r.gop_offset))) {
        dvrfs_trace("getvideodata lseek_error\n");
        return fail(size);
    }
    return load_header(slot, fd, 1, 2, buffer, size);
}

int32_t next_header(int32_t slot, int32_t fd, uint8_t* buffer, int32_t* size) {
    const SlotReader& r = reader(slot);
    if (!lengths_usable(r.video)) {
        // No length to skip by (damaged, the end mark, or none loaded): find the next record.
        if (video_start_bits_search(fd, slot, 1) != 0) {
            stream_reader_clear_slot(slot);
            return fail(size);
        }
    } else {
        const int32_t n = r.frames_consumed;
        if (n > 0 && n < static_cast<int32_t>(r.video.frame_count)) {
            dvrfs_trace("NEXT_GOP_HEADER 4");
        }
        // The trailer stands at the header's start plus the GOP length.
        const int64_t rest = int64_t{r.video.gop_length} - kGopHeaderSize - r.gop_offset;
        if (!seek_by(fd, rest + kTrailerSize)) {
            dvrfs_trace("getvideodata lseek_error\n");
            return fail(size);
        }
    }
    return load_header(slot, fd, 1, 5, buffer, size);
}

int32_t previous_header(int32_t slot, int32_t fd, uint8_t* buffer, int32_t* size) {
    const SlotReader& r = reader(slot);
    const uint32_t previous = r.video.previous_length;
    const bool known =
        header_acceptable(r.video) && previous > kGopHeaderSize && previous <= kMaxGopLength;
    const int64_t behind_header = kGopHeaderSize + r.gop_offset;
    if (known) {
        if (!seek_by(fd, -(behind_header + kTrailerSize + previous))) {
            dvrfs_trace("getvideodata lseek_error\n");
            return fail(size);
        }
        return load_header(slot, fd, 0, 7, buffer, size);
    }
    // Not known: the previous GOP's trailer, just before this header, gives its length.
    if (!seek_by(fd, -(behind_header + kTrailerSize))) {
        dvrfs_trace("getvideodata lseek_error\n");
        return fail(size);
    }
    uint32_t trailer = 0;
    if (read_exact(fd, &trailer, kTrailerSize) != kTrailerSize) {
        dvrfs_trace("getvideodata read_error6\n");
        stream_reader_clear_slot(slot);
        return fail(size);
    }
    if (trailer_damaged(trailer)) {
        if (video_start_bits_search(fd, slot, 0) != 0) {
            stream_reader_clear_slot(slot);
            return fail(size);
        }
    } else if (!seek_by(fd, -(int64_t{kTrailerSize} + trailer))) {
        dvrfs_trace("getvideodata lseek_error\n");
        return fail(size);
    }
    return load_header(slot, fd, 0, 7, buffer, size);
}

// Reads size bytes of the current GOP's frames; the caller's buffer must hold them.
bool read_frames(int32_t fd, uint8_t* buffer, int32_t size, int read_error) {
    if (buffer == nullptr || size < 0) return false;
    if (size > 0 && read_exact(fd, buffer, size) != size) {
        dvrfs_trace("getvideodata read_error%d\n", read_error);
        return false;
    }
    return true;
}

uint32_t type_mask(int32_t command) {
    if (command == PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_1) return 0x40000000;
    if (command == PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_2) return 0x80000000;
    return 0xC0000000;
}

int32_t next_frame_of_type(int32_t slot, int32_t fd, int32_t command, uint8_t* buffer,
                           int32_t* size) {
    SlotReader& r = reader(slot);
    const uint32_t mask = type_mask(command);
    const auto count = static_cast<int32_t>(r.video.frame_count);
    int32_t i = r.frames_consumed;
    while (i < count && (r.video.frames[i] & mask) == 0) ++i;
    if (i >= count) {
        dvrfs_trace("NO %x frame no = %d", mask, i);
        return fail(size);
    }
    const int64_t skip = frame_span(r.video, r.frames_consumed, i);
    if (!seek_by(fd, skip)) {
        dvrfs_trace("getvideodata lseek_error\n");
        return fail(size);
    }
    r.frames_consumed = i;
    r.gop_offset += skip;
    if (!read_frames(fd, buffer, *size, 4)) return fail(size);
    r.frames_consumed = i + 1;
    r.gop_offset += *size;
    return 0;
}

}  // namespace

int32_t getvideodata(int32_t slot, int32_t command, uint8_t* buffer, int32_t* size) {
    if (size == nullptr) return -1;
    const int32_t fd = reader_handle(slot);
    if (fd < 0) return fail(size);
    SlotReader& r = reader(slot);
    // Frame commands need a header whose frame table can be trusted.
    const bool frames_known = lengths_usable(r.video);
    const auto count = static_cast<int32_t>(r.video.frame_count);

    switch (command) {
        case PLAYBACK_VIDEO_READ: {
            if (buffer == nullptr || *size <= 0) return fail(size);
            const int32_t n = reader_read(fd, buffer, *size);
            if (n <= 0) {
                dvrfs_trace("getvideodata read_error1\n");
                return fail(size);
            }
            r.gop_offset += n;
            *size = n;
            return 0;
        }
        case PLAYBACK_VIDEO_CRRUENT_GOP_HEADER:
            return current_header(slot, fd, buffer, size);
        case PLAYBACK_VIDEO_NEXT_FRAME:
            if (!frames_known || r.frames_consumed >= count) return fail(size);
            if (!read_frames(fd, buffer, *size, 3)) return fail(size);
            r.frames_consumed += 1;
            r.gop_offset += *size;
            return 0;
        case PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_1:
        case PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_ANY:
        case PLAYBACK_VIDEO_NEXT_FRAME_OF_TYPE_2:
            if (!frames_known) return fail(size);
            return next_frame_of_type(slot, fd, command, buffer, size);
        case PLAYBACK_VIDEO_NEXT_GOP_HEADER:
            return next_header(slot, fd, buffer, size);
        case PLAYBACK_VIDEO_PREVIOUS_GOP_HEADER:
            return previous_header(slot, fd, buffer, size);
        case PLAYBACK_VIDEO_SKIP_FRAME: {
            *size = 0;
            if (!frames_known || r.frames_consumed >= count) return -1;
            const int64_t skip = frame_bytes(r.video.frames[r.frames_consumed]);
            if (!seek_by(fd, skip)) {
                dvrfs_trace("getvideodata lseek_error\n");
                return -1;
            }
            r.frames_consumed += 1;
            r.gop_offset += skip;
            return 0;
        }
        case PLAYBACK_VIDEO_BACK_TWO_FRAMES: {
            *size = 0;
            if (!frames_known || r.frames_consumed < 2) return -1;
            const int64_t back = frame_span(r.video, r.frames_consumed - 2, r.frames_consumed);
            if (!seek_by(fd, -back)) {
                dvrfs_trace("getvideodata lseek_error\n");
                return -1;
            }
            r.frames_consumed -= 2;
            r.gop_offset -= back;
            return 0;
        }
        case PLAYBACK_VIDEO_GOP_DATA:
            if (!frames_known) return fail(size);
            if (!read_frames(fd, buffer, *size, 8)) return fail(size);
            r.frames_consumed = count;
            r.gop_offset += *size;
            return 0;
        default:
            return fail(size);
    }
}
