// log event|system|capture: one day of a recorder log, and capture-image: one still.
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

#include "storage/api.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"

namespace cli {
namespace {

// The capture dialog's buffer: no still is larger.
constexpr int32_t kCaptureBuffer = 100 << 20;

Json system_json(const SystemLogRecord& r) {
    Json j;
    put_time(j, "time", r.time);
    j["text"] = std::string(r.text, strnlen(r.text, sizeof r.text));
    return j;
}

Json event_json(const EventLogRecord& r) {
    Json j;
    put_time(j, "time", r.t);
    j["channel"] = r.channel + 1;
    j["type"] = r.type;
    j["type_name"] = event_type_name(r.type);
    return j;
}

Json capture_json(const CaptureLogRecord& r) {
    Json j;
    put_time(j, "time", r.time);
    j["kind"] = r.kind;
    j["kind_name"] = capture_kind_name(r.kind);
    // A live capture pictures its own moment; the others name the recording they took.
    put_time(j, "pictured", r.kind == 0 ? r.time : r.pictured);
    return j;
}

template <typename Record>
Json read_log(uint32_t day, int max, int32_t (*reader)(uint32_t, Record*), Json (*to_json)(const Record&),
              int32_t* rc) {
    std::vector<Record> list(static_cast<size_t>(max));
    *rc = reader(day, list.data());
    Json records = Json::array();
    for (int32_t i = 0; i < *rc; ++i) records.push_back(to_json(list[static_cast<size_t>(i)]));
    return records;
}

void print_log(const Json& doc, std::ostream& out) {
    out << doc["records"].size() << " records\n";
    TextTable table;
    for (const Json& r : doc["records"]) {
        std::vector<std::string> row{cell(r["time_text"])};
        if (r.contains("text")) row.push_back(cell(r["text"]));
        if (r.contains("type_name")) {
            row.push_back("Ch-" + cell(r["channel"]));
            row.push_back(cell(r["type_name"]));
        }
        if (r.contains("kind_name")) {
            row.push_back(cell(r["kind_name"]));
            row.push_back(cell(r["pictured_text"]));
        }
        table.add(std::move(row));
    }
    table.print(out);
}

void print_bytes(const Json& doc, std::ostream& out) {
    out << cell(doc["bytes"]) << " bytes written to " << cell(doc["out"]) << '\n';
}

}  // namespace

int run_log(const GlobalOptions& options, const SessionOptions& session, const std::string& which,
            const std::string& date) {
    const auto day = parse_date(date);
    if (!day) return usage_error("--date " + date + ": expected YYYY-MM-DD");
    SessionScope scope;
    if (int rc = scope.open(session); rc != kExitOk) return rc;
    int32_t rc = 0;
    Json records;
    if (which == "system") {
        records = read_log<SystemLogRecord>(*day, kSystemLogMax, api_get_system_log, system_json, &rc);
    } else if (which == "event") {
        records = read_log<EventLogRecord>(*day, kEventLogMax, api_get_event_log, event_json, &rc);
    } else {
        records = read_log<CaptureLogRecord>(*day, kCaptureLogMax, api_get_capture_log, capture_json, &rc);
    }
    if (rc == kApiRefused) return fail("no " + which + " log on " + date + " in this session");
    if (rc < 0) return fail("reading the " + which + " log failed", rc);
    emit(options.json, Json{{"log", which}, {"date", date}, {"records", std::move(records)}},
         print_log);
    return scope.finish(kExitOk);
}

int run_capture_image(const GlobalOptions& options, const SessionOptions& session,
                      const std::string& time, const std::string& out) {
    const auto t = parse_time(time);
    if (!t) return usage_error("--time " + time + ": expected YYYY-MM-DD HH:MM:SS");
    if (const std::string drive = drive_under(out); !drive.empty()) {
        return fail("refusing to write the capture image over the disk " + drive);
    }
    SessionScope scope;
    if (int rc = scope.open(session); rc != kExitOk) return rc;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCaptureBuffer]);
    const int32_t n = api_read_capture_image(*t, buffer.get(), kCaptureBuffer);
    if (n == kApiRefused) return fail("no capture image at " + time);
    if (n < 0) return fail("reading the capture image failed", n);
    if (n == 0) return fail("no capture image at " + time);
    std::FILE* f = std::fopen(out.c_str(), "wb");
    if (f == nullptr) return fail("cannot create " + out);
    const bool written = std::fwrite(buffer.get(), 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
    if (std::fclose(f) != 0 || !written) return fail("cannot write " + out);
    emit(options.json, Json{{"out", out}, {"bytes", n}}, print_bytes);
    return scope.finish(kExitOk);
}

}  // namespace cli
