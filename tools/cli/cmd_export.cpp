// export: the AVI backup job without a window; progress on standard error, a summary on
// standard output.
#include <iostream>

#include "export/backup_job.h"
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
    TextTable table({"CHANNEL", "PART", "AVI", "STORED FRAMES", "EMPTY", "DROPPED", "REFUSED",
                     "AUDIO BYTES", "NO VIDEO (S)", "FIRST FRAME", "LAST FRAME"});
    for (const Json& f : doc["files"]) {
        table.add({cell(f["channel"]), cell(f["part"]), cell(f["avi"]), cell(f["stored_frames"]),
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

Json file_json(const CAvimaker::FileSet& f, const ExportFileEntry& e) {
    const ExportFileCounts& c = e.counts;
    return Json{{"channel", e.channel},
                {"part", e.part},
                {"avi", e.prefix + "avi"},
                {"smi", e.prefix + "smi"},
                {"fps", e.fps},
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

}  // namespace

int run_export(const GlobalOptions& options, const SessionOptions& session, const ExportOptions& e) {
    const auto mask = parse_channel_list(e.channels);
    if (!mask) return usage_error("--channels " + e.channels + ": expected video channels 1..16");
    const auto from = parse_time(e.from);
    const auto to = parse_time(e.to);
    if (!from || !to) return usage_error("--from/--to: expected YYYY-MM-DD HH:MM:SS");
    if (*to <= *from) return usage_error("--to must lie after --from");
    if (e.split_bytes == 0) return usage_error("--split-bytes must be above 0");

    ProgressLine progress;
    BackupJob job(&progress, e.split_bytes);
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
