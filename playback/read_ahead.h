// Reading ahead in a slot's channel file. Forward play reads a GOP header, then the GOP's
// frames, then the next header, each a small request on its own; read ahead, the header, the
// frames and the next headers come from one larger request. The file's position always moves as
// if only the bytes asked for had been read, so every caller sees the channel layer as before.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes read at once when reads follow one another.
inline constexpr int32_t kReadAheadBytes = 256 * 1024;

// backup_read of the channel file fd, served from what was read ahead where it can be.
int32_t read_ahead_read(int32_t fd, void* buffer, int32_t length);
// Drops everything read ahead (tests, and callers that want every read to reach the disk).
void read_ahead_clear();
