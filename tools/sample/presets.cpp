// Ready-made disks: what the demo shows and what a person trying the tool starts from.
#include <functional>
#include <map>

#include "tools/sample/sample.h"

namespace sample {
namespace {

constexpr uint32_t kGiB = 2u << 20;  // sectors

AreaSpec recorder_area() {
    AreaSpec a;
    a.kind = AreaKind::Recorder;
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
        s.oldest = kDefaultTime - 7200;
        s.newest = kDefaultTime - 3600;
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
             d.partitions = {
                 {.type_byte = 0x0C, .bootable = true, .count = kGiB / 4},
                 {.type_byte = kPartTypeRecorder, .count = kGiB, .area = recorder_area()},
                 {.type_byte = 0x83, .count = kGiB / 2, .area = backup_area(2, {0})},
                 {.type_byte = kPartTypeBackup, .count = kGiB, .area = backup_area(4, {0, 1, 3})},
             };
             return d;
         }},
        {"backup",
         [] {
             DiskSpec d;
             d.layout = DiskLayout::Partitioned;
             d.partitions = {
                 {.type_byte = kPartTypeBackup, .count = 3 * kGiB, .area = backup_area(4, {0, 1, 3})},
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
