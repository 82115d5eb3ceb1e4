// A recorder disk that still holds an earlier recording outside every channel's stored range:
// whole blocks of it in free blocks, the start of one of its blocks in the head block of the
// live video channel (before the head) and the end of another in that channel's tail block
// (past the tail), with decoys that only look like records. What was planted where is returned
// with the disk, so that tests can tell every record a scan finds from anything else.
//
// The re-formatted variant is the same disk after the recorder wrote a fresh super block and
// empty channel tables: nothing is stored, so the live recording has become an old one too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/sample/sample.h"

namespace sample {

// A GOP record left on the disk, found by its header's byte offset in the whole image.
struct PlantedGop {
    uint64_t image_offset = 0;
    uint32_t time = 0;    // the header's recorder time
    uint32_t ms = 0;
    uint32_t length = 0;  // header and frames, without the trailer
    int32_t frames = 0;
    int width = 0;        // the recording's picture size
    int height = 0;
};

struct PlantedAudio {
    uint64_t image_offset = 0;
    uint32_t time = 0;
    uint32_t ms = 0;
    uint32_t length = 0;  // header and samples, without the trailer
};

enum class DecoyKind {
    StartBitsInNoise,    // random bytes that hold the start-bits word
    FrameTableMismatch,  // a header whose frame table does not add up to its length
    NoiseKeyFrame,       // a consistent record whose key frame is noise
    TrailerMismatch,     // a whole record whose trailer names another length
};

struct PlantedDecoy {
    uint64_t image_offset = 0;  // of the start-bits word
    DecoyKind kind = DecoyKind::StartBitsInNoise;
};

struct RemnantsTruth {
    // Old GOP records that lie whole inside one block, outside every stored range: what a scan
    // must find, in recording order.
    std::vector<PlantedGop> complete;
    // Old GOP records whose header survives but which run past the end of their block into a
    // block that no longer follows: not recoverable.
    std::vector<PlantedGop> cut;
    // Old GOP records whose header survives before a channel's head but whose end the live
    // recording has written over.
    std::vector<PlantedGop> overwritten;
    std::vector<PlantedAudio> audio;      // old audio records whole inside one block
    std::vector<PlantedAudio> cut_audio;  // old audio records that run past their block
    std::vector<PlantedDecoy> decoys;
    // Header offsets of the GOP records inside the live channel's stored range (none on the
    // re-formatted disk): never to be reported as recovered.
    std::vector<uint64_t> live_gops;
    uint64_t block_bytes = 0;
};

struct RemnantsSample {
    DiskSpec spec;
    RemnantsTruth truth;
};

enum class RemnantsVariant { Live, Reformatted };

// The disk and what it holds; nullopt with a message when the video cannot be encoded.
std::optional<RemnantsSample> remnants_sample(RemnantsVariant variant, std::string* error);

}  // namespace sample
