// The parts of an export report that describe the case rather than the files: the examiner's
// data, the recorder's clock and zone with the span's corrected and UTC times, how and when the
// job ran, and each file's streams.
#pragma once

#include <nlohmann/json.hpp>

#include "export/export_report.h"
#include "export/recorder_zone.h"

namespace export_report_parts {

using Json = nlohmann::ordered_json;

Json case_json(const ExportCaseInfo& info);
// null when the image stores no case data of its own.
Json image_case_json(const ExportImageCase& c);
Json recorder_clock_json(const ExportReport& report, const std::string& zone_folder = kZoneFolder);
Json job_json(const ExportReport& report);
Json streams_json(const std::vector<ExportStream>& streams);
// The streams of a written AVI and SAMI pair, read from the files (empty when unreadable).
std::vector<ExportStream> streams_of_files(const std::string& prefix);
// "2026-03-14T07:00:00Z".
std::string utc_text(int64_t t);

}  // namespace export_report_parts
