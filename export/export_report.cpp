#include "export/export_report.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include <nlohmann/json.hpp>

#include "disk/disk.h"
#include "export/export_report_case.h"
#include "platform/container.h"
#include "platform/drive.h"
#include "platform/sha256.h"
#include "storage/api.h"
#include "storage/api_state.h"
#include "version/version.h"

namespace {

using Json = nlohmann::ordered_json;

Json time_json(uint32_t t) { return Json{{"time", t}, {"text", export_time_text(t)}}; }

Json frame_time_json(const FrameTime& f) {
    Json j = time_json(f.time_stamp);
    j["ms"] = f.milliseconds;
    return j;
}

// Name, size and digest of a finished file; null when it is not there to be hashed. A digest
// made while the job ran counts when the file still has the size it was hashed at.
Json file_json(const std::string& path, const std::map<std::string, FileDigest>& digests) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    std::string digest;
    const auto known = digests.find(path);
    if (known != digests.end() && known->second.ok &&
        known->second.size == static_cast<uint64_t>(st.st_size)) {
        digest = known->second.sha256;
    } else if (platform::sha256_file(path, &digest) != 0) {
        return nullptr;
    }
    const size_t slash = path.find_last_of('/');
    return Json{{"name", slash == std::string::npos ? path : path.substr(slash + 1)},
                {"path", path},
                {"size", static_cast<uint64_t>(st.st_size)},
                {"sha256", digest}};
}

Json counts_json(const ExportFileCounts& c) {
    Json j{{"stored_frames", c.stored_frames},   {"empty_frames", c.empty_frames},
           {"dropped_frames", c.dropped_frames}, {"refused_frames", c.refused_frames},
           {"audio_bytes", c.audio_bytes},       {"seconds", c.seconds},
           {"seconds_without_video", c.seconds_without_video}};
    j["first_frame"] = c.stored_frames > 0 ? frame_time_json(c.first_frame) : Json(nullptr);
    j["last_frame"] = c.stored_frames > 0 ? frame_time_json(c.last_frame) : Json(nullptr);
    return j;
}

// Only a recovered file says so: an export's entries stay as they were.
void add_recovered_json(Json* entry, const ExportRecovered& r) {
    if (!r.recovered) return;
    Json ranges = Json::array();
    for (const ExportGopRange& g : r.gop_ranges) {
        ranges.push_back(Json{{"image_offset", g.image_offset}, {"bytes", g.bytes}});
    }
    (*entry)["recovered"] = true;
    (*entry)["stream"] = r.stream;
    (*entry)["gop_ranges"] = std::move(ranges);
    (*entry)["unreadable_gops"] = r.unreadable_gops;
}

Json read_failures_json(const std::vector<ExportReadFailure>& failures) {
    Json list = Json::array();
    for (const ExportReadFailure& f : failures) {
        list.push_back(Json{{"channel", f.channel},
                            {"stream", f.audio ? "audio" : "video"},
                            {"error", f.error},
                            {"error_text", dvrfs_strerror(f.error)},
                            {"failed_at", time_json(f.failed_at)},
                            {"resumed_at", f.resumed_at != 0 ? time_json(f.resumed_at) : Json(nullptr)}});
    }
    return list;
}

Json source_json(const ExportSource& s) {
    return Json{{"device", s.device},
                {"container", s.container},
                {"first_segment", s.first_segment},
                {"size_bytes", s.device_bytes},
                {"disk_row", s.disk_row},
                {"partition", s.partition},
                {"start_sector", s.start_sector},
                {"sector_count", s.sector_count},
                {"session",
                 Json{{"index", s.session},
                      {"name", s.session_name},
                      {"created", time_json(s.created)},
                      {"oldest", time_json(s.oldest)},
                      {"newest", time_json(s.newest)}}}};
}

// A Matroska or MP4 file: one file holding video, audio and the time track, with what became
// of each stream.
Json container_entry_json(const ExportFileEntry& f,
                          const std::map<std::string, FileDigest>& digests) {
    Json file = file_json(f.prefix + f.format, digests);
    if (file.is_null()) return nullptr;
    Json entry{{"channel", f.channel},
               {"part", f.part},
               {"format", f.format},
               {"file", std::move(file)},
               {"avi", nullptr},
               {"smi", nullptr},
               {"streams", export_report_parts::streams_json(f.streams)},
               {"failed_writes", f.failed_writes}};
    for (const ExportSideFile& side : f.side_files) {
        entry[side.key] = file_json(side.path, digests);
    }
    entry["counts"] = counts_json(f.counts);
    return entry;
}

}  // namespace

std::string export_time_text(uint32_t t) {
    DateTime d{};
    time_to_systemtime(t, &d);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                  d.hour, d.minute, d.second);
    return text;
}

ExportSource export_source_now() {
    ExportSource s;
    const DiskEntry* disk = backup_mounted_disk();
    if (disk != nullptr) {
        s.device.assign(disk->device_path, strnlen(disk->device_path, sizeof disk->device_path));
        s.partition = disk->partition;
        s.start_sector = disk->start_sector;
        s.sector_count = disk->sector_count;
        const DiskEntry* table = backup_disk_table();
        for (int32_t i = 0; table != nullptr && i < backup_disk_count(); ++i) {
            if (&table[i] == disk || (std::string_view(table[i].device_path) == s.device &&
                                      table[i].start_sector == disk->start_sector)) {
                s.disk_row = i;
                break;
            }
        }
        s.container = platform::container_kind_name(platform::container_kind(s.device));
        s.first_segment = platform::container_files(s.device).front();
        export_source_add_image_case(&s);
        platform::DriveGeometry g;
        const auto drive = platform::open_drive(s.device.c_str());
        if (drive && drive->geometry(&g) == 0) {
            s.device_bytes = static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder *
                             g.sectors_per_track * g.bytes_per_sector;
        }
    }
    s.session = api_state().mounted_session;
    if (const VolumeRecord* v = api_session()) {
        s.session_name.assign(v->name, strnlen(v->name, sizeof v->name));
        s.created = v->created;
        s.oldest = v->oldest;
        s.newest = v->newest;
    }
    return s;
}

int32_t write_export_report(const std::string& folder, const ExportReport& report,
                            std::string* error, const ExportReportClock& started,
                            std::string* written) {
    Json channels = Json::array();
    for (int c = 0; c < 16; ++c) {
        if (report.channel_mask & (1u << c)) channels.push_back(c + 1);
    }
    Json files = Json::array();
    for (const ExportFileEntry& f : report.files) {
        if (f.format != "avi") {
            Json entry = container_entry_json(f, report.digests);
            if (!entry.is_null()) files.push_back(std::move(entry));
            continue;
        }
        Json avi = file_json(f.prefix + "avi", report.digests);
        Json smi = file_json(f.prefix + "smi", report.digests);
        if (avi.is_null() && smi.is_null()) continue;
        const std::vector<ExportStream> streams =
            f.streams.empty() ? export_report_parts::streams_of_files(f.prefix) : f.streams;
        Json entry{{"channel", f.channel},
                   {"part", f.part},
                   {"fps", f.fps},
                   {"avi", std::move(avi)},
                   {"smi", std::move(smi)},
                   {"streams", export_report_parts::streams_json(streams)},
                   {"failed_writes", f.failed_writes}};
        for (const ExportSideFile& side : f.side_files) {
            entry[side.key] = file_json(side.path, report.digests);
        }
        entry["counts"] = counts_json(f.counts);
        add_recovered_json(&entry, f.recovered);
        files.push_back(std::move(entry));
    }
    Json source = source_json(report.source);
    source["image_case_data"] = export_report_parts::image_case_json(report.source.image_case);
    const Json doc{{"program", Json{{"name", "quillon"}, {"version", version::text()}}},
                   {"job", export_report_parts::job_json(report)},
                   {"case", export_report_parts::case_json(report.case_info)},
                   {"source", std::move(source)},
                   {"span", Json{{"from", time_json(report.from)},
                                 {"to", time_json(report.to)},
                                 {"seconds", uint64_t{report.to} - report.from + 1}}},
                   {"recorder_clock", export_report_parts::recorder_clock_json(report)},
                   {"channels", std::move(channels)},
                   {"split_bytes", report.split_bytes},
                   {"result", report.error.empty() ? "complete" : "failed"},
                   {"error", report.error.empty() ? Json(nullptr) : Json(report.error)},
                   {"files", std::move(files)},
                   {"read_failures", read_failures_json(report.read_failures)}};
    return place_export_report(folder, started,
                               doc.dump(2, ' ', false, Json::error_handler_t::replace) + '\n',
                               written, error);
}
