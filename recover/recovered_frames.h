// The pieces of a recovered record that the channel writer takes: a GOP's frames with the
// times they play at, an audio record's samples with its time.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace recover {

struct RecoveredFrame {
    uint32_t time = 0;  // recorder seconds
    uint16_t ms = 0;
    bool key = false;
    const uint8_t* data = nullptr;  // inside the record given to gop_frames
    int32_t length = 0;
};

// The frames of a whole GOP record (header, frames, trailer) in stored order, the first being
// the key frame; each plays at the header's time plus the time steps up to it. nullopt when the
// record's fields do not agree with each other or with its size.
std::optional<std::vector<RecoveredFrame>> gop_frames(const std::vector<uint8_t>& record);

struct RecoveredSamples {
    uint32_t time = 0;
    uint16_t ms = 0;
    std::vector<uint8_t> samples;
};

// The samples of a whole audio record (header, samples, trailer); nullopt when its fields do
// not agree.
std::optional<RecoveredSamples> audio_samples(const std::vector<uint8_t>& record);

}  // namespace recover
