// The carver's block parser on arbitrary bytes, as if they were a block read from a disk: the
// records it reports must lie inside the bytes it was given, on the grid, whole and chained.
//
// Input:
//   [0..1]  where the scan begins (little-endian), taken modulo the block's length
//   [2..3]  bytes left off the block's end (little-endian), as a stored range would
//   then the block's bytes.
#include <cstdlib>
#include <cstring>

#include "fuzz/harness/harness.h"
#include "playback/record_format.h"
#include "recover/carver_block.h"
#include "recover/carver_group.h"
#include "recover/carver_keyframe.h"

namespace fuzz {
namespace {

constexpr size_t kControlBytes = 4;

uint32_t word_at(const uint8_t* p, size_t at) {
    uint32_t w;
    std::memcpy(&w, p + at, sizeof w);
    return w;
}

// A finding that breaks what the parser promises is a bug: stop the fuzzer there.
void require(bool condition) {
    if (!condition) std::abort();
}

void check_record(const uint8_t* block, size_t begin, size_t end, size_t at, uint32_t length) {
    require(at % 4 == 0 && at >= begin);
    require(size_t{length} + kTrailerSize <= end - at);
    require(word_at(block, at) == kStartBits);
    require(word_at(block, at + length) == length);
}

}  // namespace

int carver(const uint8_t* data, size_t size) {
    if (size < kControlBytes) return 0;
    const uint8_t* block = data + kControlBytes;
    const size_t length = size - kControlBytes;
    if (length == 0) return 0;
    const size_t begin = (size_t{data[0]} | size_t{data[1]} << 8) % length;
    const size_t cut = size_t{data[2]} | size_t{data[3]} << 8;
    const size_t end = cut >= length ? begin : std::max(begin, length - cut);

    recover::DecoderKeyFrameCheck key;
    recover::BlockFindings found;
    recover::scan_block(block, begin, end, key, &found);

    std::vector<recover::PlacedRun> placed;
    for (const recover::FoundRun& run : found.runs) {
        require(!run.gops.empty());
        recover::PlacedRun p{run.key, {}};
        for (size_t i = 0; i < run.gops.size(); ++i) {
            const recover::FoundGop& g = run.gops[i];
            check_record(block, begin, end, g.offset, g.fields.length);
            require(g.fields.frames >= 1 && g.fields.frames <= kMaxGopFrames);
            if (i > 0) {
                const recover::FoundGop& before = run.gops[i - 1];
                require(before.offset + before.fields.length + kTrailerSize == g.offset);
                require(g.fields.previous_length == before.fields.length);
            }
            p.gops.push_back({g.fields.time, g.fields.ms, g.offset, g.fields.length,
                              g.fields.frames});
        }
        placed.push_back(std::move(p));
    }
    std::vector<recover::RecoveredAudio> audio;
    for (const recover::FoundAudio& a : found.audio) {
        check_record(block, begin, end, a.offset, a.fields.length);
        audio.push_back({a.fields.time, a.offset, a.fields.length});
    }
    // At most one key frame per word of the scanned bytes.
    require(key.decoded() <= (end - begin) / 4 + 1);

    recover::RecoveryResult result;
    recover::group_runs(std::move(placed), std::move(audio), &result);
    require(result.runs.size() == found.runs.size());
    return 0;
}

}  // namespace fuzz
