// The disk load dialog ("Open Disk"): lists the drives' areas, mounts a recorder or backup
// disk, opens one of its sessions and, on OK, runs the month scan for the calendar. It works
// on the main window's DiskState, so reopening it shows what is mounted.
#pragma once

#include <functional>

#include "ui/dialog_frame.h"
#include "ui/disk_state.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace ui {

class SkinButton;

class DiskLoadDialog : public DialogFrame {
    Q_OBJECT
public:
    enum Control : int {
        kIdDiskList = 1026, kIdSessionList = 1045, kIdRefresh = 1029, kIdMount = 1027,
        kIdUnmount = 1028, kIdOpenSession = 1046, kIdCloseSession = 1047, kIdOk = 1,
        kIdCancel = 2, kIdMonthLog = 1043, kIdSearchLog = 1044, kIdOpenImage = 1048,
    };
    // Before anything is unmounted, the owner gets a stop and this long to handle it.
    static constexpr int kStopWaitMs = 1000;

    // `owner` receives the stop, the month and day messages; `time_format` is the setting.
    DiskLoadDialog(DiskState* state, QObject* owner, int time_format, QWidget* parent = nullptr);

    // Where the message boxes go; tests collect the texts instead of answering boxes.
    void set_message_sink(std::function<void(const QString&)> sink) { sink_ = std::move(sink); }
    // What "Open image file..." asks for the image; tests answer instead of a file chooser.
    void set_image_chooser(std::function<QString(QWidget*)> chooser) {
        chooser_ = std::move(chooser);
    }
    bool started() const { return started_; }

    // The dialog's actions, as its buttons run them.
    void fill_lists();
    void refresh();
    void mount();
    void unmount();
    void open_session();
    void close_session();
    void confirm();
    // "Open image file...": the chosen raw image, E01 set or split raw image becomes a drive
    // row (read-only, as --image attaches it) and the lists are refreshed.
    void open_image();
    // The same for a path already chosen; false (after saying why) when it cannot be attached.
    bool attach_image(const QString& path);

    QTreeWidget* disk_list() const { return disks_; }
    QTreeWidget* session_list() const { return sessions_; }
    SkinButton* button(int id) const;

signals:
    // The lists were filled (or found nothing), at the start or after Refresh.
    void lists_filled();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void create_controls();
    SkinButton* add_button(int id, const QString& caption, QRect where);
    void tell(const QString& text);
    void stop_owner_playback();
    void enable_buttons();
    void disable_disk_buttons();
    bool scan_disks();
    bool list_disks();
    void list_sessions();
    void add_session_row(int record, int row);
    int selected_disk_row() const;
    QTreeWidgetItem* selected_session() const;
    void set_disk_state_text(int row, const QString& text);

    DiskState* state_;
    QObject* owner_;
    int time_format_;
    bool started_ = false;
    std::function<void(const QString&)> sink_;
    std::function<QString(QWidget*)> chooser_;
    QTreeWidget* disks_ = nullptr;
    QTreeWidget* sessions_ = nullptr;
};

} // namespace ui
