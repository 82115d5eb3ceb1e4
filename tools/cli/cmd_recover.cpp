// recover: GOP records left outside every channel's stored range, found by the carver; progress
// on standard error, the runs on standard output, and with --export the runs as files.
#include <iostream>

#include "recover/carver.h"
#include "storage/api.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/records.h"
#include "tools/cli/session.h"

#if __has_include("recover/recovered_export.h")
#include "recover/recovered_export.h"
#define QUILLON_HAS_RECOVER_EXPORT 1
#endif

namespace cli {
namespace {

class ProgressLine final : public recover::RecoveryProgress {
public:
    void progress(uint64_t done, uint64_t total) override {
        const uint64_t percent = total == 0 ? 100 : done * 100 / total;
        if (percent == shown_) return;
        shown_ = percent;
        std::cerr << "\rrecover: " << percent << "%" << std::flush;
    }
    void end() {
        if (shown_ != kNone) std::cerr << '\n';
        shown_ = kNone;
    }

private:
    static constexpr uint64_t kNone = UINT64_MAX;
    uint64_t shown_ = kNone;
};

Json run_json(const recover::RecoveredRun& run) {
    Json gops = Json::array();
    for (const recover::RecoveredGop& g : run.gops) {
        gops.push_back(Json{{"time", time_text(g.time)},
                            {"ms", g.ms},
                            {"image_offset", g.image_offset},
                            {"length", g.length},
                            {"frames", g.frames}});
    }
    return Json{{"stream", run.stream},
                {"codec", run.codec},
                {"width", run.width},
                {"height", run.height},
                {"first", time_text(run.gops.front().time)},
                {"last", time_text(run.gops.back().time)},
                {"gops", std::move(gops)},
                {"audio", run.audio.size()}};
}

void print_runs(const Json& doc, std::ostream& out) {
    out << "Volume: " << cell(doc["volume"]["name"]) << ", scanned " << cell(doc["scanned_bytes"])
        << " bytes outside the stored ranges\n";
    if (doc["runs"].empty()) {
        out << "No recoverable records.\n";
    } else {
        TextTable table(
            {"RUN", "STREAM", "CODEC", "SIZE", "FIRST", "LAST", "GOPS", "AUDIO", "IMAGE OFFSET"});
        int index = 0;
        for (const Json& r : doc["runs"]) {
            table.add({std::to_string(++index), cell(r["stream"]), cell(r["codec"]),
                       cell(r["width"]) + "x" + cell(r["height"]), cell(r["first"]),
                       cell(r["last"]), std::to_string(r["gops"].size()), cell(r["audio"]),
                       cell(r["gops"][0]["image_offset"])});
        }
        table.print(out);
    }
    out << "Records cut at a block end (not recoverable): " << cell(doc["cut_records"]) << '\n';
    if (doc.contains("report")) out << "Report: " << cell(doc["report"]) << '\n';
}

#ifdef QUILLON_HAS_RECOVER_EXPORT
int export_runs(const recover::RecoveryResult& result, const std::string& folder, Json* doc) {
    ProgressLine progress;
    std::string report, error;
    const int32_t rc = recover::recover_export(result, folder, -1, &progress, &report, &error);
    progress.end();
    if (rc != 0) return fail("export of the recovered runs failed: " + error);
    (*doc)["report"] = report;
    return kExitOk;
}
#else
int export_runs(const recover::RecoveryResult&, const std::string&, Json*) {
    return fail("--export: this build cannot write recovered runs");
}
#endif

}  // namespace

int run_recover(const GlobalOptions& options, const SessionOptions& session,
                const RecoverOptions& r) {
    SessionScope scope;
    if (int rc = scope.open(session); rc != kExitOk) return rc;
    ProgressLine progress;
    recover::RecoveryResult result;
    const int32_t rc = recover::recover_scan(&progress, &result);
    progress.end();
    if (rc != 0) return fail("recover failed", rc);

    VolumeRecord records[kVolumeRecordCount];
    api_get_sessions(records);
    Json doc;
    doc["volume"] = session_json(session.session, records[session.session]);
    doc["scanned_bytes"] = result.scanned_bytes;
    Json runs = Json::array();
    for (const recover::RecoveredRun& run : result.runs) runs.push_back(run_json(run));
    doc["runs"] = std::move(runs);
    doc["cut_records"] = result.cut_records;
    if (!r.export_dir.empty()) {
        if (int erc = export_runs(result, r.export_dir, &doc); erc != kExitOk) return erc;
    }
    emit(options.json, doc, print_runs);
    return scope.finish(kExitOk);
}

}  // namespace cli
