// The month scan over the super index and the day search over the search log.
#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/recorder_time.h"
#include "storage/api_state.h"
#include "storage/channel_handle.h"

namespace {

constexpr int kMonthScanEntries = 1000;
constexpr int32_t kSuperEntrySize = 24;

struct SuperEntry {
    uint32_t index_block, index_offset, slog_block, slog_offset, time, channel_mask;
};
static_assert(sizeof(SuperEntry) == kSuperEntrySize);

uint32_t month_start(int year, int month) {
    if (month > 12) {
        month = 1;
        ++year;
    }
    return static_cast<uint32_t>(recorder_from_civil(year, month, 1, 0, 0, 0));
}

// Marks the days of one batch of hourly entries; m is the month index, last the last month
// seen (0 before the first entry).
void mark_days(const SuperEntry* entries, int count, int* m, int* last, uint32_t* month_map) {
    for (int i = 0; i < count; ++i) {
        const CivilTime e = civil_from_recorder(entries[i].time);
        DateTime st;
        time_to_systemtime(entries[i].time, &st);
        dvrfs_trace("<< %d/%d/%d  %d:%d:%d >> << %d/%d/%d  %d:%d:%d >>\n", st.year, st.month,
                    st.day, st.hour, st.minute, st.second, e.year, e.month, e.day, e.hour,
                    e.minute, e.second);
        if (e.month != *last && *last != 0) ++*m;
        *last = e.month;
        const uint32_t mask = entries[i].channel_mask >> 3;
        if (mask == 0 || *m >= kMonthMapMonths) continue;
        const int c = __builtin_ctz(mask);  // the lowest channel with data marks the day
        month_map[*m * kMonthMapEntries + c] |= 1u << (e.day - 1);
    }
}

}  // namespace

int32_t tvfs_getexistmonthlog(uint32_t* month_map) {
    ApiState& st = api_state();
    std::lock_guard<std::mutex> guard(st.lock);
    const VolumeRecord* v = api_session();
    if (v == nullptr || month_map == nullptr) return kApiRefused;
    const uint32_t first = volume_first_indexed_time(*v), last = v->newest;
    const CivilTime f = civil_from_recorder(v->oldest), l = civil_from_recorder(last);
    const int months = 12 * (l.year - f.year) + l.month - f.month + 1;

    dvrfs_trace("tvfs_getexistmonthlog  open DVR_CH_SUPER\n");
    ChannelHandle super(backup_open(DVR_CH_SUPER));
    if (super.fd() < 0) return super.fd();

    std::vector<SuperEntry> entries(kMonthScanEntries);
    int m = 0, last_month = 0;
    int32_t result = kApiRefused;
    int year = f.year, month = f.month;
    for (int pass = 0; pass < months && m < kMonthMapMonths; ++pass) {
        uint32_t t1 = std::max(first, std::min(last, month_start(year, month)));
        const uint32_t t2 = std::min(last, month_start(year, month + 1));
        if (++month > 12) {
            month = 1;
            ++year;
        }
        int32_t rc = backup_locate_index(super.fd(), static_cast<int32_t>(t1), nullptr);
        if (rc != 0) {
            dvrfs_trace("tvfs_getexistmonthlog  close DVR_CH_SUPER\n");
            return rc;
        }
        // Every hour from the one holding t1 to the one holding t2, wherever in their hours
        // the two lie.
        const int n = std::min<int>(static_cast<int>(t2 / 3600 - t1 / 3600 + 1), kMonthScanEntries);
        std::memset(entries.data(), 0, entries.size() * sizeof(SuperEntry));
        rc = backup_read(super.fd(), entries.data(), n * kSuperEntrySize);
        if (rc < 0) {
            dvrfs_trace("tvfs_getexistmonthlog  close DVR_CH_SUPER 2\n");
            return rc;
        }
        result = rc;
        // Entries past the end of the super index were not read: they hold no hour.
        mark_days(entries.data(), rc / kSuperEntrySize, &m, &last_month, month_map);
    }
    dvrfs_trace("tvfs_getexistmonthlog  close DVR_CH_SUPER 3\n");
    return result;
}

int32_t tvfs_month_day_mask(const uint32_t* month_map, uint32_t time) {
    const VolumeRecord* v = api_session();
    if (v == nullptr || month_map == nullptr) return kApiRefused;
    DateTime t, f;
    time_to_systemtime(time, &t);
    time_to_systemtime(v->oldest, &f);
    const int m = 12 * (t.year - f.year) + t.month - f.month;
    if (m < 0 || m >= kMonthMapMonths) return kApiRefused;
    uint32_t days = 0;
    const uint32_t entries = std::min<uint32_t>(v->channel_count, kMonthMapEntries);
    for (uint32_t k = 0; k < entries; ++k) days |= month_map[m * kMonthMapEntries + k];
    return static_cast<int32_t>(days);
}
