// Filling the disk load dialog's lists from the disk state record, and its buttons' states.
#include <QTreeWidget>

#include <algorithm>

#include "storage/api.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/disk_load_dialog.h"
#include "ui/dialogs/disk_texts.h"

namespace ui {
namespace {

constexpr int kRecordRole = Qt::UserRole;
const char* const kNoDvrDisk = "Failed to found DVR HDD";

QString device_path(const DiskEntry& entry) {
    const auto* end = std::find(entry.device_path, entry.device_path + kDevicePathSize, '\0');
    return QString::fromLocal8Bit(entry.device_path,
                                  static_cast<qsizetype>(end - entry.device_path));
}

} // namespace

bool DiskLoadDialog::scan_disks() {
    if (api_scan_disks(state_->disks.data()) < 0)
        return false;
    state_->disk_list_loaded = true;
    return true;
}

void DiskLoadDialog::fill_lists() {
    disks_->clear();
    sessions_->clear();
    // Nothing was scanned yet at the first opening after start-up: scan now, so that an
    // attached disk is found instead of reported missing.
    if (!state_->disk_list_loaded && !scan_disks()) {
        tell(QStringLiteral("No Disk"));
        disable_disk_buttons();
        emit lists_filled();
        return;
    }
    if (list_disks()) {
        list_sessions();
        enable_buttons();
    }
    emit lists_filled();
}

// The disk rows; false (after saying so) when none holds a recorder or backup disk.
bool DiskLoadDialog::list_disks() {
    state_->disk_count = std::min(api_disk_count(), int32_t{kDiskTableSize});
    if (state_->disk_count <= 0) {
        tell(QString::fromLatin1(kNoDvrDisk));
        disable_disk_buttons();
        return false;
    }
    int recorders = 0;
    int backups = 0;
    for (int row = 0; row < state_->disk_count; ++row) {
        const DiskEntry& entry = state_->disks[static_cast<size_t>(row)];
        // Every area the scan found counts, whichever table entry holds it.
        recorders += entry.fs_type == FS_PSOS ? 1 : 0;
        backups += entry.fs_type == FS_BACKUP10 || entry.fs_type == FS_BACKUP20 ? 1 : 0;
        const QString state = !mountable_fs_type(entry.fs_type) ? QStringLiteral("Not support")
                              : state_->disk_loaded && state_->disk_row == row
                                  ? QStringLiteral("Mounted")
                                  : QStringLiteral("Unmount");
        auto* item = new QTreeWidgetItem(
            disks_, {disk_type_cell(row, entry.fs_type), device_path(entry),
                     disk_size_cell(entry.sector_count).trimmed(), state});
        item->setData(2, kRecordRole, disk_size_cell(entry.sector_count));
        // The column is narrow; the whole path is one hover away.
        item->setToolTip(1, device_path(entry));
        if (state_->disk_loaded && state_->disk_row == row)
            disks_->setCurrentItem(item);
    }
    if (recorders == 0 && backups == 0) {
        tell(QString::fromLatin1(kNoDvrDisk));
        disable_disk_buttons();
        return false;
    }
    state_->usable_disk_seen = true;
    return true;
}

void DiskLoadDialog::list_sessions() {
    if (!state_->disk_loaded)
        return;
    const int count = std::clamp(state_->session_count, 0, kVolumeRecordCount);
    int row = 0;
    for (int record = 0; record < count; ++record)
        if (state_->sessions[static_cast<size_t>(record)].data_channel_count > 0)
            add_session_row(record, row++);
}

// A session row: the running number, the span, whether it is open. The row keeps the
// record's index, which differs from the row number once a record without channels is left out.
void DiskLoadDialog::add_session_row(int record, int row) {
    const VolumeRecord& volume = state_->sessions[static_cast<size_t>(record)];
    const bool open = state_->open_marks[static_cast<size_t>(record)];
    auto* item = new QTreeWidgetItem(
        sessions_, {QString::number(row), recorder_time_cell(time_format_, volume.oldest),
                    recorder_time_cell(time_format_, volume.newest),
                    open ? QStringLiteral("Open") : QStringLiteral("Close")});
    item->setData(0, kRecordRole, record);
    if (open)
        sessions_->setCurrentItem(item);
}

int DiskLoadDialog::selected_disk_row() const {
    const QList<QTreeWidgetItem*> chosen = disks_->selectedItems();
    return chosen.isEmpty() ? -1 : disks_->indexOfTopLevelItem(chosen.first());
}

QTreeWidgetItem* DiskLoadDialog::selected_session() const {
    const QList<QTreeWidgetItem*> chosen = sessions_->selectedItems();
    return chosen.isEmpty() ? nullptr : chosen.first();
}

void DiskLoadDialog::set_disk_state_text(int row, const QString& text) {
    if (QTreeWidgetItem* item = disks_->topLevelItem(row))
        item->setText(3, text);
}

void DiskLoadDialog::enable_buttons() {
    const bool mounted = state_->disk_loaded;
    button(kIdRefresh)->setEnabled(!mounted);
    button(kIdMount)->setEnabled(!mounted);
    button(kIdUnmount)->setEnabled(true);
    button(kIdOpenSession)->setEnabled(mounted);
    button(kIdCloseSession)->setEnabled(mounted);
}

void DiskLoadDialog::disable_disk_buttons() {
    for (int id : {kIdMount, kIdUnmount, kIdOpenSession, kIdCloseSession})
        button(id)->setEnabled(false);
}

} // namespace ui
