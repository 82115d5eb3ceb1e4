// Ready-made disks: what the demo shows and what a person trying the tool starts from.
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include "tools/sample/log_records.h"
#include "tools/sample/recordings.h"
#include "tools/sample/remnants.h"
#include "tools/sample/sample.h"
#include "tools/sample/test_pattern.h"

namespace sample {
namespace {

constexpr uint32_t kGiB = 2u << 20;  // sectors

// Writing real recordings for the whole of a long span would make the presets slow to build
// (the default preset is also built by the command-line tests, under the sanitizers): each video
// channel encodes its first GOPs and then repeats them, so from then on a picture's caption
// shows an earlier time than its record's, by a multiple of the encoded stretch (gaps shift it
// further). At 15 frames per second and 8 frames a GOP, 30 GOPs are 16 seconds.
constexpr int kRecorderDistinctGops = 30;
constexpr int kBackupDistinctGops = 15;

struct VideoPlan {
    int video_channel;
    Codec codec;
    uint32_t from, to;  // seconds after the span's start
    std::vector<TimeSpan> gaps;
};

struct AudioPlan {
    int audio_channel;
    uint32_t from, to;
    std::vector<TimeSpan> gaps;
};

std::vector<TimeSpan> shifted(const std::vector<TimeSpan>& spans, uint32_t by) {
    std::vector<TimeSpan> out;
    for (const auto& [first, end] : spans) out.emplace_back(first + by, end + by);
    return out;
}

struct VideoFormat {
    int width = 352;
    int height = 240;
    int fps = 15;
};

// Real recordings, by default at 352x240 and 15 frames per second. A channel that cannot be
// encoded (the codec missing from the FFmpeg build) is left empty and said so on standard error.
VolumeContent recordings(uint32_t start, const std::vector<VideoPlan>& video,
                         const std::vector<AudioPlan>& audio, int distinct_gops,
                         VideoFormat format = {}) {
    VolumeContent content;
    std::map<Codec, std::unique_ptr<VideoEncoder>> encoders;
    std::string error;
    for (const VideoPlan& plan : video) {
        auto& encoder = encoders[plan.codec];
        if (!encoder) {
            encoder = VideoEncoder::create(plan.codec, format.width, format.height, format.fps,
                                           &error);
        }
        VideoRecordingSpec spec;
        spec.width = format.width;
        spec.height = format.height;
        spec.fps = format.fps;
        spec.video_channel = plan.video_channel;
        spec.codec = plan.codec;
        spec.from = start + plan.from;
        spec.to = start + plan.to;
        spec.gaps = shifted(plan.gaps, start);
        spec.distinct_gops = distinct_gops;
        std::optional<VideoRecording> r;
        if (encoder) r = video_recording(spec, *encoder, &error);
        if (!r) {
            std::fprintf(stderr, "video channel %d left empty: %s\n", plan.video_channel,
                         error.c_str());
            continue;
        }
        content.channels.push_back(std::move(r->data));
    }
    for (const AudioPlan& plan : audio) {
        auto r = audio_recording(plan.audio_channel, start + plan.from, start + plan.to,
                                 shifted(plan.gaps, start), &error);
        if (r) content.channels.push_back(std::move(r->data));
    }
    return content;
}

// The three logs and two capture stills of a count-29 volume, spread over the recorded span.
void add_logs(VolumeContent* content, uint32_t start, uint32_t span) {
    ChannelData system{.channel = 28}, events{.channel = 26}, captures{.channel = 27},
        images{.channel = 23};
    static const char* const kMessages[] = {"POWER ON", "HDD CHECK OK", "RECORD START",
                                            "NETWORK LINK UP"};
    for (uint32_t i = 0; i < 12; ++i) {
        const uint32_t t = start + i * (span / 12);
        system.writes.push_back({t, system_log_record(t, kMessages[i % 4])});
        events.writes.push_back({t + 5, event_log_record(t + 5, static_cast<uint8_t>(i % 4),
                                                         static_cast<uint8_t>(1 + i % 5))});
    }
    for (uint32_t i = 0; i < 2; ++i) {
        const uint32_t t = start + span / 8 + i * (span / 4);
        captures.writes.push_back({t, capture_log_record(t, i, t - 60 * i)});
        const RgbImage still = test_pattern(320, 240, caption_for(static_cast<int>(i + 1), t), 0);
        images.writes.push_back({t, capture_image_record(t, encode_jpeg(still, 85))});
    }
    const uint32_t exported = start + span * 3 / 4;
    captures.writes.push_back({exported, capture_log_record(exported, 2, start)});
    // Records a power cut leaves behind, which the readers skip: a torn message, an event
    // slot never used, a capture of no known kind, and a time that was never written.
    const uint32_t torn = start + span * 11 / 12;
    system.writes.push_back({torn, system_log_record(torn, "REC\x01\x02")});
    events.writes.push_back({torn, event_log_record(torn, 0, 2, 0)});
    captures.writes.push_back({torn, capture_log_record(torn, 3, torn)});
    system.writes.push_back({torn + 1, system_log_record(0xFFFFFFFF, "UNWRITTEN")});
    for (ChannelData* c : {&system, &events, &captures, &images}) {
        content->channels.push_back(std::move(*c));
    }
}

// Ten minutes on the recorder: video channels that start and stop at different times, one with
// a minute's gap and one in MPEG-4, and the audio of the first two.
constexpr uint32_t kRecorderSpan = 600;

AreaSpec recorder_area() {
    AreaSpec a;
    a.kind = AreaKind::Recorder;
    const uint32_t start = kDefaultTime / 3600 * 3600 - 7200;
    const std::vector<TimeSpan> gap = {{240, 300}};
    a.recorder.content = recordings(start,
                                    {{1, Codec::H264, 0, kRecorderSpan, {}},
                                     {2, Codec::H264, 30, kRecorderSpan - 30, gap},
                                     {3, Codec::H264, 60, kRecorderSpan, {}},
                                     {4, Codec::Mpeg4, 0, kRecorderSpan - 60, {}}},
                                    {{1, 0, kRecorderSpan, {}}, {2, 30, kRecorderSpan - 30, gap}},
                                    kRecorderDistinctGops);
    add_logs(&a.recorder.content, start, kRecorderSpan);
    return a;
}

// Each backup session holds two minutes of the first two video channels and the first audio
// channel, a session further back in time for each slot.
AreaSpec backup_area(int32_t slots, std::vector<uint32_t> used_slots) {
    AreaSpec a;
    a.kind = AreaKind::Backup;
    a.backup.slot_count = slots;
    for (uint32_t slot : used_slots) {
        SessionSpec s;
        s.slot = slot;
        s.name = "BACKUP " + std::to_string(slot + 1);
        s.created = kDefaultTime + 86400 * slot;
        s.content = recordings(kDefaultTime / 3600 * 3600 - 7200 * (slot + 1),
                               {{1, Codec::H264, 0, 120, {}}, {2, Codec::H264, 10, 120, {}}},
                               {{1, 0, 120, {}}}, kBackupDistinctGops);
        a.backup.sessions.push_back(s);
    }
    return a;
}

// Sixteen cameras at D1 (704x576, H.264, 25 frames a second) for 70 seconds, with the sound of
// the first: what a full recorder plays. Four GOPs per camera are encoded and repeated, which
// keeps the build quick and the image sparse.
constexpr uint32_t kD1Span = 70;

DiskSpec d1_recorder() {
    DiskSpec d;
    d.layout = DiskLayout::Bare;
    d.bare.kind = AreaKind::Recorder;
    const uint32_t start = kDefaultTime / 3600 * 3600 - 3600;
    std::vector<VideoPlan> video;
    for (int c = 1; c <= 16; ++c) video.push_back({c, Codec::H264, 0, kD1Span, {}});
    d.bare.recorder.content = recordings(start, video, {{1, 0, kD1Span, {}}}, 4,
                                         VideoFormat{704, 576, 25});
    return d;
}

DiskSpec bare_recorder() {
    DiskSpec d;
    d.layout = DiskLayout::Bare;
    d.bare = recorder_area();
    return d;
}

// A live recording with an earlier one left outside the stored ranges (or the same disk after a
// re-format); without an encoder the disk stays empty, said so on standard error.
DiskSpec remnants(RemnantsVariant variant) {
    std::string error;
    auto made = remnants_sample(variant, &error);
    if (!made) {
        std::fprintf(stderr, "recorder remnants left out: %s\n", error.c_str());
        return DiskSpec{};
    }
    return std::move(made->spec);
}

const std::map<std::string, std::function<DiskSpec()>>& presets() {
    static const std::map<std::string, std::function<DiskSpec()>> table = {
        {"recorder", bare_recorder},
        {"recorder-d1", d1_recorder},
        {"recorder-2552",
         [] {
             DiskSpec d = bare_recorder();
             d.bare_start = kDvrSecondProbeStart;
             return d;
         }},
        {"recorder-pointer",
         [] {
             DiskSpec d = bare_recorder();
             d.bare.recorder.placement = Placement::Pointer;
             d.bare.recorder.pointer_copies = {PointerCopy{.sector = 10}};
             return d;
         }},
        {"partitioned",
         [] {
             DiskSpec d;
             d.layout = DiskLayout::Partitioned;
             // Each session's channels take a 32 MiB block at least: sparse, but counted.
             d.total_sectors = 12 * kGiB;
             d.partitions = {
                 {.type_byte = 0x0C, .bootable = true, .count = kGiB / 4},
                 {.type_byte = kPartTypeRecorder, .count = kGiB, .area = recorder_area()},
                 {.type_byte = 0x83, .count = 3 * kGiB / 2, .area = backup_area(2, {0})},
                 {.type_byte = kPartTypeBackup, .count = 4 * kGiB, .area = backup_area(4, {0, 1, 3})},
             };
             return d;
         }},
        {"backup",
         [] {
             DiskSpec d;
             d.layout = DiskLayout::Partitioned;
             d.partitions = {
                 {.type_byte = kPartTypeBackup, .count = 4 * kGiB - 4096, .area = backup_area(4, {0, 1, 3})},
             };
             return d;
         }},
        {"recorder-remnants", [] { return remnants(RemnantsVariant::Live); }},
        {"recorder-reformatted", [] { return remnants(RemnantsVariant::Reformatted); }},
        {"ms",
         [] {
             DiskSpec d;
             d.layout = DiskLayout::MsBoot;
             return d;
         }},
    };
    return table;
}

}  // namespace

DiskSpec preset(const std::string& name, bool* known) {
    auto it = presets().find(name);
    if (known) *known = it != presets().end();
    return it != presets().end() ? it->second() : DiskSpec{};
}

std::vector<std::string> preset_names() {
    std::vector<std::string> names;
    for (const auto& [name, make] : presets()) names.push_back(name);
    return names;
}

}  // namespace sample
