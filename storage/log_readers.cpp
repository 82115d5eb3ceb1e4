// The three log readers: one day of the system, event or capture log as a list of records.
#include <cstring>

#include "disk/recorder_time.h"
#include "storage/api_state.h"
#include "storage/channel_handle.h"

namespace {

enum class Verdict { Keep, Skip };

// What sets the three logs apart.
template <typename Record>
struct LogKind {
    int32_t (*channel)(int32_t count);
    int max;
    bool event_trace;  // the event log traces its progress in more detail
    const char* bad_time;
    uint32_t (*time_of)(const Record& r);
    Verdict (*check)(Record* r);
};

Verdict check_system(SystemLogRecord* r) {
    for (char byte : r->text) {
        const auto b = static_cast<signed char>(byte);
        if (b == 0) return Verdict::Keep;
        if (b < 31) {
            dvrfs_trace("Invalid LOG data[%x]\n", b);
            return Verdict::Skip;
        }
    }
    return Verdict::Skip;  // no end within the 56 bytes
}

Verdict check_event(EventLogRecord* r) {
    if (r->in_use != 0) return Verdict::Keep;
    dvrfs_trace("Search Log data of end !!!!\n");
    return Verdict::Skip;
}

Verdict check_capture(CaptureLogRecord* r) {
    r->kind &= 3;
    if (r->kind != 3) return Verdict::Keep;
    dvrfs_trace("Capture Log data TYPE !!!!\n");
    return Verdict::Skip;
}

const LogKind<SystemLogRecord> kSystemLog{
    system_log_channel, kSystemLogMax, false, "Invalid System Log data TIME !!!!\n",
    [](const SystemLogRecord& r) { return r.time; }, check_system};
const LogKind<EventLogRecord> kEventLog{
    event_log_channel, kEventLogMax, true, "Invalid System Log data TIME !!!!\n",
    [](const EventLogRecord& r) { return r.t; }, check_event};
const LogKind<CaptureLogRecord> kCaptureLog{
    capture_log_channel, kCaptureLogMax, false, "Invalid Capture Log data TIME !!!!\n",
    [](const CaptureLogRecord& r) { return r.time; }, check_capture};

// Positions fd at the first hour of the day that the index can locate; false when none is.
bool locate_day(int32_t fd, uint32_t req, int hour) {
    for (; hour < 24; ++hour, req += 3600) {
        if (backup_locate_index(fd, static_cast<int32_t>(req), nullptr) == 0) return true;
        dvrfs_trace("locat index error .. continue\n");
    }
    return false;
}

constexpr int64_t kMaxUnusableLogBytes = 4 << 20;

template <typename Record>
int32_t read_records(int32_t fd, const LogKind<Record>& kind, uint32_t day_start, uint32_t day_end,
                     Record* list) {
    int32_t count = 0;
    Record r;
    int32_t n;
    // Bytes read since the last record kept. A damaged channel table can name a log channel of
    // any size; a day's records lie together, so a long run of records that are not the day's
    // ends the list instead of reading the whole channel.
    int64_t unusable = 0;
    for (;;) {
        std::memset(&r, 0, sizeof r);
        n = backup_read(fd, &r, sizeof r);
        if (n <= 0) break;
        unusable += n;
        if (unusable > kMaxUnusableLogBytes) {
            dvrfs_trace("log read stopped: %lld bytes without a record of the day\n",
                        static_cast<long long>(unusable));
            return count;
        }
        const uint32_t t = kind.time_of(r);
        if (t > day_end) {
            if (kind.event_trace) {
                dvrfs_trace("loglist.t [%d] > (unsigned long)end_time [%d]\n", static_cast<int32_t>(t),
                            static_cast<int32_t>(day_end));
            }
            return count;
        }
        if (t == 0 || t < day_start) {
            dvrfs_trace("%s", kind.bad_time);
            continue;
        }
        if (kind.check(&r) == Verdict::Skip) continue;
        unusable = 0;
        list[count++] = r;
        if (count == kind.max) {
            dvrfs_trace("log list full --- %d\n", count);
            return count;
        }
    }
    if (kind.event_trace) dvrfs_trace("Eventlog no more data ret = %d \n", n);
    return count;
}

template <typename Record>
int32_t read_day(uint32_t time, Record* list, const LogKind<Record>& kind) {
    ApiState& st = api_state();
    std::lock_guard<std::mutex> guard(st.lock);
    const VolumeRecord* v = api_session();
    const uint32_t req = v != nullptr && list != nullptr ? api_day_start(time) : 0;
    if (req == 0) {
        if (kind.event_trace) dvrfs_trace("Eventlog req_time == 0 \n");
        return kApiRefused;
    }
    const int hour = civil_from_recorder(req).hour;
    const uint32_t day_end = req - static_cast<uint32_t>(hour) * 3600 + 86399;

    const int32_t log_channel = kind.channel(static_cast<int32_t>(v->channel_count));
    const ChannelHandle channel(backup_open(log_channel));
    const int32_t fd = channel.fd();
    if (fd < 0) {
        if (kind.event_trace) dvrfs_trace("Eventlog backup_open error \n");
        return fd;
    }
    // A log the recorder never wrote holds no record of any day; no hour of it can be located,
    // and that is not a failure.
    if (backup_channel_size(log_channel) == 0) return 0;
    if (!locate_day(fd, req, hour)) {
        if (kind.event_trace) dvrfs_trace("Eventlog goto leave\n");
        return kApiRefused;
    }
    if (kind.event_trace) {
        ChannelPosition p{};
        backup_tell(fd, &p);
        dvrfs_trace("Current Position : %05d:%09d\n", p.block, p.offset);
    }
    const int32_t count = read_records(fd, kind, req, day_end, list);
    if (kind.event_trace) dvrfs_trace("Eventlog count ret = %d\n", count);
    return count;
}

}  // namespace

uint32_t api_day_start(uint32_t time) {
    const VolumeRecord* v = api_session();
    if (v == nullptr || time > v->newest) return 0;
    // The first day's window opens where the index does, at the interval holding the oldest time.
    const uint32_t first = volume_first_indexed_time(*v);
    const CivilTime t = civil_from_recorder(time);
    if (time > first) {
        return static_cast<uint32_t>(recorder_from_civil(t.year, t.month, t.day, 0, 0, 0));
    }
    const CivilTime f = civil_from_recorder(first);
    if (f.year != t.year || f.month != t.month || f.day != t.day) return 0;
    return first;
}

int32_t api_get_system_log(uint32_t time, SystemLogRecord* list) {
    return read_day(time, list, kSystemLog);
}

int32_t api_get_event_log(uint32_t time, EventLogRecord* list) {
    return read_day(time, list, kEventLog);
}

int32_t api_get_capture_log(uint32_t time, CaptureLogRecord* list) {
    return read_day(time, list, kCaptureLog);
}

const char* event_type_name(uint8_t type) {
    switch (type) {
        case 1: return "Continue";
        case 2: return "Motion";
        case 3: return "Sensor";
        case 4: case 5: return "Manual";
        default: return "No";
    }
}

const char* capture_kind_name(uint32_t kind) {
    switch (kind & 3) {
        case 0: return "Live JPEG";
        case 1: return "Play JPEG";
        case 2: return "AVI Backup";
        default: return "invalid";
    }
}
