// Internals shared by the stream reader's files.
#pragma once

#include <cstdint>

#include "playback/stream_reader.h"

// The slot's channel file, or -1 for a slot outside the table or without an open file.
int32_t reader_handle(int32_t slot);

// backup_read, with a failure noted for the slot reading the file.
int32_t reader_read(int32_t fd, void* buffer, int32_t length);

// A record of the file fd is damaged beyond what the start-bits search can pass: noted for the
// slot like a failed read, since the data goes on behind it.
void reader_note_damage(int32_t fd);

// Reads exactly length bytes and returns length; otherwise returns what backup_read returned
// (an error or a short count) after moving back over the bytes it got.
int32_t read_exact(int32_t fd, void* buffer, int32_t length);

// Relative seek; false when the channel layer refused it.
bool seek_by(int32_t fd, int64_t offset);

// Start-bits searches on an open channel file; slot only names the search in the trace.
int32_t video_start_bits_search(int32_t fd, int32_t slot, int32_t direction);
int32_t audio_start_bits_search(int32_t fd, int32_t slot, int32_t direction);

inline bool has_start_bits(const GopHeader& h) {
    return h.start_bits == kStartBits;
}
inline bool has_start_bits(const AudioHeader& h) {
    return h.start_bits == kStartBits;
}

// A header that can be handed on: start bits and usable lengths, or the end-of-channel mark.
inline bool header_acceptable(const GopHeader& h) {
    return has_start_bits(h) && (gop_lengths_valid(h) || gop_is_end_mark(h));
}
inline bool header_acceptable(const AudioHeader& h) {
    return has_start_bits(h) && (audio_lengths_valid(h) || audio_is_end_mark(h));
}

// A header whose lengths may steer the file position.
inline bool lengths_usable(const GopHeader& h) {
    return has_start_bits(h) && gop_lengths_valid(h);
}
inline bool lengths_usable(const AudioHeader& h) {
    return has_start_bits(h) && audio_lengths_valid(h);
}
