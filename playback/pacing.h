// How long the playback thread sleeps after a step, by play mode.
#pragma once

#include <cstdint>

// elapsed: milliseconds the step took; interval: the frame interval (33 or 40 ms).
int pacing_sleep_ms(int32_t mode, int64_t elapsed, int32_t interval, bool key_frames_only);
