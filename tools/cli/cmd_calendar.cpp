// calendar and day: the recorded days of every month, and one day's recorded quarter minutes.
#include <ostream>
#include <vector>

#include "disk/recorder_time.h"
#include "storage/api.h"
#include "tools/cli/cli.h"
#include "tools/cli/output.h"
#include "tools/cli/session.h"

namespace cli {
namespace {

void print_calendar(const Json& doc, std::ostream& out) {
    if (doc["months"].empty()) out << "No recordings.\n";
    for (const Json& m : doc["months"]) {
        char head[16];
        std::snprintf(head, sizeof head, "%04d-%02d", m["year"].get<int>(), m["month"].get<int>());
        std::string days;
        for (const Json& d : m["days"]) {
            if (!days.empty()) days += ' ';
            days += d.dump();
        }
        out << head << ": " << (days.empty() ? "-" : days) << '\n';
    }
}

void print_day(const Json& doc, std::ostream& out) {
    out << "Recorded quarter minutes of " << cell(doc["date"]) << ": " << doc["slots"].size()
        << '\n';
    TextTable table({"SLOT", "TIME", "VIDEO CHANNELS"});
    for (const Json& s : doc["slots"]) {
        std::string chans;
        for (const Json& c : s["channels"]) {
            if (!chans.empty()) chans += ',';
            chans += c.dump();
        }
        table.add({cell(s["slot"]), cell(s["time_text"]), chans});
    }
    table.print(out);
}

}  // namespace

int run_calendar(const GlobalOptions& options, const SessionOptions& session) {
    SessionScope scope;
    if (int rc = scope.open(session); rc != kExitOk) return rc;
    std::vector<uint32_t> map(size_t{kMonthMapMonths} * kMonthMapEntries, 0);
    const int32_t rc = tvfs_getexistmonthlog(map.data());
    if (rc < 0) return fail("month scan failed", rc);

    const VolumeRecord* v = backup_selected_volume();
    const CivilTime first = civil_from_recorder(v->oldest), last = civil_from_recorder(v->newest);
    Json months = Json::array();
    int year = first.year, month = first.month;
    for (int m = 0; m < kMonthMapMonths; ++m) {
        if (year > last.year || (year == last.year && month > last.month)) break;
        const uint32_t in_month = static_cast<uint32_t>(recorder_from_civil(year, month, 1, 0, 0, 0));
        const int32_t mask = tvfs_month_day_mask(map.data(), std::max(in_month, v->oldest));
        Json days = Json::array();
        for (int d = 0; d < 31 && mask > 0; ++d) {
            if (mask & (1 << d)) days.push_back(d + 1);
        }
        months.push_back(Json{{"year", year}, {"month", month}, {"days", std::move(days)}});
        if (++month > 12) {
            month = 1;
            ++year;
        }
    }
    emit(options.json, Json{{"months", std::move(months)}}, print_calendar);
    return scope.finish(kExitOk);
}

int run_day(const GlobalOptions& options, const SessionOptions& session, const std::string& date) {
    const auto day = parse_date(date);
    if (!day) return usage_error("--date " + date + ": expected YYYY-MM-DD");
    SessionScope scope;
    if (int rc = scope.open(session); rc != kExitOk) return rc;
    std::vector<uint32_t> map(kDaySlots, 0);
    const int32_t rc = tvfs_getsearchlog(*day, map.data());
    if (rc == kApiRefused) return fail("no recordings on " + date + " in this session");
    if (rc < 0) return fail("day search failed", rc);

    Json slots = Json::array();
    for (int s = 0; s < kDaySlots; ++s) {
        if (map[static_cast<size_t>(s)] == 0) continue;
        Json slot{{"slot", s}};
        put_time(slot, "time", *day + static_cast<uint32_t>(s) * 15);
        slot["mask"] = map[static_cast<size_t>(s)];
        Json chans = Json::array();
        for (int c = 0; c < 32; ++c) {
            if (map[static_cast<size_t>(s)] & (1u << c)) chans.push_back(c + 1);
        }
        slot["channels"] = std::move(chans);
        slots.push_back(std::move(slot));
    }
    emit(options.json, Json{{"date", date}, {"slots", std::move(slots)}}, print_day);
    return scope.finish(kExitOk);
}

}  // namespace cli
