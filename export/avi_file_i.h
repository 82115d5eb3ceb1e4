// Steps of the AVI writer shared by its files: writing pieces at an offset, and the write
// buffer with the spilled index behind it.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

#include "export/avi_writer.h"

// Writes every byte of the pieces at `offset`, going on after partial writes. False when the
// system refuses or makes no progress. The pieces are used up.
bool avi_write_all_at(int fd, iovec* pieces, int count, uint64_t offset);

// The record's counters as they stand.
avi_out_mark avi_mark_of(const avi_out& avi);

// Before a chunk of chunk_bytes is appended (and before its index entry): flushes the buffer
// when the chunk does not fit behind it, and spills the index when it is full. False when the
// flush failed (the record is then back at its durable state).
bool avi_make_room(avi_out* avi, uint64_t chunk_bytes);

// Takes the pieces into the buffer when they fit behind what it holds; false otherwise.
bool avi_buffer_take(avi_out* avi, const iovec* pieces, int count, size_t total);

// Writes the spilled idx1 entries to the output file at `at`; false on any failure.
bool avi_copy_spilled_index(avi_out* avi, uint64_t at);

// Releases the buffer and the temporary index file.
void avi_release_buffering(avi_out* avi);
