// The block parser of the carver: finds whole, consistent GOP and audio records in the bytes of
// one block, without knowing where the block came from. The volume walk (carver_areas.h)
// decides which bytes to hand it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk/disk.h"

namespace recover {

// Whether a GOP's key frame gives a picture; the scan asks the display's decoder.
class KeyFrameCheck {
public:
    virtual ~KeyFrameCheck() = default;
    virtual bool decodes(const uint8_t* frame, size_t length, int width, int height) = 0;
};

// What a record header at some offset turned out to be.
enum class RecordVerdict {
    None,  // not a record, or one whose fields disagree
    Whole, // every field agrees and the record, trailer included, lies in the bytes given
    Cut,   // the header agrees, but the record runs past the bytes given
};

struct GopFields {
    uint32_t time = 0;
    int32_t ms = 0;
    uint32_t length = 0;           // header and frames, without the trailer
    uint32_t previous_length = 0;  // as the header names its predecessor
    int32_t frames = 0;
    int width = 0, height = 0;
    uint32_t key_frame_length = 0;  // the first frame's bytes, right after the header
};

struct AudioFields {
    uint32_t time = 0;
    int32_t ms = 0;
    uint32_t length = 0;  // header and audio bytes, without the trailer
    uint32_t previous_length = 0;
};

// Checks a GOP record whose header starts at data[0], with `available` bytes from there on.
// The key frame is decoded only when every other field agrees and it lies in the bytes given.
RecordVerdict check_gop(const uint8_t* data, size_t available, KeyFrameCheck& key,
                        GopFields* out);
RecordVerdict check_audio(const uint8_t* data, size_t available, AudioFields* out);

// Recorder seconds of an 8-byte record time whose calendar fields are all in range, else 0.
uint32_t record_seconds(const uint8_t* record_time);

// What sets a GOP's stream apart: its codec, picture size and the parameter sets in front of
// its key frame.
struct StreamKey {
    std::string codec;  // "h264" or "mpeg4"
    int width = 0, height = 0;
    std::vector<uint8_t> parameters;
    bool operator==(const StreamKey&) const = default;
    bool operator<(const StreamKey& other) const;
};

struct FoundGop {
    size_t offset = 0;  // of the header, in the buffer given to scan_block
    GopFields fields;
};

// Records that follow each other without a gap, each naming the one before as its predecessor,
// all of one stream.
struct FoundRun {
    StreamKey key;
    std::vector<FoundGop> gops;  // in the order they lie
};

struct FoundAudio {
    size_t offset = 0;
    AudioFields fields;
};

struct BlockFindings {
    std::vector<FoundRun> runs;
    std::vector<FoundAudio> audio;
    uint64_t cut_records = 0;  // records whose header agrees but that run past `end`
};

// Scans data[begin, end) for records on the 4-byte grid of data[0] (where the block starts),
// appending to *out. Bytes past `end` are unknown: a record running into them is only counted.
void scan_block(const uint8_t* data, size_t begin, size_t end, KeyFrameCheck& key,
                BlockFindings* out);

// Reads bytes at image_offset (in the whole image) of the mounted area, in whole sectors, into
// sectors; *data points at the first byte asked for. DVR_EINVAL when the range leaves the area.
int32_t read_area_bytes(const DiskEntry& entry, uint64_t image_offset, uint64_t bytes,
                        std::vector<uint8_t>* sectors, const uint8_t** data);

}  // namespace recover
