// Capture: a channel's last decoded picture at its full decoded size, written as a 24-bit BMP
// file by the still writer, whatever size the channel is shown at.
#pragma once

#include <cstdint>
#include <string>

namespace display {

class ChannelState;

// Capture results beside the still writer's own negative codes.
inline constexpr int32_t kCaptureNoPicture = -100;
inline constexpr int32_t kCaptureConvert = -101;

// 0 when the file holds the picture; kCaptureNoPicture (and no file) when the channel has no
// picture, kCaptureConvert when it cannot be converted, or the writer's error.
int32_t capture_channel(const ChannelState& channel, const std::string& path);

}  // namespace display
