// Where a slot's data continues after a span that could not be read: the index intervals on
// the far side of the failure are tried, a few in turn, then ever further apart, and the first
// readable one is then narrowed down between the last unreadable interval and it. The number
// of reads stays small even on a disk that fails everywhere.
#pragma once

#include <cstdint>
#include <functional>

enum class ResumeProbe {
    Readable,    // a record can be read there; the slot stands at it
    Unreadable,  // the read failed, or the record there is damaged
    End,         // the slot's data ends there
};

// Index intervals tried one by one before the steps begin to double.
inline constexpr int64_t kResumeSteps = 4;

// probe(k) positions the slot k index intervals away from the failure (k >= 1) and says what
// it found. Returns the nearest k found readable, with probe(k) the last call made so that the
// slot stands there; 0 when no interval up to max_step is.
int64_t find_resume_step(const std::function<ResumeProbe(int64_t)>& probe, int64_t max_step);
