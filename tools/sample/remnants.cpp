#include "tools/sample/remnants.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <set>

#include "disk/format.h"
#include "tools/sample/recorder_volume.h"
#include "tools/sample/recordings.h"
#include "tools/sample/remnant_decoys.h"

namespace sample {
namespace {

// Small and sparse: 64 MiB in blocks of 256 KiB, so that a scan of every free block stays quick.
constexpr uint64_t kTotalSectors = 64u << 11;
constexpr int32_t kBlockSize = 256 << 10;
constexpr uint64_t kBlock = kBlockSize;
constexpr int kFps = 15;
constexpr int kLiveWidth = 352, kLiveHeight = 240;
constexpr int kOldWidth = 176, kOldHeight = 144;  // its own stream beside the live one
constexpr uint32_t kLiveSpan = 40;
constexpr uint32_t kOldSpan = 240;
constexpr int kDistinctGops = 8;
// The old recording began this far into the first of its blocks.
constexpr uint64_t kOldLead = 12 << 10;
// The old blocks that survive whole in free blocks; old block 2 survives in front of the live
// channel's head and old block 4 behind its tail.
constexpr uint32_t kOldBlocksFree[] = {0, 1, 3, 5, 6};
constexpr uint32_t kOldBlockAtHead = 2;
constexpr uint32_t kOldBlockAtTail = 4;
constexpr int32_t kLiveVideoChannel = video_channel_number(1);

// One channel's records back to back, as the recorder wrote them.
struct Stream {
    std::vector<uint8_t> bytes;
    struct Record {
        uint64_t at = 0;
        uint32_t time = 0, ms = 0, length = 0;
        int32_t frames = 0;  // 0 for audio
    };
    std::vector<Record> records;
    int width = 0, height = 0;
};

Stream video_stream(const VideoRecording& r, int width, int height) {
    Stream s;
    s.width = width;
    s.height = height;
    for (size_t i = 0; i < r.data.writes.size() && i < r.gops.size(); ++i) {
        const RecordedGop& g = r.gops[i];
        s.records.push_back({s.bytes.size(), g.time, g.ms, g.length,
                             static_cast<int32_t>(g.frames.size())});
        s.bytes.insert(s.bytes.end(), r.data.writes[i].bytes.begin(), r.data.writes[i].bytes.end());
    }
    return s;
}

Stream audio_stream(const AudioRecording& r) {
    Stream s;
    for (size_t i = 0; i < r.data.writes.size() && i < r.records.size(); ++i) {
        const std::vector<uint8_t>& bytes = r.data.writes[i].bytes;
        s.records.push_back({s.bytes.size(), r.records[i].time, r.records[i].ms,
                             record_length(bytes), 0});
        s.bytes.insert(s.bytes.end(), bytes.begin(), bytes.end());
    }
    return s;
}

// Where a stream's bytes lie: stream byte b is in-block byte (b + lead) % kBlock of the disk
// block that holds stream block (b + lead) / kBlock, when [from, to) of that block survived.
struct Region {
    uint64_t stream_block = 0;
    uint32_t disk_block = 0;
    uint64_t from = 0, to = kBlock;
};

class Planter {
public:
    Planter(const DvrSuperBlock& sb, RemnantsTruth* truth, std::vector<Overwrite>* overwrites)
        : sb_(sb), truth_(truth), overwrites_(overwrites) {}

    uint64_t image_offset(uint32_t block, uint64_t in_block) const {
        return recorder_block_sector(sb_, block) * kSectorSize + in_block;
    }
    // Writes the surviving bytes of an old stream (from must be sector-aligned).
    void write(const Stream& s, uint64_t lead, const Region& r) {
        Overwrite o;
        o.sector = recorder_block_sector(sb_, r.disk_block) + r.from / kSectorSize;
        for (uint64_t p = r.from; p < r.to; ++p) {
            const uint64_t b = r.stream_block * kBlock + p;
            o.bytes.push_back(b >= lead && b - lead < s.bytes.size() ? s.bytes[b - lead] : 0);
        }
        overwrites_->push_back(std::move(o));
    }
    // Files every record whose header lies in the region under what became of it.
    void file(const Stream& s, uint64_t lead, const Region& r, bool video) {
        for (const Stream::Record& rec : s.records) {
            const uint64_t q = rec.at + lead;
            const uint64_t p = q % kBlock;
            if (q / kBlock != r.stream_block || p < r.from || p >= r.to) continue;
            const uint64_t end = p + rec.length + kTrailerBytes;
            const uint64_t at = image_offset(r.disk_block, p);
            if (!video) {
                (end <= r.to ? truth_->audio : truth_->cut_audio).push_back({at, rec.time, rec.ms, rec.length});
                continue;
            }
            const PlantedGop gop{at, rec.time, rec.ms, rec.length, rec.frames, s.width, s.height};
            if (end <= r.to) {
                truth_->complete.push_back(gop);
            } else {
                (r.to == kBlock ? truth_->cut : truth_->overwritten).push_back(gop);
            }
        }
    }

private:
    static constexpr uint64_t kTrailerBytes = 4;
    const DvrSuperBlock& sb_;
    RemnantsTruth* truth_;
    std::vector<Overwrite>* overwrites_;
};

// A head offset for the live video channel that leaves room for old records both before its
// head and after its tail; sector-aligned, so that the old bytes before it are whole sectors.
uint32_t head_offset_for(uint64_t stream_bytes) {
    constexpr uint64_t kRoom = 96 << 10;
    for (uint64_t h = kRoom; h + 8192 < kBlock; h += 4096) {
        const uint64_t tail = (h + stream_bytes) % kBlock;
        if (tail >= 4096 && tail + kRoom <= kBlock) return static_cast<uint32_t>(h);
    }
    return static_cast<uint32_t>(kRoom);
}

struct Recordings {
    Stream live_video, live_audio, old_video, old_audio;
    std::vector<uint8_t> old_gop;  // one whole old record, for the decoys
};

std::optional<Stream> encoded_video(int width, int height, uint32_t from, uint32_t span,
                                    std::vector<uint8_t>* first_record, std::string* error) {
    auto encoder = VideoEncoder::create(Codec::H264, width, height, kFps, error);
    if (!encoder) return std::nullopt;
    VideoRecordingSpec spec;
    spec.width = width;
    spec.height = height;
    spec.fps = kFps;
    spec.from = from;
    spec.to = from + span;
    spec.distinct_gops = kDistinctGops;
    auto r = video_recording(spec, *encoder, error);
    if (!r || r->data.writes.empty()) return std::nullopt;
    if (first_record) *first_record = r->data.writes.front().bytes;
    return video_stream(*r, width, height);
}

std::optional<Recordings> make_recordings(uint32_t live_start, uint32_t old_start, std::string* error) {
    Recordings out;
    auto live = encoded_video(kLiveWidth, kLiveHeight, live_start, kLiveSpan, nullptr, error);
    auto old = encoded_video(kOldWidth, kOldHeight, old_start, kOldSpan, &out.old_gop, error);
    auto live_audio = audio_recording(1, live_start, live_start + kLiveSpan, {}, error);
    auto old_audio = audio_recording(1, old_start, old_start + kOldSpan, {}, error);
    if (!live || !old || !live_audio || !old_audio) return std::nullopt;
    out.live_video = std::move(*live);
    out.old_video = std::move(*old);
    out.live_audio = audio_stream(*live_audio);
    out.old_audio = audio_stream(*old_audio);
    return out;
}

ChannelData channel_of(int32_t channel, const Stream& s, uint32_t head_offset) {
    ChannelData c;
    c.channel = channel;
    c.head_offset = head_offset;
    for (size_t i = 0; i < s.records.size(); ++i) {
        const uint64_t end = i + 1 < s.records.size() ? s.records[i + 1].at : s.bytes.size();
        c.writes.push_back({s.records[i].time, std::vector<uint8_t>(s.bytes.begin() + static_cast<ptrdiff_t>(s.records[i].at),
                                                                   s.bytes.begin() + static_cast<ptrdiff_t>(end))});
    }
    return c;
}

std::vector<uint32_t> free_blocks(const RecorderPlan& plan) {
    std::set<uint32_t> used;
    for (const LaidChannel& c : plan.layout.channels) used.insert(c.blocks.begin(), c.blocks.end());
    std::vector<uint32_t> out;
    for (uint32_t b = 1; b <= static_cast<uint32_t>(plan.sb.max_block); ++b) {
        if (!used.count(b)) out.push_back(b);
    }
    return out;
}

// n free blocks spread over the free list, none next to another.
std::vector<uint32_t> spread(const std::vector<uint32_t>& free, size_t n) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < n && free.size() >= 2 * n; ++i) out.push_back(free[(2 * i + 1) * free.size() / (2 * n)]);
    return out;
}

// The live recording's records: inside its stored range, or whole or cut old ones once a
// re-format has forgotten the range.
void file_live(const Stream& s, const LaidChannel& c, Planter& planter, bool forgotten,
               bool video, RemnantsTruth* truth) {
    for (size_t i = 0; i < c.blocks.size(); ++i) {
        const Region r{i, c.blocks[i], i == 0 ? c.head_offset : 0, kBlock};
        if (forgotten) planter.file(s, c.head_offset, r, video);
    }
    if (forgotten || !video) return;
    for (const Stream::Record& rec : s.records) {
        const uint64_t q = rec.at + c.head_offset;
        if (q / kBlock < c.blocks.size()) truth->live_gops.push_back(planter.image_offset(c.blocks[q / kBlock], q % kBlock));
    }
}

// What a re-format writes: a fresh super block over the old one and empty channel tables.
void reformat(const RecorderPlan& plan, std::vector<Overwrite>* overwrites) {
    DvrSuperBlock fresh = plan.sb;
    fresh.created = kDefaultTime + 86400;
    fresh.oldest = fresh.newest = fresh.created;
    seal_words(&fresh, sizeof fresh, offsetof(DvrSuperBlock, unused24) + 36);
    Overwrite sb{plan.origin + plan.super_block, std::vector<uint8_t>(kSectorSize, 0)};
    std::memcpy(sb.bytes.data(), &fresh, sizeof fresh);
    overwrites->push_back(std::move(sb));
    overwrites->push_back({plan.origin + plan.sb.info_sector,
                           std::vector<uint8_t>(size_t{plan.sb.info_sectors} * kSectorSize, 0)});
    overwrites->push_back({plan.origin + plan.sb.map_sector,
                           std::vector<uint8_t>(size_t{plan.sb.map_sectors} * kSectorSize, 0)});
}

template <typename T>
std::optional<T> fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return std::nullopt;
}

}  // namespace

std::optional<RemnantsSample> remnants_sample(RemnantsVariant variant, std::string* error) {
    const uint32_t live_start = kDefaultTime / 3600 * 3600 - 3600;
    const uint32_t old_start = live_start - 3 * 86400 + 600;
    auto rec = make_recordings(live_start, old_start, error);
    if (!rec) return std::nullopt;

    RemnantsSample out;
    DiskSpec& d = out.spec;
    d.layout = DiskLayout::Bare;
    d.total_sectors = kTotalSectors;
    d.bare.kind = AreaKind::Recorder;
    RecorderVolumeSpec& volume = d.bare.recorder;
    volume.block_size = kBlockSize;
    const uint32_t head = head_offset_for(rec->live_video.bytes.size());
    volume.content.channels = {channel_of(kLiveVideoChannel, rec->live_video, head),
                               channel_of(audio_channel_number(1), rec->live_audio, 0)};

    // The builder lays the volume out the same way again when it writes the image.
    RecorderPlan plan;
    std::string why;
    if (!plan_recorder_volume(volume, 0, 0, d.total_sectors, d.total_sectors, &plan, &why)) {
        return fail<RemnantsSample>(error, why);
    }
    const LaidChannel& live = plan.layout.channels.at(static_cast<size_t>(kLiveVideoChannel));
    if (live.blocks.size() < 2) return fail<RemnantsSample>(error, "the live recording fits one block");
    const std::vector<uint32_t> free = free_blocks(plan);
    const size_t n_free = std::size(kOldBlocksFree);
    const std::vector<uint32_t> chosen = spread(free, n_free + 2);
    if (chosen.size() != n_free + 2) return fail<RemnantsSample>(error, "too few free blocks");

    RemnantsTruth& truth = out.truth;
    truth.block_bytes = kBlock;
    Planter planter(plan.sb, &truth, &d.overwrites);
    std::vector<Region> regions;
    for (size_t i = 0; i < n_free; ++i) regions.push_back({kOldBlocksFree[i], chosen[i]});
    regions.push_back({kOldBlockAtHead, live.blocks.front(), 0, live.head_offset});
    // Past the tail the builder writes a sector of fill; the old bytes begin after it.
    const uint64_t past_tail = (uint64_t{live.tail_offset} + 2 * kSectorSize - 1) / kSectorSize * kSectorSize;
    regions.push_back({kOldBlockAtTail, live.blocks.back(), past_tail, kBlock});
    for (const Region& r : regions) {
        planter.write(rec->old_video, kOldLead, r);
        planter.file(rec->old_video, kOldLead, r, true);
    }
    const Region audio_region{0, chosen[n_free]};
    planter.write(rec->old_audio, 0, audio_region);
    planter.file(rec->old_audio, 0, audio_region, false);

    auto decoys = decoy_block(rec->old_gop, old_start + kOldSpan / 2, kBlock, error);
    if (!decoys) return std::nullopt;
    const uint32_t decoy_block_number = chosen[n_free + 1];
    d.overwrites.push_back({recorder_block_sector(plan.sb, decoy_block_number), decoys->bytes});
    for (const auto& [at, kind] : decoys->decoys) {
        truth.decoys.push_back({planter.image_offset(decoy_block_number, at), kind});
    }

    const bool forgotten = variant == RemnantsVariant::Reformatted;
    file_live(rec->live_video, live, planter, forgotten, true, &truth);
    file_live(rec->live_audio, plan.layout.channels.at(static_cast<size_t>(audio_channel_number(1))),
              planter, forgotten, false, &truth);
    if (forgotten) reformat(plan, &d.overwrites);
    auto by_time = [](const PlantedGop& a, const PlantedGop& b) {
        return a.time != b.time ? a.time < b.time : a.ms != b.ms ? a.ms < b.ms : a.image_offset < b.image_offset;
    };
    std::sort(truth.complete.begin(), truth.complete.end(), by_time);
    return out;
}

}  // namespace sample
