// What one stored record's header says, checked before its bytes are trusted.
#pragma once

#include <cstdint>

#include "recover/check.h"

namespace recover {

struct RecordHead {
    bool good = false;       // start bits and lengths can be used
    bool end_mark = false;   // the recorder's end-of-channel mark: nothing follows
    CheckFault fault = CheckFault::BadStartBits;  // why it is not good
    uint32_t length = 0;     // header and body, without the trailer
    uint32_t time = 0;       // recorder time of the record; 0 when it names none
};

// Bytes of a video (GOP) or audio record header.
int32_t record_header_size(bool audio);

// Reads a header of record_header_size(audio) bytes.
RecordHead read_record_head(bool audio, const uint8_t* header);

// Whether a 4-byte trailer repeats the record's length.
bool record_trailer_matches(const uint8_t* trailer, uint32_t length);

}  // namespace recover
