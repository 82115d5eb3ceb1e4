// Real GOP records for the carver's tests: recordings of the sample encoder, made once per test
// program, with the record bytes as a recorder writes them into a channel.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/sample/recordings.h"

namespace carvertest {

using Bytes = std::vector<uint8_t>;

// A recording of small pictures at 15 fps, 4 frames per GOP (a GOP every 266 ms), over
// [from, from + seconds); GOP records chain their previous lengths.
const sample::VideoRecording& recording(sample::Codec codec, int width, int height,
                                        uint32_t from, int seconds);

// The records of a recording, each whole (trailer included), in write order.
std::vector<Bytes> records(const sample::VideoRecording& r);

// Concatenated records [first, end).
Bytes joined(const std::vector<Bytes>& records, size_t first, size_t end);

// A 32-bit field of a record, read or written in place.
uint32_t field(const Bytes& record, size_t at);
void set_field(Bytes* record, size_t at, uint32_t value);

}  // namespace carvertest
