// make-sample: writes a sample recorder or backup disk image from a preset or a JSON spec.
#include <sys/stat.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/sample/sample.h"
#include "tools/sample/disk_json.h"

namespace cli {
namespace {

constexpr uint32_t kFirstPartitionSector = 2048;  // where the builder puts an unplaced first one

std::string join(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& w : words) text += (text.empty() ? "" : ", ") + w;
    return text;
}

// The disk description from --spec or --preset; an exit code other than kExitOk after reporting why not.
int load_spec(const MakeSampleOptions& make, sample::DiskSpec* spec) {
    if (!make.spec_file.empty()) {
        std::ifstream in(make.spec_file);
        std::stringstream text;
        text << in.rdbuf();
        if (!in) return fail("cannot read " + make.spec_file);
        std::string error;
        if (sample::spec_from_json(text.str(), spec, &error) != 0) {
            return fail(make.spec_file + ": " + error);
        }
        return kExitOk;
    }
    bool known = false;
    *spec = sample::preset(make.preset, &known);
    if (!known) {
        return usage_error("unknown preset \"" + make.preset +
                           "\" (known: " + join(sample::preset_names()) + ")");
    }
    return kExitOk;
}

// Areas with their first sector, in disk order, as the builder lays them out.
std::vector<std::pair<uint64_t, sample::AreaSpec*>> areas_of(sample::DiskSpec* spec) {
    std::vector<std::pair<uint64_t, sample::AreaSpec*>> areas;
    if (spec->layout == sample::DiskLayout::Bare) areas.emplace_back(0, &spec->bare);
    if (spec->layout != sample::DiskLayout::Partitioned) return areas;
    uint64_t next = kFirstPartitionSector;
    for (sample::PartitionSpec& p : spec->partitions) {
        if (p.count == 0) continue;
        const uint64_t start = p.start ? p.start : next;
        areas.emplace_back(start, &p.area);
        next = start + p.count;
    }
    return areas;
}

int apply_overrides(const MakeSampleOptions& make, sample::DiskSpec* spec) {
    if (make.size_mib) spec->total_sectors = *make.size_mib * 2048;
    if (make.damage.empty()) return kExitOk;

    sample::AreaSpec* first = nullptr;
    for (auto& [start, area] : areas_of(spec)) {
        if (area->kind != sample::AreaKind::Empty) {
            first = area;
            break;
        }
    }
    if (first == nullptr)
        return usage_error("--damage needs a disk with a recorder or backup area");
    sample::SuperBlockDamage& damage =
        first->kind == sample::AreaKind::Recorder ? first->recorder.damage : first->backup.damage;
    for (const std::string& what : make.damage) {
        if (what == "checksum") {
            damage.checksum = true;
        } else if (what == "magic") {
            damage.magic = true;
        } else if (what == "version") {
            damage.version = true;
        } else if (what == "created") {
            damage.created_zero = true;
        } else {
            return usage_error("--damage: expected checksum, magic, version or created, not \"" +
                               what + "\"");
        }
    }
    return kExitOk;
}

// An image is written from scratch; never over a device, and over a file only when asked.
int check_output(const MakeSampleOptions& make) {
    struct stat st {};
    if (::stat(make.out.c_str(), &st) != 0) return kExitOk;
    if (!S_ISREG(st.st_mode))
        return fail("refusing to write over " + make.out + ": not a regular file");
    if (!make.force) return fail(make.out + " exists; --force replaces it");
    return kExitOk;
}

const char* kind_name(sample::AreaKind kind) {
    switch (kind) {
        case sample::AreaKind::Recorder:
            return "recorder";
        case sample::AreaKind::Backup:
            return "backup";
        case sample::AreaKind::Empty:
            break;
    }
    return "empty";
}

Json report(const sample::ImageSummary& summary, sample::DiskSpec* spec) {
    Json doc;
    doc["image"] = summary.path;
    Json sessions = Json::array();
    Json volumes = Json::array();
    const auto areas = areas_of(spec);
    for (const sample::VolumeSummary& v : summary.volumes) {
        Json volume;
        volume["origin"] = v.origin;
        volume["kind"] = kind_name(v.kind);
        volume["probe_start"] = v.probe_start;
        volume["super_block_sector"] = v.super_block_sector;
        put_time(volume, "created", v.created);
        volumes.push_back(std::move(volume));
        if (v.kind != sample::AreaKind::Backup) continue;
        for (const auto& [start, area] : areas) {
            if (start != v.origin) continue;
            for (const sample::SessionSpec& s : area->backup.sessions) {
                Json session;
                session["origin"] = v.origin;
                session["slot"] = s.slot;
                session["name"] = s.name;
                put_time(session, "created", s.created ? s.created : sample::kDefaultTime);
                sessions.push_back(std::move(session));
            }
        }
    }
    doc["sessions"] = std::move(sessions);
    doc["volumes"] = std::move(volumes);
    return doc;
}

void print_report(const Json& doc, std::ostream& out) {
    out << "Wrote " << cell(doc["image"]) << '\n';
    TextTable volumes({"ORIGIN", "KIND", "PROBE START", "SUPER BLOCK", "CREATED"});
    for (const Json& v : doc["volumes"]) {
        volumes.add({cell(v["origin"]), cell(v["kind"]), cell(v["probe_start"]),
                     cell(v["super_block_sector"]), cell(v["created_text"])});
    }
    volumes.print(out, "  ");
    if (doc["sessions"].empty()) return;
    out << "Sessions\n";
    TextTable sessions({"ORIGIN", "SLOT", "NAME", "CREATED"});
    for (const Json& s : doc["sessions"]) {
        sessions.add(
            {cell(s["origin"]), cell(s["slot"]), cell(s["name"]), cell(s["created_text"])});
    }
    sessions.print(out, "  ");
}

}  // namespace

int run_make_sample(const GlobalOptions& options, const MakeSampleOptions& make) {
    sample::DiskSpec spec;
    if (int rc = load_spec(make, &spec); rc != kExitOk) return rc;
    if (int rc = apply_overrides(make, &spec); rc != kExitOk) return rc;
    if (int rc = check_output(make); rc != kExitOk) return rc;

    sample::ImageSummary summary;
    std::string error;
    if (sample::write_image(make.out, spec, &summary, &error) != 0) {
        return fail("cannot write the sample: " + error);
    }
    emit(options.json, report(summary, &spec), print_report);
    return kExitOk;
}

}  // namespace cli
