// The day search: one day of the search log as a map of 5,760 quarter-minute channel masks.
#include <algorithm>
#include <cstring>

#include "disk/recorder_time.h"
#include "storage/api_state.h"
#include "storage/channel_handle.h"

namespace {

struct SearchRecord {
    uint32_t time;
    uint32_t unused;
    uint64_t channel_mask;
};
static_assert(sizeof(SearchRecord) == 16);

// Holds the playback thread still for the duration of the search.
class SearchBusy {
public:
    SearchBusy() { api_state().search_busy = 1; }
    ~SearchBusy() { api_state().search_busy = 0; }
    SearchBusy(const SearchBusy&) = delete;
    SearchBusy& operator=(const SearchBusy&) = delete;
};

// Reads two super index entries at req: their search-log position is where the day begins.
int32_t day_start_position(uint32_t req, ChannelPosition* slog) {
    dvrfs_trace("tvfs_getsearchlog  open DVR_CH_SUPER\n");
    ChannelHandle super(backup_open(DVR_CH_SUPER));
    if (super.fd() < 0) {
        dvrfs_trace("tvfs_getsearchlog superindex error %d\n", super.fd());
        return super.fd();
    }
    int32_t rc = backup_locate_index(super.fd(), static_cast<int32_t>(req), nullptr);
    if (rc != 0) {
        dvrfs_trace("tvfs_getsearchlog backup_locate_index error %d\n", rc);
        return rc;
    }
    uint32_t entries[12] = {};
    rc = backup_read(super.fd(), entries, sizeof entries);
    dvrfs_trace("tvfs_getsearchlog  close DVR_CH_SUPER 2\n");
    if (rc < 0) {
        dvrfs_trace("tvfs_getsearchlog backup_read error %d\n", rc);
        return rc;
    }
    // Positions on disk are u32; the signed form refuses the ones that cannot be.
    *slog = ChannelPosition{static_cast<int32_t>(entries[2]), static_cast<int32_t>(entries[3])};
    return 0;
}

void mark_record(const SearchRecord& r, int shown, uint32_t* map) {
    const CivilTime t = civil_from_recorder(r.time);
    const int slot = t.hour * 240 + t.minute * 4 + t.second / 15;
    for (int c = 3; c <= shown + 2 && c < 64; ++c) {
        if (r.channel_mask & (uint64_t{1} << c)) map[slot] |= 1u << (c - 3);
    }
    if (slot % 240 == 0) {
        dvrfs_trace("%s %016llX\n", dvrfs_time_string(r.time, 1),
                    static_cast<unsigned long long>(r.channel_mask));
    }
}

}  // namespace

int32_t tvfs_getsearchlog(uint32_t time, uint32_t* search_map) {
    ApiState& st = api_state();
    SearchBusy busy;
    std::lock_guard<std::mutex> guard(st.lock);
    const VolumeRecord* v = api_session();
    if (v == nullptr || search_map == nullptr) return kApiRefused;
    const uint32_t req = api_day_start(time);
    if (req == 0) {
        dvrfs_trace("tvfs_getsearchlog req_time error %d\n", 0);
        return kApiRefused;
    }
    const int chosen_day = civil_from_recorder(req).day;

    ChannelPosition start;
    int32_t rc = day_start_position(req, &start);
    if (rc != 0) return rc;

    dvrfs_trace("tvfs_getsearchlog  open DVR_CH_SLOG\n");
    ChannelHandle slog(backup_open(DVR_CH_SLOG));
    if (slog.fd() < 0) {
        dvrfs_trace("tvfs_getsearchlog log index open error %d\n", slog.fd());
        return slog.fd();
    }
    rc = backup_iseek(slog.fd(), &start);
    if (rc != 0) {
        dvrfs_trace("tvfs_getsearchlog log index backup_iseek error %d\n", rc);
        return rc;
    }
    const int shown = std::min(st.display_channels, static_cast<int32_t>(kVideoChannels));
    // The first search-log record carries the oldest time rounded down to the interval.
    const int32_t first = static_cast<int32_t>(volume_first_indexed_time(*v));
    const int32_t last = static_cast<int32_t>(v->newest);
    SearchRecord r;
    int32_t n;
    while ((n = backup_read(slog.fd(), &r, sizeof r)) == static_cast<int32_t>(sizeof r)) {
        const int32_t t = static_cast<int32_t>(r.time);
        if (t < first || t > last) return 0;
        if (civil_from_recorder(r.time).day != chosen_day) return 0;
        mark_record(r, shown, search_map);
    }
    dvrfs_trace(n > 0 ? "tvfs_getsearchlog DVR_ENEED_FSCK\n" : "tvfs_getsearchlog No more to read\n");
    return 0;
}
