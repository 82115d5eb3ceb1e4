// What each channel of a volume holds, by the volume's channel count.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

struct ChannelRole {
    std::string name;  // "super index", "index", "search log", "video", "audio",
                       // "capture images", "event log", "capture log", "system log", "unused"
    int number = 0;    // video and audio channels: 1..16 and 1..4 as the user sees them
};

ChannelRole channel_role(int32_t channel, int32_t channel_count);

}  // namespace cli
