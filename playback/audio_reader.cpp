// getaudiodata: one command on an audio slot. After a header command the position lies just
// behind the header; after the data command, just behind the record's trailer, and the header
// copy's total size is 0 to say so.
#include <cstring>

#include "playback/reader_i.h"

namespace {

SlotReader& reader(int32_t slot) {
    return stream_reader_state().slots[slot];
}

void trace_damage(int32_t slot, const AudioHeader& h) {
    if (!has_start_bits(h)) {
        dvrfs_trace("GOP Start Bit Error %d  %x", slot, h.start_bits);
    } else {
        dvrfs_trace("Audio Length Error %d  total %u sample %u\n", slot, h.total_size, h.sample);
    }
}

bool trailer_damaged(uint32_t trailer) {
    const auto value = static_cast<int32_t>(trailer);
    return value < kAudioHeaderSize || value > kMaxAudioSample;
}

int32_t fail(int32_t* size) {
    *size = 0;
    return -1;
}

void trace_header_read(bool previous, int32_t result) {
    if (previous) {
        dvrfs_trace("getaudiodata read_error 2\n");
    } else {
        dvrfs_trace("getaudiodata read PLAYBACK_AUDIO_HEADER error .. %d\n", result);
    }
}

// Reads the audio header at the current position into the slot's copy and the caller's buffer;
// a damaged one starts a start-bits search in the direction of travel and one more try.
int32_t load_header(int32_t slot, int32_t fd, int32_t direction, uint8_t* buffer, int32_t* size) {
    const bool previous = direction == 0;
    AudioHeader h;
    std::memset(&reader(slot).audio, 0, sizeof(AudioHeader));
    int32_t n = read_exact(fd, &h, kAudioHeaderSize);
    if (n != kAudioHeaderSize) {
        trace_header_read(previous, n);
        return fail(size);
    }
    if (!header_acceptable(h)) {
        trace_damage(slot, h);
        if (previous && has_start_bits(h) && !seek_by(fd, -kAudioHeaderSize)) {
            dvrfs_trace("getaudiodata backup_lseek error\n");
            return fail(size);
        }
        if (audio_start_bits_search(fd, slot, direction) != 0) return fail(size);
        n = read_exact(fd, &h, kAudioHeaderSize);
        if (n != kAudioHeaderSize) {
            trace_header_read(previous, n);
            return fail(size);
        }
        if (!header_acceptable(h)) {
            trace_damage(slot, h);
            if (has_start_bits(h)) {
                reader_note_damage(fd);
                return fail(size);
            }
        }
    }
    reader(slot).audio = h;
    if (buffer != nullptr) std::memcpy(buffer, &h, kAudioHeaderSize);
    *size = kAudioHeaderSize;
    return 0;
}

int32_t next_header(int32_t slot, int32_t fd, uint8_t* buffer, int32_t* size) {
    const AudioHeader& current = reader(slot).audio;
    if (current.total_size != 0) {
        if (lengths_usable(current)) {
            // Over the data and the trailer.
            if (!seek_by(fd, int64_t{current.total_size} - kAudioHeaderSize + kTrailerSize)) {
                dvrfs_trace("getaudiodata lseek_error \n");
                return fail(size);
            }
        } else if (audio_start_bits_search(fd, slot, 1) != 0) {
            std::memset(&reader(slot).audio, 0, sizeof(AudioHeader));
            return fail(size);
        }
    }
    return load_header(slot, fd, 1, buffer, size);
}

int32_t data(int32_t slot, int32_t fd, uint8_t* buffer, int32_t* size) {
    AudioHeader& h = reader(slot).audio;
    if (h.total_size == 0) return fail(size);  // consumed already: nothing moves
    const int64_t bytes = int64_t{h.total_size} - kAudioHeaderSize;
    if (!lengths_usable(h)) {
        h.total_size = 0;
        return fail(size);
    }
    if (buffer == nullptr || *size < 0 || *size > bytes) return fail(size);
    const int32_t wanted = *size;
    h.total_size = 0;
    if (wanted > 0 && read_exact(fd, buffer, wanted) != wanted) {
        dvrfs_trace("getaudiodata read PLAYBACK_AUDIO_DATA error \n");
        return fail(size);
    }
    // Over what the caller left of the data, and the trailer.
    if (!seek_by(fd, bytes - wanted + kTrailerSize)) {
        dvrfs_trace("getaudiodata lseek_error \n");
        return fail(size);
    }
    return 0;
}

// Reads the trailer that ends just before the position, leaving the position unchanged.
int32_t trailer_before(int32_t fd, uint32_t* trailer) {
    if (!seek_by(fd, -kTrailerSize)) {
        dvrfs_trace("getaudiodata backup_lseek error\n");
        return -1;
    }
    if (read_exact(fd, trailer, kTrailerSize) != kTrailerSize) {
        dvrfs_trace("getaudiodata read_error \n");
        return -1;
    }
    return 0;
}

int32_t previous_header(int32_t slot, int32_t fd, uint8_t* buffer, int32_t* size) {
    const AudioHeader& current = reader(slot).audio;
    uint32_t trailer = 0;
    if (current.total_size != 0) {
        // Just behind this record's header: back to its start.
        if (!seek_by(fd, -kAudioHeaderSize)) {
            dvrfs_trace("getaudiodata backup_lseek error\n");
            return fail(size);
        }
    } else {
        // Behind this record's trailer: its own trailer leads back to its start.
        if (trailer_before(fd, &trailer) != 0) return fail(size);
        if (trailer_damaged(trailer)) {
            // The nearest start bits behind are this record's own.
            if (audio_start_bits_search(fd, slot, 0) != 0) return fail(size);
        } else if (!seek_by(fd, -(int64_t{kTrailerSize} + trailer))) {
            dvrfs_trace("getaudiodata backup_lseek error\n");
            return fail(size);
        }
    }
    if (trailer_before(fd, &trailer) != 0) return fail(size);
    if (trailer_damaged(trailer)) {
        if (audio_start_bits_search(fd, slot, 0) != 0) return fail(size);
    } else if (!seek_by(fd, -(int64_t{kTrailerSize} + trailer))) {
        dvrfs_trace("getaudiodata backup_lseek error\n");
        return fail(size);
    }
    return load_header(slot, fd, 0, buffer, size);
}

}  // namespace

int32_t getaudiodata(int32_t slot, int32_t command, uint8_t* buffer, int32_t* size) {
    if (size == nullptr) return -1;
    const int32_t fd = reader_handle(slot);
    if (fd < 0) return fail(size);
    switch (command) {
        case PLAYBACK_AUDIO_READ:
        case PLAYBACK_AUDIO_READ_2: {
            if (buffer == nullptr || *size <= 0) return fail(size);
            const int32_t n = reader_read(fd, buffer, *size);
            if (n <= 0) {
                dvrfs_trace("getaudiodata read_error\n");
                return fail(size);
            }
            *size = n;
            return 0;
        }
        case PLAYBACK_AUDIO_HEADER:
            return next_header(slot, fd, buffer, size);
        case PLAYBACK_AUDIO_DATA:
        case PLAYBACK_AUDIO_DATA_2:
            return data(slot, fd, buffer, size);
        case PLAYBACK_AUDIO_PREVIOUS_HEADER:
            return previous_header(slot, fd, buffer, size);
        default:
            return fail(size);
    }
}
