// The check of a mounted session: reads every stored record of its video and audio channels
// (what the calendar and the index promise) and reports the spans that cannot be read or are
// damaged, with their recorder times and image offsets. Reads the image only.
#pragma once

#include <cstdint>
#include <vector>

#include "recover/carver.h"

namespace recover {

// check_session's answer when the progress callback asked to stop; the same code the record
// carver answers.
inline constexpr int32_t CHECK_ECANCELED = RECOVER_ECANCELED;

enum class CheckFault {
    ReadFailure,   // the disk refused the bytes (error holds the disk layer's code)
    BadStartBits,  // a record does not begin with the start bits
    BadTrailer,    // a record's trailer does not repeat its length
    BadLength,     // a length field out of range, or a record running past the stored data
};

// The words reports use for a fault: "read failure", "bad start bits", "bad trailer",
// "length out of range".
const char* check_fault_name(CheckFault fault);

// A stretch of a channel without one readable record. It lies between the last readable
// record before it and the first one after it.
struct UnreadableSpan {
    CheckFault fault = CheckFault::ReadFailure;  // what the first unreadable record met
    int32_t error = 0;             // the disk layer's code for a read failure, else 0
    uint32_t from_time = 0;        // recorder time where it begins (see check_span_times)
    uint32_t to_time = 0;          // time of the first readable record after it; 0: none follows
    uint64_t channel_offset = 0;   // bytes from the head of the stored data
    uint64_t bytes = 0;            // its length in the channel
    uint64_t image_offset = 0;     // the image byte where it begins; 0 when no byte names it
    uint64_t image_end = 0;        // the image byte where readable data resumes; 0 when none
};

// One video or audio channel of the session.
struct ChannelCheck {
    int32_t channel = 0;      // the channel file's number
    bool audio = false;
    int number = 0;           // as the user sees it: video 1..16, audio 1..4
    bool empty = false;       // never written: nothing to read, nothing damaged
    int32_t open_error = 0;   // the channel could not be opened: it is one unreadable span
    uint64_t records = 0;     // readable records
    uint64_t bytes = 0;       // bytes in readable records
    uint32_t first_time = 0;  // of the first and last readable record; 0 without one
    uint32_t last_time = 0;
    std::vector<UnreadableSpan> spans;
};

struct CheckReport {
    std::vector<ChannelCheck> channels;  // video channels first, then audio, by number
    uint64_t records = 0;
    uint64_t bytes = 0;
    uint64_t failures = 0;  // unreadable spans of all channels
    bool readable() const { return failures == 0; }
};

class CheckProgress {
public:
    virtual ~CheckProgress() = default;
    virtual void progress(uint64_t /*done_bytes*/, uint64_t /*total_bytes*/) {}
    virtual bool cancelled() { return false; }
};

// Checks every video and audio channel of the mounted session. Takes the storage API's lock
// for each read, so playback must not run meanwhile but the UI may use the API. 0 with *report
// filled; CHECK_ECANCELED when stopped (the report holds what was checked); -22 when no
// session is mounted.
int32_t check_session(CheckProgress* progress, CheckReport* report);

// Checks one channel file of the mounted session into *result (its channel field set by the
// caller); `done_before` and `total` carry the progress across channels. 0 or CHECK_ECANCELED.
int32_t check_channel(CheckProgress* progress, uint64_t done_before, uint64_t total,
                      ChannelCheck* result);

}  // namespace recover
