// export: the backup job without a window (AVI, Matroska or MP4 files); progress on standard error,
// a summary on standard output.
#include <iostream>
#include <optional>

#include "export/backup_job.h"
#include "mux/container_file.h"
#include "export/recorder_zone.h"
#include "storage/api.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"
#include "verify/frame_hash.h"

namespace cli {
namespace {

class ProgressLine final : public BackupJobHooks {
public:
    void progress(int32_t percent) override {
        std::cerr << "\rexport: " << percent << "%" << std::flush;
        shown_ = true;
    }
    void ended() override {
        if (shown_) std::cerr << '\n';
        shown_ = false;
    }

private:
    bool shown_ = false;
};

void print_files(const Json& doc, std::ostream& out) {
    TextTable table({"CHANNEL", "PART", "FILE", "STORED FRAMES", "EMPTY", "DROPPED", "REFUSED",
                     "AUDIO BYTES", "NO VIDEO (S)", "FIRST FRAME", "LAST FRAME"});
    for (const Json& f : doc["files"]) {
        table.add({cell(f["channel"]), cell(f["part"]), cell(f["file"]), cell(f["stored_frames"]),
                   cell(f["empty_frames"]), cell(f["dropped_frames"]), cell(f["refused_frames"]),
                   cell(f["recorded_audio_bytes"]), cell(f["seconds_without_video"]),
                   f["first_frame"].is_null() ? "-" : cell(f["first_frame"]["time_text"]),
                   f["last_frame"].is_null() ? "-" : cell(f["last_frame"]["time_text"])});
    }
    table.print(out);
    if (doc["read_failures"] != 0) {
        out << "Read failures: " << cell(doc["read_failures"]) << " (spans that could not be read, listed in the report)\n";
    }
    out << "Report: " << cell(doc["report"]) << '\n';
}

Json frame_time(const ExportFileCounts& c, const FrameTime& t) {
    if (c.stored_frames == 0) return nullptr;
    Json j;
    put_time(j, "time", t.time_stamp);
    j["ms"] = t.milliseconds;
    return j;
}

// A Matroska or MP4 file holds what an AVI file and its captions hold apart: it is named once.
Json stream_json(const ExportStream& s) {
    Json j{{"kind", s.kind}, {"codec", s.codec}, {"handling", s.handling}};
    if (s.width > 0 && s.height > 0) {
        j["width"] = s.width;
        j["height"] = s.height;
    }
    if (!s.rate.empty()) j["rate"] = s.rate;
    if (!s.detail.empty()) j["detail"] = s.detail;
    return j;
}

Json file_json(const CAvimaker::FileSet& f, const ExportFileEntry& e) {
    const ExportFileCounts& c = e.counts;
    const bool avi = f.format == ExportFormat::Avi;
    Json streams = Json::array();
    for (const ExportStream& s : e.streams) streams.push_back(stream_json(s));
    return Json{{"channel", e.channel},
                {"part", e.part},
                {"format", export_format_name(f.format)},
                {"file", e.prefix + export_format_name(f.format)},
                {"avi", avi ? Json(e.prefix + "avi") : Json(nullptr)},
                {"smi", avi ? Json(e.prefix + "smi") : Json(nullptr)},
                {"streams", std::move(streams)},
                {"fps", avi ? Json(e.fps) : Json(nullptr)},
                {"seconds", c.seconds},
                {"video_frames", f.stats.file_video_frames},
                {"stored_frames", c.stored_frames},
                {"recorded_frames", c.stored_frames},
                {"empty_frames", c.empty_frames},
                {"dropped_frames", c.dropped_frames},
                {"refused_frames", c.refused_frames},
                {"audio_bytes", f.stats.file_audio_bytes},
                {"recorded_audio_bytes", c.audio_bytes},
                {"seconds_without_video", c.seconds_without_video},
                {"first_frame", frame_time(c, c.first_frame)},
                {"last_frame", frame_time(c, c.last_frame)}};
}

// The examiner's data; a clock offset or zone that cannot be used is a usage error before
// anything is written.
std::optional<ExportCaseInfo> case_info(const ExportOptions& e, std::string* problem) {
    ExportCaseInfo info;
    info.case_number = e.case_number;
    info.exhibit = e.exhibit;
    info.examiner = e.examiner;
    info.notes = e.notes;
    info.invoked_by = e.command_line;
    if (!e.clock_offset.empty()) {
        int64_t offset = 0;
        if (!parse_clock_offset(e.clock_offset, &offset)) {
            *problem = "--clock-offset " + e.clock_offset + ": expected whole seconds such as +75 or -3600";
            return std::nullopt;
        }
        info.clock_offset = offset;
    }
    if (!e.recorder_tz.empty()) {
        RecorderZone zone;
        std::string why;
        if (zone.load(e.recorder_tz, &why) != 0) {
            *problem = "--recorder-tz: " + why;
            return std::nullopt;
        }
        info.recorder_zone = e.recorder_tz;
    }
    return info;
}

}  // namespace

int run_export(const GlobalOptions& options, const SessionOptions& session, const ExportOptions& e) {
    const auto mask = parse_channel_list(e.channels);
    if (!mask) return usage_error("--channels " + e.channels + ": expected video channels 1..16");
    const auto from = parse_time(e.from);
    const auto to = parse_time(e.to);
    if (!from || !to) return usage_error("--from/--to: expected YYYY-MM-DD HH:MM:SS");
    if (*to <= *from) return usage_error("--to must lie after --from");
    if (e.split_bytes == 0) return usage_error("--split-bytes must be above 0");
    const auto format = parse_export_format(e.format);
    if (!format) return usage_error("--format " + e.format + ": expected avi, mkv or mp4");
    std::string problem;
    const std::optional<ExportCaseInfo> info = case_info(e, &problem);
    if (!info) return usage_error(problem);

    ProgressLine progress;
    BackupJob job(&progress, e.split_bytes);
    job.set_container(*format, mux::make_container_writer);
    if (*format != ExportFormat::Avi) mux::quiet_library_notes();
    job.set_case(*info);
    verify::FrameHashSideFiles frame_hashes;
    job.set_side_files(&frame_hashes);
    BackupJob::install(&job);
    SessionScope scope;
    if (int rc = scope.open(session, BackupJob::frame_callback, BackupJob::status_callback);
        rc != kExitOk) {
        BackupJob::install(nullptr);
        return rc;
    }
    if (job.start(*from, *to, *mask, e.out) != 0) {
        BackupJob::install(nullptr);
        return fail("export: " + (job.error().empty() ? std::string("the job did not start") : job.error()));
    }
    while (job.process(200)) {
    }
    BackupJob::install(nullptr);
    if (!job.error().empty()) {
        const std::string report = job.report_path();
        return fail("export: " + job.error() +
                    (report.empty() ? std::string(" (no report could be written)")
                                    : " (what was written is listed in " + report + ")"));
    }

    // The job's own files, in the order they were opened; the report lists the same ones.
    Json files = Json::array();
    const auto& sets = job.files();
    const auto& entries = job.report_files();
    const size_t first = sets.size() - entries.size();
    for (size_t i = 0; i < entries.size(); ++i) files.push_back(file_json(sets[first + i], entries[i]));
    if (files.empty()) return fail("export: no channel had a recording in the span");
    emit(options.json,
         Json{{"files", std::move(files)},
              {"read_failures", job.read_failures().size()},
              {"report", job.report_path()}},
         print_files);
    return scope.finish(kExitOk);
}

}  // namespace cli
