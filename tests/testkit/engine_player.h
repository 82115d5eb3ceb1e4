// The playback engine of a sample image feeding a display as the main window feeds it: video
// slots as video channels, the slots after the display channel count as audio channels 0..3.
// For the display's tests and its bench; one player at a time (the storage API is one per
// process).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "playback/display_control.h"

namespace testkit {

class EnginePlayer {
public:
    EnginePlayer() = default;
    ~EnginePlayer();
    EnginePlayer(const EnginePlayer&) = delete;
    EnginePlayer& operator=(const EnginePlayer&) = delete;

    // Attaches the image, starts the storage API, mounts the first mountable row and session
    // 0. 0, or a message in *error.
    int open(const std::string& image, DisplayControl* display, std::string* error);
    // Plays the video channels of `mask` (bit 0: channel 1) from `from`, paced or not.
    int play(uint32_t mask, uint32_t from, bool pacing);
    void stop();
    // Another display from the next frame on (nullptr: frames go nowhere).
    void set_display(DisplayControl* display);

    int display_channels() const { return display_channels_; }
    // Whether the engine said it has nothing left to play.
    bool ended() const;
    // Durations of the frame calls in nanoseconds, when recording is on (the buffer is
    // reserved up front so that recording allocates nothing on the playback thread).
    void record_call_times(size_t capacity);
    std::vector<int64_t> call_times() const;
    // The same calls' time on the playback thread's own clock: without the time it waited
    // for a core.
    std::vector<int64_t> call_cpu_times() const;
    uint64_t frames() const;

private:
    bool started_ = false;
    int display_channels_ = 0;
};

}  // namespace testkit
