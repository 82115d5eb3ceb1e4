// The bytes of the recorder's stream records, for ChannelData writes: GOP records (96-byte
// header, frame table, frames, trailer) in video channels and audio records (32-byte header,
// audio bytes, trailer) in audio channels, with switches that damage them the ways a reader
// must survive.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sample {

struct StreamFrame {
    std::vector<uint8_t> bytes;  // padded with zeros to whole 4-byte words when written
    uint32_t type = 1;           // frame type code 1..3, passed on as the recorder wrote it
    uint32_t time_step = 0;      // ms: frame 0 after the GOP's milliseconds, later ones after
                                 // the frame before (0..16383)
};

// Damage switches; without any the record is what a recorder writes.
struct RecordDamage {
    bool broken_start_bits = false;  // the first word is not the start bits
    bool damaged_trailer = false;    // the trailer reads 0xFFFFFFFF
    // The recorder's end-of-channel mark: frame count (audio: sample) 0 and a zeroed time,
    // which converts to no time (32399).
    bool end_mark = false;
    std::optional<uint32_t> length;  // written in place of the GOP length (audio: total size)
    std::optional<uint32_t> count;   // written in place of the frame count (audio: sample)
};

struct GopRecordSpec {
    uint32_t time = 0;  // recorder time stamp
    uint32_t milliseconds = 0;
    std::vector<StreamFrame> frames;  // 1..16; the first is the GOP's key frame
    uint32_t width = 352;             // 1..720
    uint32_t height = 240;            // 1..576
    uint32_t picture_flags = 0;
    uint32_t previous_length = 0;  // the previous GOP record's length; 0: not known
    RecordDamage damage;
};

struct AudioRecordSpec {
    uint32_t time = 0;
    uint32_t milliseconds = 0;
    // At most 9216 bytes. Recorders write whole words: a length that is not is padded with
    // mu-law silence (0xFF), so that the records after it stay on the start-bits search's grid.
    std::vector<uint8_t> samples;
    uint32_t previous_size = 0;  // the previous audio record's length
    RecordDamage damage;
};

// A whole record, trailer included; empty when the record cannot be written (frame count,
// frame length, time step, type code or picture size out of its field).
std::vector<uint8_t> gop_record(const GopRecordSpec& spec);
std::vector<uint8_t> audio_record(const AudioRecordSpec& spec);

// What the next record names as its predecessor's length: the record without its trailer.
uint32_t record_length(const std::vector<uint8_t>& record);

// Stand-in frame bytes until real pictures are wanted: an Annex B start code, a NAL header
// byte (IDR slice for a key frame, else a non-IDR slice) and bytes that vary with the seed.
// No byte is 0xFF, so no word inside the frame can look like the start bits.
std::vector<uint8_t> synthetic_frame(uint32_t seed, size_t length, bool key);

}  // namespace sample
