// check: reads every stored record of every video and audio channel of a session and names the
// spans that cannot be read or are damaged; progress on standard error.
#include <iostream>
#include <ostream>

#include "disk/disk.h"
#include "recover/check.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"

namespace cli {
namespace {

class ProgressLine : public recover::CheckProgress {
  public:
    ~ProgressLine() override {
        if (shown_ >= 0) std::cerr << '\n';
    }
    void progress(uint64_t done, uint64_t total) override {
        const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
        if (percent == shown_) return;
        shown_ = percent;
        std::cerr << "\rcheck: " << percent << "%" << std::flush;
    }

  private:
    int shown_ = -1;
};

const char* state_of(const recover::ChannelCheck& c) {
    if (c.empty) return "empty";
    if (c.open_error != 0) return "unopenable";
    return c.spans.empty() ? "readable" : "damaged";
}

Json span_json(const recover::UnreadableSpan& s) {
    Json j;
    j["fault"] = recover::check_fault_name(s.fault);
    j["error"] = s.error;
    j["error_text"] = s.error != 0 ? Json(dvrfs_strerror(s.error)) : Json(nullptr);
    put_time(j, "from", s.from_time);
    put_time(j, "to", s.to_time);
    j["channel_offset"] = s.channel_offset;
    j["bytes"] = s.bytes;
    j["image_offset"] = s.image_offset;
    j["image_end"] = s.image_end;
    return j;
}

Json channel_json(const recover::ChannelCheck& c) {
    Json j;
    j["channel"] = c.channel;
    j["kind"] = c.audio ? "audio" : "video";
    j["number"] = c.number;
    j["state"] = state_of(c);
    j["records"] = c.records;
    j["bytes"] = c.bytes;
    j["failures"] = c.spans.size();
    put_time(j, "first", c.first_time);
    put_time(j, "last", c.last_time);
    Json spans = Json::array();
    for (const recover::UnreadableSpan& s : c.spans) spans.push_back(span_json(s));
    j["spans"] = std::move(spans);
    return j;
}

Json report_json(const recover::CheckReport& r) {
    Json channels = Json::array();
    for (const recover::ChannelCheck& c : r.channels) channels.push_back(channel_json(c));
    return Json{{"readable", r.readable()},
                {"records", r.records},
                {"bytes", r.bytes},
                {"failures", r.failures},
                {"channels", std::move(channels)}};
}

void print_check(const Json& doc, std::ostream& out) {
    TextTable table({"CHANNEL", "STATE", "RECORDS", "BYTES", "FIRST", "LAST"});
    for (const Json& c : doc["channels"]) {
        table.add({cell(c["kind"]) + " " + cell(c["number"]), cell(c["state"]), cell(c["records"]),
                   cell(c["bytes"]), cell(c["first_text"]), cell(c["last_text"])});
    }
    table.print(out);
    for (const Json& c : doc["channels"]) {
        for (const Json& s : c["spans"]) {
            out << cell(c["kind"]) << ' ' << cell(c["number"]) << ": " << cell(s["fault"]);
            if (!s["error_text"].is_null()) out << " (" << cell(s["error_text"]) << ")";
            out << " from " << cell(s["from_text"]) << " to "
                << (s["to"] == 0 ? std::string("the end") : cell(s["to_text"])) << ", "
                << cell(s["bytes"]) << " bytes at image offset " << cell(s["image_offset"]) << '\n';
        }
    }
    out << cell(doc["records"]) << " records, " << cell(doc["bytes"]) << " bytes, "
        << cell(doc["failures"]) << " unreadable spans\n";
}

}  // namespace

int run_check(const GlobalOptions& options, const SessionOptions& session) {
    SessionScope scope;
    if (int rc = scope.open(session); rc != kExitOk) return rc;
    recover::CheckReport report;
    int32_t rc = 0;
    {
        ProgressLine progress;
        rc = recover::check_session(&progress, &report);
    }
    if (rc < 0) return fail("the check failed", rc);
    emit(options.json, report_json(report), print_check);
    return scope.finish(report.readable() ? kExitOk : kExitFailure);
}

}  // namespace cli
