// Everything a user can do with a disk, run over a fuzzed image.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "disk/disk_i.h"
#include "fuzz/harness/checksum_repair.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/sparse_image.h"
#include "storage/api.h"
#include "storage/api_state.h"

namespace fuzz {
namespace {

// Bounds that keep one input to a fraction of a second on an image of any size.
constexpr int32_t kChannelReadBytes = 64 * 1024;
constexpr int64_t kTotalReadBytes = 4 * 1024 * 1024;
constexpr int kMaxDays = 48;
constexpr int kMaxCaptureImages = 8;
constexpr int32_t kCaptureImageBytes = 256 * 1024;

struct Budget {
    int sessions = 0;  // for the verbose summary
    int64_t bytes = kTotalReadBytes;
    int days = kMaxDays;
    int images = kMaxCaptureImages;
};

void read_channel(int32_t channel, const VolumeRecord& v, Budget* budget, std::vector<uint8_t>* buf) {
    const int32_t fd = backup_open(channel);
    if (fd < 0) return;
    int32_t left = static_cast<int32_t>(std::min<int64_t>(kChannelReadBytes, budget->bytes));
    // Odd piece sizes cross block boundaries at every offset.
    for (int32_t piece = 4093; left > 0; piece = piece * 2 + 1) {
        const int32_t n = backup_read(fd, buf->data(), std::min(piece, left));
        if (n <= 0) break;
        left -= n;
        budget->bytes -= n;
    }
    ChannelPosition p{};
    backup_tell(fd, &p);
    backup_lseek(fd, -4096, SEEK_TAIL);
    if (backup_read(fd, buf->data(), 4096) > 0) budget->bytes -= 4096;
    backup_lseek(fd, 12345, SEEK_HEAD);
    backup_lseek(fd, -1, SEEK_CURRENT);
    backup_iseek(fd, &p);
    const ChannelPosition odd{p.block + 1, -1};
    backup_iseek(fd, &odd);
    for (uint32_t t : {v.oldest, v.newest, v.oldest + (v.newest - v.oldest) / 2, v.newest + 3600}) {
        if (backup_locate_index(fd, static_cast<int32_t>(t), &p) == 0 &&
            backup_read(fd, buf->data(), 512) > 0) {
            budget->bytes -= 512;
        }
    }
    backup_close(fd);
}

void read_day(uint32_t day, Budget* budget, std::vector<uint8_t>* buf) {
    std::vector<uint32_t> search(kDaySlots, 0);
    tvfs_getsearchlog(day, search.data());
    std::vector<SystemLogRecord> system(kSystemLogMax);
    api_get_system_log(day, system.data());
    std::vector<EventLogRecord> events(kEventLogMax);
    api_get_event_log(day, events.data());
    std::vector<CaptureLogRecord> captures(kCaptureLogMax);
    const int32_t n = api_get_capture_log(day, captures.data());
    for (int32_t i = 0; i < n && budget->images > 0; ++i, --budget->images) {
        api_read_capture_image(captures[static_cast<size_t>(i)].time, buf->data(), kCaptureImageBytes);
    }
}

void use_session(int32_t session, Budget* budget, std::vector<uint8_t>* buf) {
    if (api_mount_session(session) != 0) {
        api_unmount_session();
        return;
    }
    const VolumeRecord* selected = backup_selected_volume();
    if (selected == nullptr) {
        api_unmount_session();
        return;
    }
    const VolumeRecord v = *selected;
    ++budget->sessions;
    for (int32_t c = 0; c < backup_channel_count() && budget->bytes > 0; ++c) {
        backup_channel_size(c);
        read_channel(c, v, budget, buf);
    }
    std::vector<uint32_t> months(kMonthMapMonths * kMonthMapEntries, 0);
    if (tvfs_getexistmonthlog(months.data()) >= 0) {
        // Every day the month map marks, month by month from the oldest recording.
        DateTime first{};
        time_to_systemtime(v.oldest, &first);
        for (int m = 0; m < kMonthMapMonths && budget->days > 0; ++m) {
            const int year = first.year + (first.month - 1 + m) / 12;
            const int month = (first.month - 1 + m) % 12 + 1;
            DateTime d{};
            d.year = static_cast<uint16_t>(year);
            d.month = static_cast<uint16_t>(month);
            d.day = 1;
            uint32_t t = 0;
            systemtime_to_time(&d, &t);
            const int32_t mask = tvfs_month_day_mask(months.data(), t);
            if (mask <= 0) continue;
            for (int day = 1; day <= 31 && budget->days > 0; ++day) {
                if ((static_cast<uint32_t>(mask) & (1u << (day - 1))) == 0) continue;
                --budget->days;
                read_day(t + static_cast<uint32_t>(day - 1) * 86400u + 43200u, budget, buf);
            }
        }
    }
    // The oldest day too, which a damaged super index may leave out of the map.
    if (budget->days > 0) {
        --budget->days;
        read_day(v.oldest, budget, buf);
    }
    api_unmount_session();
}

}  // namespace

int disk_image(const uint8_t* data, size_t size) {
    const bool sparse = is_sparse_input(data, size);
    int repaired = 0;
    std::unique_ptr<AttachedImage> attached;
    if (sparse) {
        auto image = std::make_shared<SparseImage>(parse_sparse_image(data, size));
        if ((image->flags & kRepairChecksums) != 0) repaired = repair_checksums(image.get());
        attached =
            std::make_unique<AttachedImage>(std::shared_ptr<const SparseImage>(std::move(image)));
    } else {
        attached = std::make_unique<AttachedImage>(RawImage{data, size});
    }
    if (!attached->ok()) return 0;
    api_state_reset();

    Budget budget;
    std::vector<uint8_t> buf(kCaptureImageBytes);
    DiskEntry table[kDiskTableSize];
    if (api_scan_disks(table) == 0) {
        const int32_t rows = api_disk_count();
        for (int32_t row = 0; row < rows; ++row) {
            if (api_mount_disk(row) != 0) {
                api_unmount_disk();
                continue;
            }
            uint8_t super[136];
            api_read_super_block(row, super);
            VolumeRecord records[kVolumeRecordCount];
            api_get_sessions(records);
            const int32_t sessions = api_session_count();
            for (int32_t s = 0; s < sessions; ++s) use_session(s, &budget, &buf);
            api_unmount_disk();
        }
    }
    if (std::getenv("QUILLON_FUZZ_VERBOSE") != nullptr) {
        std::fprintf(stderr,
                     "disk_image: %s, %d checksums repaired, %d rows, %d sessions, "
                     "%lld bytes read, %d days, %d images\n",
                     sparse ? "sparse" : "raw", repaired, api_disk_count(), budget.sessions,
                     static_cast<long long>(kTotalReadBytes - budget.bytes), kMaxDays - budget.days,
                     kMaxCaptureImages - budget.images);
    }
    api_exit();  // closes whatever is still open; no playback thread was started
    api_state_reset();
    return 0;
}

}  // namespace fuzz
