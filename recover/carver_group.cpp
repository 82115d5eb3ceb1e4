// Streams of recovered runs.
#include "recover/carver_group.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace recover {
namespace {

bool gop_before(const RecoveredGop& a, const RecoveredGop& b) {
    return std::tie(a.time, a.ms, a.image_offset) < std::tie(b.time, b.ms, b.image_offset);
}

uint64_t first_offset(const PlacedRun& r) {
    uint64_t first = UINT64_MAX;
    for (const RecoveredGop& g : r.gops) first = std::min(first, g.image_offset);
    return first;
}

}  // namespace

void group_runs(std::vector<PlacedRun> runs, std::vector<RecoveredAudio> audio,
                RecoveryResult* result) {
    std::erase_if(runs, [](const PlacedRun& r) { return r.gops.empty(); });
    for (PlacedRun& r : runs) std::sort(r.gops.begin(), r.gops.end(), gop_before);
    std::stable_sort(runs.begin(), runs.end(), [](const PlacedRun& a, const PlacedRun& b) {
        const RecoveredGop& fa = a.gops.front();
        const RecoveredGop& fb = b.gops.front();
        return std::tie(fa.time, fa.ms) != std::tie(fb.time, fb.ms)
                   ? std::tie(fa.time, fa.ms) < std::tie(fb.time, fb.ms)
                   : first_offset(a) < first_offset(b);
    });

    std::map<StreamKey, int> streams;
    result->runs.clear();
    for (PlacedRun& r : runs) {
        const auto [it, added] = streams.try_emplace(r.key, static_cast<int>(streams.size()) + 1);
        RecoveredRun out;
        out.stream = it->second;
        out.codec = r.key.codec;
        out.width = r.key.width;
        out.height = r.key.height;
        out.gops = std::move(r.gops);
        result->runs.push_back(std::move(out));
    }

    std::sort(audio.begin(), audio.end(), [](const RecoveredAudio& a, const RecoveredAudio& b) {
        return std::tie(a.time, a.image_offset) < std::tie(b.time, b.image_offset);
    });
    for (const RecoveredAudio& a : audio) {
        for (RecoveredRun& run : result->runs) {
            if (a.time >= run.gops.front().time && a.time <= run.gops.back().time) {
                run.audio.push_back(a);
                break;
            }
        }
    }
}

}  // namespace recover
