// Ready-made disks: what the demo shows and what a person trying the tool starts from.
#include <cstdio>
#include <functional>
#include <map>

#include "tools/sample/log_records.h"
#include "tools/sample/sample.h"
#include "tools/sample/test_pattern.h"

namespace sample {
namespace {

constexpr uint32_t kGiB = 2u << 20;  // sectors

// Two hours of text records on a few channels: readable with `quillon-cli read`, and enough for
// the time index to have several hours and a gap.
VolumeContent text_recordings(uint32_t start, std::vector<int32_t> channels) {
    VolumeContent content;
    for (int32_t ch : channels) {
        ChannelData data;
        data.channel = ch;
        for (uint32_t t = start; t < start + 7200; t += 15) {
            if (ch % 2 == 0 && t >= start + 1800 && t < start + 2400) continue;  // a gap
            char line[96];
            const int n = std::snprintf(line, sizeof line, "channel %02d recorded at %u\n", ch, t);
            data.writes.push_back({t, std::vector<uint8_t>(line, line + n)});
        }
        content.channels.push_back(std::move(data));
    }
    return content;
}

// The three logs and two capture stills of a count-29 volume over the same two hours.
void add_logs(VolumeContent* content, uint32_t start) {
    ChannelData system{.channel = 28}, events{.channel = 26}, captures{.channel = 27},
        images{.channel = 23};
    static const char* const kMessages[] = {"POWER ON", "HDD CHECK OK", "RECORD START",
                                            "NETWORK LINK UP"};
    for (uint32_t i = 0; i < 12; ++i) {
        const uint32_t t = start + i * 600;
        system.writes.push_back({t, system_log_record(t, kMessages[i % 4])});
        events.writes.push_back({t + 5, event_log_record(t + 5, static_cast<uint8_t>(i % 4),
                                                         static_cast<uint8_t>(1 + i % 5))});
    }
    for (uint32_t i = 0; i < 2; ++i) {
        const uint32_t t = start + 900 + i * 1800;
        captures.writes.push_back({t, capture_log_record(t, i, t - 60 * i)});
        const RgbImage still = test_pattern(320, 240, caption_for(static_cast<int>(i + 1), t), 0);
        images.writes.push_back({t, capture_image_record(t, encode_jpeg(still, 85))});
    }
    const uint32_t exported = start + 5400;
    captures.writes.push_back({exported, capture_log_record(exported, 2, start)});
    // Records a power cut leaves behind, which the readers skip: a torn message, an event
    // slot never used, a capture of no known kind, and a time that was never written.
    const uint32_t torn = start + 6600;
    system.writes.push_back({torn, system_log_record(torn, "REC\x01\x02")});
    events.writes.push_back({torn, event_log_record(torn, 0, 2, 0)});
    captures.writes.push_back({torn, capture_log_record(torn, 3, torn)});
    system.writes.push_back({torn + 1, system_log_record(0xFFFFFFFF, "UNWRITTEN")});
    for (ChannelData* c : {&system, &events, &captures, &images}) {
        content->channels.push_back(std::move(*c));
    }
}

AreaSpec recorder_area() {
    AreaSpec a;
    a.kind = AreaKind::Recorder;
    const uint32_t start = kDefaultTime / 3600 * 3600 - 7200;
    a.recorder.content = text_recordings(start, {3, 4, 5, 6});
    add_logs(&a.recorder.content, start);
    return a;
}

AreaSpec backup_area(int32_t slots, std::vector<uint32_t> used_slots) {
    AreaSpec a;
    a.kind = AreaKind::Backup;
    a.backup.slot_count = slots;
    for (uint32_t slot : used_slots) {
        SessionSpec s;
        s.slot = slot;
        s.name = "BACKUP " + std::to_string(slot + 1);
        s.created = kDefaultTime + 86400 * slot;
        s.content = text_recordings(kDefaultTime / 3600 * 3600 - 7200 * (slot + 1), {3, 4});
        a.backup.sessions.push_back(s);
    }
    return a;
}

DiskSpec bare_recorder() {
    DiskSpec d;
    d.layout = DiskLayout::Bare;
    d.bare = recorder_area();
    return d;
}

const std::map<std::string, std::function<DiskSpec()>>& presets() {
    static const std::map<std::string, std::function<DiskSpec()>> table = {
        {"recorder", bare_recorder},
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
