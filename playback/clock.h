// The playback thread's sense of time: a millisecond tick and a sleep that a control change
// can cut short. Tests install a virtual clock, so no test depends on the wall clock.
#pragma once

#include <cstdint>

class PlaybackClock {
public:
    virtual ~PlaybackClock() = default;
    virtual uint32_t tick_ms() = 0;          // wraps like a 32-bit millisecond counter
    virtual void sleep_ms(int ms) = 0;
};

// The clock in force: the system's unless a test installed another (nullptr restores it).
PlaybackClock& playback_clock();
void playback_set_clock(PlaybackClock* clock);
