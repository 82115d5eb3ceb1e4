// The recorder volume the recording target plays: video channel 1 and audio channel 1 written
// once a second with marker bytes, so that the sectors holding each channel's bytes can be
// found in the image and replaced by a fuzz input's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "fuzz/harness/sparse_image.h"

namespace fuzz {

// 2026-03-14 07:00:00, an hour boundary: the first second of the template's recordings.
inline constexpr uint32_t kRecordingStart = 1773471600;
inline constexpr int kRecordingSeconds = 64;
inline constexpr size_t kVideoBytesPerSecond = 1024;
inline constexpr size_t kAudioBytesPerSecond = 256;

// Where each 8-byte unit of a channel lies in the image: (sector, byte in the sector).
using ChannelPlacement = std::vector<std::pair<uint64_t, uint32_t>>;

struct RecordingTemplate {
    bool ok = false;
    SparseImage image;
    ChannelPlacement video, audio;
};

// Built on first use with the sample builder.
const RecordingTemplate& recording_template();

// Writes bytes over the channel's units in the image; units past the bytes read as zeros, and
// bytes past the channel's size are left out.
void place_channel_bytes(const ChannelPlacement& placement, const uint8_t* bytes, size_t length,
                         SparseImage* image);

}  // namespace fuzz
