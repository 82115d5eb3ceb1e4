// The disk load dialog's buttons: Refresh, Mount, Unmount, Open Session, Close Session, OK.
#include <QTreeWidget>

#include <cstring>
#include <string>

#include "platform/drive.h"
#include "storage/api.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/disk_load_dialog.h"
#include "ui/dialogs/disk_texts.h"
#include "ui/dialogs/dispatch_wait.h"
#include "ui/disk_state.h"
#include "ui/posted_event.h"

namespace ui {
namespace {

constexpr int kRecordRole = Qt::UserRole;

bool same_area(const DiskEntry& a, const DiskEntry& b) {
    return std::strncmp(a.device_path, b.device_path, kDevicePathSize) == 0 &&
           a.start_sector == b.start_sector && a.fs_type == b.fs_type;
}

void forget_session(DiskState* state) {
    state->session_mounted = false;
    state->session = -1;
    state->open_marks.fill(false);
    state->session_oldest = state->session_newest = 0;
    state->display_channels = 0;
    state->month_map.clear();
}

} // namespace

// The owner stops playback before anything it reads from goes away.
void DiskLoadDialog::stop_owner_playback() {
    post_message(owner_, kMsgStop);
    wait_dispatching_events(kStopWaitMs);
}

void DiskLoadDialog::refresh() {
    disks_->clear();
    sessions_->clear();
    const bool was_mounted = state_->disk_loaded;
    const bool was_open = state_->session_mounted;
    const int session = state_->session;
    const DiskEntry mounted_entry =
        was_mounted && state_->disk_row >= 0 && state_->disk_row < kDiskTableSize
            ? state_->disks[static_cast<size_t>(state_->disk_row)]
            : DiskEntry{};
    if (was_mounted || was_open)
        stop_owner_playback();
    if (was_open)
        api_unmount_session();
    if (was_mounted)
        api_unmount_disk();
    if (!scan_disks()) {
        tell(QStringLiteral("No Disk"));
        state_->disk_loaded = state_->disk_list_loaded = false;
        state_->disk_count = state_->session_count = 0;
        state_->disk_row = -1;
        forget_session(state_);
        disable_disk_buttons();
        emit lists_filled();
        return;
    }
    // The disk comes back only where the scan finds the same area under the same row.
    const int row = state_->disk_row;
    const bool same = was_mounted && row >= 0 && row < api_disk_count() &&
                      same_area(state_->disks[static_cast<size_t>(row)], mounted_entry);
    if (was_mounted && (!same || api_mount_disk(row) < 0)) {
        state_->disk_loaded = state_->disk_list_loaded = false;
        state_->disk_row = -1;
        forget_session(state_);
    }
    if (state_->disk_loaded) {
        api_get_sessions(state_->sessions.data());
        state_->session_count = api_session_count();
    }
    // The session that was open opens again, not the first one.
    if (was_open && state_->disk_loaded && (session < 0 || api_mount_session(session) != 0))
        forget_session(state_);
    fill_lists();
}

void DiskLoadDialog::open_image() {
    const QString path = chooser_ ? chooser_(this) : QString();
    if (!path.isEmpty())
        attach_image(path);
}

bool DiskLoadDialog::attach_image(const QString& path) {
    const std::string file = path.toStdString();
    const std::string problem = image_problem(file);
    if (!problem.empty()) {
        tell(QString::fromStdString(problem));
        return false;
    }
    // An image attached already keeps its row; a second row would be the same evidence twice.
    bool attached = false;
    for (int n = 1; n < platform::kMaxDrives && !attached; ++n)
        attached = platform::drive_path(n) == file;
    if (!attached && platform::attach_image(file) < 0) {
        tell(QStringLiteral("Cannot open %1: no free drive number, or the path is longer than "
                            "%2 bytes")
                 .arg(path)
                 .arg(platform::kMaxPathLength));
        return false;
    }
    refresh();
    return true;
}

void DiskLoadDialog::mount() {
    // A second Mount on a mounted disk changes nothing, not even the session count that the
    // session list is drawn from.
    if (!state_->usable_disk_seen || state_->disk_loaded)
        return;
    state_->session_count = 0;
    const int row = selected_disk_row();
    if (api_mount_disk(row) < 0) {
        tell(QStringLiteral("Failed to mount disk"));
        return;
    }
    const DiskEntry& entry = state_->disks[static_cast<size_t>(row)];
    if (!mountable_fs_type(entry.fs_type)) {
        api_unmount_disk();  // the record would not know this mount: it must not stay
        return;
    }
    state_->disk_kind = static_cast<int32_t>(entry.fs_type);
    state_->super_block.fill(0);
    api_read_super_block(row, state_->super_block.data());
    state_->disk_loaded = true;
    state_->disk_row = row;
    set_disk_state_text(row, QStringLiteral("Mounted"));
    api_get_sessions(state_->sessions.data());
    state_->session_count = api_session_count();
    forget_session(state_);
    sessions_->clear();
    list_sessions();
    enable_buttons();
}

void DiskLoadDialog::unmount() {
    const int row = selected_disk_row();
    if (!state_->disk_loaded || row < 0 ||
        !mountable_fs_type(state_->disks[static_cast<size_t>(row)].fs_type))
        return;
    stop_owner_playback();
    set_disk_state_text(state_->disk_row, QStringLiteral("Unmount"));
    if (state_->session_mounted)
        api_unmount_session();
    api_unmount_disk();
    state_->disk_loaded = false;
    state_->disk_row = -1;
    forget_session(state_);
    enable_buttons();
    refresh();
    post_message(owner_, kMsgTimelineClick);
}

void DiskLoadDialog::open_session() {
    QTreeWidgetItem* item = selected_session();
    if (item == nullptr)
        return;
    if (!state_->usable_disk_seen || !state_->disk_loaded) {
        tell(QStringLiteral("Disk not mounted"));
        return;
    }
    if (state_->session_mounted)
        return;
    const int record = item->data(0, kRecordRole).toInt();
    if (record < 0 || record >= kVolumeRecordCount || api_mount_session(record) != 0)
        return;
    const VolumeRecord& volume = state_->sessions[static_cast<size_t>(record)];
    state_->session_oldest = volume.oldest;
    state_->session_newest = volume.newest;
    state_->session_mounted = true;
    state_->session = record;
    state_->open_marks[static_cast<size_t>(record)] = true;
    item->setText(3, QStringLiteral("Open"));
    state_->display_channels = api_display_channels();
}

void DiskLoadDialog::close_session() {
    QTreeWidgetItem* item = selected_session();
    if (!state_->session_mounted || item == nullptr)
        return;
    const int record = item->data(0, kRecordRole).toInt();
    if (record < 0 || record >= kVolumeRecordCount ||
        !state_->open_marks[static_cast<size_t>(record)])
        return;
    stop_owner_playback();
    item->setText(3, QStringLiteral("Close"));
    api_unmount_session();
    forget_session(state_);
}

void DiskLoadDialog::confirm() {
    if (state_->usable_disk_seen && state_->ready()) {
        state_->month_map.assign(size_t{kMonthMapMonths} * kMonthMapEntries, 0);
        // A failed scan leaves the map empty; the dialog closes all the same.
        if (tvfs_getexistmonthlog(state_->month_map.data()) < 0)
            state_->month_map.assign(state_->month_map.size(), 0);
    }
    accept();
}

} // namespace ui
