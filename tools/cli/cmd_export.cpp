// export: the AVI backup job without a window; progress on standard error, a summary on
// standard output.
#include <iostream>

#include "export/backup_job.h"
#include "storage/api.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"

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
    TextTable table({"CHANNEL", "AVI", "SMI", "VIDEO FRAMES", "AUDIO BYTES"});
    for (const Json& f : doc["files"]) {
        table.add({cell(f["channel"]), cell(f["avi"]), cell(f["smi"]), cell(f["video_frames"]),
                   cell(f["audio_bytes"])});
    }
    table.print(out);
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
    if (!job.error().empty()) return fail("export: " + job.error());

    Json files = Json::array();
    for (const CAvimaker::FileSet& f : job.files()) {
        files.push_back(Json{{"channel", f.channel + 1},
                             {"avi", f.prefix + "avi"},
                             {"smi", f.prefix + "smi"},
                             {"seconds", f.stats.placement.seconds},
                             {"fps", f.pal ? 25 : 30},
                             {"video_frames", f.stats.file_video_frames},
                             {"recorded_frames", f.stats.placement.frames_written},
                             {"audio_bytes", f.stats.file_audio_bytes}});
    }
    if (files.empty()) return fail("export: no channel had a recording in the span");
    emit(options.json, Json{{"files", std::move(files)}}, print_files);
    return scope.finish(kExitOk);
}

}  // namespace cli
