// Runs found in blocks, placed on the image and grouped into streams.
#pragma once

#include <vector>

#include "recover/carver.h"
#include "recover/carver_block.h"

namespace recover {

// A run of FoundRun with its GOPs' offsets in the image.
struct PlacedRun {
    StreamKey key;
    std::vector<RecoveredGop> gops;
};

// Orders the runs by first time, then image offset; numbers their streams 1, 2, ... in that
// order by codec, picture size and parameter sets; gives each audio record to the first run
// whose span (to the end of its last GOP's second) holds its time. Records are left in
// result->runs; scanned_bytes and cut_records are not touched.
void group_runs(std::vector<PlacedRun> runs, std::vector<RecoveredAudio> audio,
                RecoveryResult* result);

}  // namespace recover
