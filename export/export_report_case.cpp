#include "export/export_report_case.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "export/recorder_zone.h"
#include "platform/container.h"

namespace export_report_parts {
namespace {

std::tm broken_down(int64_t t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    return tm;
}

// A wall-clock time broken down as if it were UTC, the way recorder times are.
std::string wall_text(int64_t t) {
    const std::tm tm = broken_down(t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::string offset_text(int32_t seconds) {
    const int32_t a = seconds < 0 ? -seconds : seconds;
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", seconds < 0 ? '-' : '+', a / 3600, a / 60 % 60);
    return text;
}

Json text_or_null(const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); }

// One end of the span on every clock: the recorder's, the corrected wall clock, and UTC where
// the zone tells it unambiguously (or both candidates where it does not).
Json span_end_json(uint32_t recorder, int64_t offset, const RecorderZone* zone) {
    const int64_t corrected = int64_t{recorder} - offset;
    Json j{{"recorder", wall_text(recorder)}, {"corrected", wall_text(corrected)}};
    if (zone == nullptr) {
        j["utc"] = nullptr;
        j["note"] = "no recorder time zone given: the UTC time is not known";
        return j;
    }
    const std::vector<int64_t> utc = zone->to_utc(corrected);
    if (utc.empty()) {
        j["utc"] = nullptr;
        j["note"] = "this wall time does not occur in " + zone->name() + " (the clocks went forward)";
        return j;
    }
    j["utc"] = utc_text(utc.front());
    j["utc_offset"] = offset_text(static_cast<int32_t>(corrected - utc.front()));
    if (utc.size() > 1) {
        j["ambiguous"] = true;
        j["other_utc"] = utc_text(utc.back());
        j["note"] = "this wall time occurs twice in " + zone->name() + ": it is " + utc_text(utc.front()) +
                    " or " + utc_text(utc.back());
    } else {
        j["ambiguous"] = false;
    }
    return j;
}

Json repeats_json(const RecorderZone& zone, int64_t from, int64_t to) {
    Json list = Json::array();
    for (const RecorderZone::Repeat& r : zone.repeats_within(from, to)) {
        list.push_back(Json{{"from", wall_text(r.local_from)},
                            {"to", wall_text(r.local_to)},
                            {"first_utc_offset", offset_text(r.first_offset)},
                            {"second_utc_offset", offset_text(r.second_offset)},
                            {"note", "the wall times from " + wall_text(r.local_from) + " up to " +
                                         wall_text(r.local_to) + " occur twice in " + zone.name() +
                                         " (UTC" + offset_text(r.first_offset) + ", then UTC" +
                                         offset_text(r.second_offset) +
                                         "); UTC times within them are ambiguous"}});
    }
    return list;
}

}  // namespace

std::string utc_text(int64_t t) {
    const std::tm tm = broken_down(t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

Json case_json(const ExportCaseInfo& info) {
    return Json{{"case_number", text_or_null(info.case_number)},
                {"exhibit", text_or_null(info.exhibit)},
                {"examiner", text_or_null(info.examiner)},
                {"notes", text_or_null(info.notes)}};
}

Json image_case_json(const ExportImageCase& c) {
    if (c.case_number.empty() && c.evidence_number.empty() && c.examiner.empty() &&
        c.description.empty() && c.notes.empty() && c.acquisition_date.empty()) {
        return nullptr;
    }
    return Json{{"case_number", text_or_null(c.case_number)},
                {"evidence_number", text_or_null(c.evidence_number)},
                {"examiner", text_or_null(c.examiner)},
                {"description", text_or_null(c.description)},
                {"notes", text_or_null(c.notes)},
                {"acquisition_date", text_or_null(c.acquisition_date)}};
}

// The corrected clock is the recorder's minus the measured offset; it is a wall clock of the
// recorder's zone, turned into UTC through that zone.
Json recorder_clock_json(const ExportReport& report, const std::string& zone_folder) {
    const ExportCaseInfo& info = report.case_info;
    const int64_t offset = info.clock_offset.value_or(0);
    Json j{{"offset_seconds", info.clock_offset ? Json(offset) : Json(nullptr)},
           {"offset_meaning", "recorder clock minus reference clock, as the examiner measured it"},
           {"time_zone", text_or_null(info.recorder_zone)}};
    RecorderZone zone;
    std::string zone_error;
    const bool have_zone =
        !info.recorder_zone.empty() && zone.load(info.recorder_zone, &zone_error, zone_folder) == 0;
    if (!info.recorder_zone.empty() && !have_zone) j["time_zone_error"] = zone_error;
    const RecorderZone* z = have_zone ? &zone : nullptr;
    j["span"] = Json{{"from", span_end_json(report.from, offset, z)},
                     {"to", span_end_json(report.to, offset, z)}};
    j["repeated_hours"] = have_zone ? repeats_json(zone, int64_t{report.from} - offset,
                                                   int64_t{report.to} - offset)
                                    : Json::array();
    return j;
}

Json job_json(const ExportReport& report) {
    const std::string& by = report.case_info.invoked_by;
    return Json{{"invoked_by", by.empty() ? Json(nullptr) : Json(by)},
                {"started_utc", report.job_started != 0 ? Json(utc_text(report.job_started)) : Json(nullptr)},
                {"ended_utc", report.job_ended != 0 ? Json(utc_text(report.job_ended)) : Json(nullptr)}};
}

Json streams_json(const std::vector<ExportStream>& streams) {
    Json list = Json::array();
    for (const ExportStream& s : streams) {
        Json j{{"kind", s.kind}, {"codec", s.codec}};
        if (s.kind == "video") {
            j["width"] = s.width;
            j["height"] = s.height;
        }
        j["rate"] = s.rate;
        j["handling"] = s.handling;
        j["detail"] = s.detail;
        list.push_back(std::move(j));
    }
    return list;
}

std::vector<ExportStream> streams_of_files(const std::string& prefix) {
    std::vector<ExportStream> streams;
    read_avi_streams(prefix + "avi", &streams);
    streams.push_back(sami_stream());
    return streams;
}

}  // namespace export_report_parts

void export_source_add_image_case(ExportSource* source) {
    if (source->container != platform::container_kind_name(platform::ContainerKind::kEwf)) return;
    platform::ContainerInfo info;
    if (platform::describe_container(source->device, &info) != 0) return;
    ExportImageCase& c = source->image_case;
    c.case_number = info.case_number;
    c.evidence_number = info.evidence_number;
    c.examiner = info.examiner;
    c.description = info.description;
    c.notes = info.notes;
    c.acquisition_date = info.acquisition_date;
}

int64_t export_pc_clock_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
