// Small recorder volumes and backup sessions with known channel bytes, mounted with their
// volume selected, for tests of the channel layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sample/sample.h"

namespace testkit {

// An hour boundary used as the first recording time: 2026-03-14 07:00:00.
inline constexpr uint32_t kT0 = 1773471600;

// Bytes that differ by channel, time and position, so that a misplaced byte shows.
std::vector<uint8_t> pattern_bytes(int32_t channel, uint32_t time, size_t length);

// A channel that received `length` pattern bytes every 15 seconds over [from, to).
sample::ChannelData steady_channel(int32_t channel, uint32_t from, uint32_t to, size_t length);

// The bytes a channel holds, concatenated in write order.
std::vector<uint8_t> stored_bytes(const sample::ChannelData& data);

// A bare 512 MiB disk with a recorder volume of small blocks (4 KiB) and small maps (256
// slots per channel), so that block and ring boundaries come after a few kilobytes.
sample::DiskSpec small_recorder(const sample::VolumeContent& content, int32_t channel_count = 7);

// A partitioned disk with one backup partition holding the given sessions, 4 KiB blocks.
sample::DiskSpec small_backup(const std::vector<sample::SessionSpec>& sessions,
                              int32_t slot_count = 4);

// Attaches the image, scans, mounts the first mountable row; 0 or the failing code.
int32_t mount_first(const std::string& path);
// mount_first, then selects volume record `record`; 0 or the failing code.
int32_t mount_volume(const std::string& path, int record = 0);

// Reads the whole channel from the descriptor's position in pieces of `chunk` bytes.
std::vector<uint8_t> read_all(int32_t fd, int32_t chunk);

}  // namespace testkit
