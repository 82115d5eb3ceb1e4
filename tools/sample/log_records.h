// The bytes of the recorder's log records and capture images, for ChannelData writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sample {

// 64 bytes: 4 unused, time, 56 text bytes (a 56-byte text has no terminating zero).
std::vector<uint8_t> system_log_record(uint32_t time, const std::string& text);
// 8 bytes: video channel from 0, type, in-use mark, unused, time.
std::vector<uint8_t> event_log_record(uint32_t time, uint8_t channel, uint8_t type,
                                      uint8_t in_use = 1);
// 16 bytes: capture time, kind, pictured time, unused.
std::vector<uint8_t> capture_log_record(uint32_t time, uint32_t kind, uint32_t pictured);
// 16-byte header (time, length - 4) and the image.
std::vector<uint8_t> capture_image_record(uint32_t time, const std::vector<uint8_t>& image);

}  // namespace sample
