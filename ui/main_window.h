// The program's main player window: the display, the transport, the timeline and the buttons
// that open the other dialogs. It turns the user's actions into storage API calls that steer
// the playback engine, and follows the engine through the messages the core bridge posts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <QPointer>
#include <QRect>
#include "ui/dialog_frame.h"

#include "export/backup_job.h"
#include "playback/display_control.h"
#include "storage/api.h"
#include "ui/disk_state.h"
#include "ui/engine_port.h"
#include "ui/player_controller.h"
#include "ui/settings.h"
#include "ui/transport_rules.h"

class QLabel;
class QMenu;
class QSettings;
class QTimer;
struct StillCaptureRequest;

namespace ui {

class BackupDialog;
class CalendarWidget;
class CaptureLogDialog;
class CheckDialog;
class RecoveredDialog;
class CoreBridge;
class EventLogDialog;
class WindowBackupHooks;
class PostedEvent;
class ScaleText;
class SearchSlider;
class SkinButton;
class SystemLogDialog;
class VolumeBar;

// The control ids of the window; every control carries its id (see control_id.h).
enum MainControl : int {
    kIdBackup = 1003, kIdDiskLoad = 1004, kIdExit = 1005, kIdMaximize = 1006,
    kIdMinimize = 1007, kIdFullScreen = 1008, kIdAudio = 1009, kIdVolumeBar = 1010,
    kIdTimeline = 1011, kIdScaleText = 1012, kIdTimeSearch = 1013, kIdPlay = 1014,
    kIdFrameForward = 1015, kIdMinuteForward = 1016, kIdFastForward = 1017, kIdRewind = 1018,
    kIdMinuteBack = 1019, kIdFrameBack = 1020, kIdMessage = 1021, kIdSplit1 = 1023,
    kIdSplit4 = 1024, kIdSplit9 = 1025, kIdSplit16 = 1026, kIdEventLog = 1040,
    kIdCaptureLog = 1041, kIdSystemLog = 1042, kIdOsd = 1052, kIdMarkIn = 1059,
    kIdMarkOut = 1060, kIdRecord = 1061, kIdCapture = 1090, kIdDisplay = 1094,
    kIdRecoveredVideo = 1095,
};

// Channel masks of the restarts: Play opens the video channels, the others every slot.
inline constexpr uint32_t kPlayChannelsMask = 0xFFFF;
inline constexpr uint32_t kAllChannelsMask = 0xFFFFFFFF;

// The context menu's command ids.
enum MenuCommand : int {
    kMenuOpenDisk = 32778, kMenuSystemLog = 32787, kMenuCaptureLog = 32788,
    kMenuEventLog = 32789, kMenuCapture = 32790, kMenuIFrameOnly = 32784, kMenuAbout = 32785,
    kMenuExit = 32786, kMenuGoToTime = 32791, kMenuCheckDisk = 32792, kMenuRecoveredVideo = 32793,
};

class MainWindow : public DialogFrame {
    Q_OBJECT

public:
    // `display` is the video display and `display_widget` the widget that shows it (the same
    // object in the program; tests may pass a recording display and a plain widget).
    MainWindow(DisplayControl* display, QWidget* display_widget, QSettings* settings,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // The disk state after a disk was opened outside the window (start-up with an image):
    // the steps that follow a successful disk load.
    void disk_loaded(const DiskState& state);
    // Starts playing once the chosen day is shown: at `time` (its day is shown first), or as
    // Play would with 0.
    void play_when_day_shown(uint32_t time = 0) {
        play_when_shown_ = true;
        play_at_ = time;
    }
    // The clock of the transport hold-offs, in milliseconds; tests replace it.
    void set_clock(std::function<int64_t()> clock);

    // For the tests and the transport: what the window holds.
    PlayerController* player() const { return player_; }
    int32_t ui_mode() const;
    uint32_t current_time() const;
    uint32_t selected_day() const;
    const Settings& settings() const { return settings_; }
    const DiskState& disk() const { return disk_; }
    bool full_monitor() const { return full_monitor_; }
    bool no_picture() const;
    SearchSlider* timeline() const { return timeline_; }
    uint32_t armed_channels() const;
    QString osd_text() const;
    QString transport_text() const;
    QString message_text() const;
    // The context menu as it would open now (the caller owns it).
    QMenu* build_context_menu();
    // Plays from `time`, showing its day first (Go to time, --play with a time).
    void go_to(uint32_t time);

    // The three logs of the shown day, as read for the log dialogs.
    const std::vector<EventLogRecord>& event_log() const { return event_log_; }
    const std::vector<SystemLogRecord>& system_log() const { return system_log_; }
    const std::vector<CaptureLogRecord>& capture_log() const { return capture_log_; }

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Construction (main_window.cpp).
    void create_controls();
    SkinButton* add_button(int id, const QString& skin, const QString& tooltip, QRect where);
    void place_controls();
    void start_core();
    void apply_disk_buttons();
    void set_split_offers();

    // Transport (main_window_transport.cpp): the window shows the controller's state.
    void create_key_actions();
    void show_player_state();
    void show_transport_buttons();
    void show_marks();
    void show_status(const QString& text);
    void reset_transport_buttons();
    uint32_t position_time(int position) const;
    void on_timeline_released();
    void on_go_to_time();

    // Messages (main_window_messages.cpp).
    void handle_message(const PostedEvent& message);
    void load_day(uint32_t midnight, bool follow);
    void on_day_reached(uint32_t midnight);
    void on_unreadable(int channel, uint32_t from, uint32_t to);
    void on_volume_bar();
    void on_timeline_click();
    void read_day_logs();
    void show_time(uint32_t time);

    // Other commands (main_window_commands.cpp).
    void on_audio_toggle();
    void on_iframe_toggle();
    void on_full_monitor();
    void enter_full_monitor();
    void leave_full_monitor();
    void on_record();
    void on_capture();
    void on_split(int splits);
    void on_time_search();
    void on_time_format(int index);
    OverlayPlace overlay_place() const;
    void on_overlay_place(OverlayPlace place);
    static constexpr const char* kOverlayKey = "TileText";
    void on_about();
    void on_exit();

    DisplayControl* display_;
    QWidget* display_widget_;
    QSettings* store_;
    ApiEngine engine_;
    PlayerController* player_ = nullptr;
    std::unique_ptr<CoreBridge> bridge_;
    bool core_started_ = false;

    Settings settings_{};
    int32_t saved_volume_ = 0;
    bool audio_on_ = true;
    DiskState disk_;

    bool play_when_shown_ = false;
    uint32_t play_at_ = 0;
    uint32_t month_mask_ = 0;

    bool full_monitor_ = false;
    QRect saved_rect_;

    std::vector<EventLogRecord> event_log_;
    std::vector<SystemLogRecord> system_log_;
    std::vector<CaptureLogRecord> capture_log_;

    // Disk, calendar and log dialogs.
public:
    CalendarWidget* calendar() const { return calendar_; }
    EventLogDialog* event_log_dialog() const;
    SystemLogDialog* system_log_dialog() const;
    // Runs the disk load dialog, then shows what it mounted (button 1004, "Open Disk", Ctrl+O).
    void on_disk_load();
    // Opens the log dialog, or closes it when it is open (buttons 1040 and 1042).
    void toggle_event_log();
    void toggle_system_log();

private:
    void create_disk_controls();
    void place_calendar();
    void follow_disk_in_calendar();
    void disk_gone();
    void on_month_mask(uint32_t mask);
    void on_calendar_day(intptr_t wparam, intptr_t lparam);
    void on_log_closed(int message);
    void close_log_dialogs();
    void hand_logs_to_dialogs();
    void set_log_buttons();
    bool logs_offered() const { return disk_.ready() && disk_.recorder_disk(); }

    CalendarWidget* calendar_ = nullptr;
    QPointer<EventLogDialog> event_log_dialog_;
    QPointer<SystemLogDialog> system_log_dialog_;

    // Export and capture dialogs (main_window_export.cpp).
    friend class WindowBackupHooks;

public:
    BackupDialog* backup_dialog() const;
    CaptureLogDialog* capture_log_dialog() const;
    bool backup_running() const;
    // The folder of the last job's files and report (empty before the first job).
    QString backup_job_folder() const { return backup_job_folder_; }

protected:
    void done(int result) override;

private:
    void connect_export_controls();
    void apply_export_buttons();
    void handle_export_message(const PostedEvent& message);
    void open_backup_dialog();
    void start_backup_job();
    void pump_backup_job();
    void end_backup_job();
    void on_backup_dialog_closed();
    void detach_backup_job();
    void show_backup_result();
    void on_capture_log();
    void refresh_capture_log();
    bool run_capture_dialog(StillCaptureRequest* request);

    std::unique_ptr<BackupJobHooks> backup_hooks_;
    std::unique_ptr<BackupJob> backup_job_;
    QPointer<BackupDialog> backup_dialog_;
    QPointer<CaptureLogDialog> capture_log_dialog_;
    QTimer* backup_pump_ = nullptr;
    QString backup_job_folder_;
    bool backup_create_failed_ = false;

    // Check disk and Recovered video (main_window_recovery.cpp).
public:
    CheckDialog* check_dialog() const;
    RecoveredDialog* recovered_dialog() const;
    // Reads every stored record of the session with a progress bar; the unreadable spans turn
    // red on the timeline, on every day shown until another disk is loaded.
    void on_check_disk();
    // The runs of older video outside the stored data: list, play in single view, export.
    void on_recovered_video();

private:
    void connect_recovery_controls();
    void on_checked(bool complete);
    void apply_check_marks();
    void forget_check();

    QPointer<CheckDialog> check_dialog_;
    QPointer<RecoveredDialog> recovered_dialog_;
    // Unreadable spans of the last check: from, and to (0: to the end of the recording).
    std::vector<std::pair<uint32_t, uint32_t>> check_marks_;

    std::map<int, SkinButton*> buttons_;
    SearchSlider* timeline_ = nullptr;
    VolumeBar* volume_bar_ = nullptr;
    ScaleText* scale_text_ = nullptr;
    QLabel* osd_ = nullptr;
    QLabel* transport_ = nullptr;
    QLabel* message_ = nullptr;
};

} // namespace ui
