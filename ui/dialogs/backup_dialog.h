// The AVI backup dialog: the channels, the span and the folder of an export, then the job's
// progress. OK posts the start to the owner; Cancel and the close box post the stop. The owner
// runs the job and closes the dialog when it ends.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QString>

#include "export/container_writer.h"
#include "export/export_case.h"
#include "storage/api.h"
#include "ui/dialog_frame.h"
#include "ui/dialogs/backup_rules.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QDateTimeEdit;

namespace ui {

class SkinButton;
class BackupCaseBox;

class BackupDialog : public DialogFrame {
    Q_OBJECT
public:
    static constexpr int kChannels = 16;
    static constexpr int kFirstChannelId = 1063;  // "CH-1" .. "CH-16": 1063 .. 1078
    static constexpr int kAllId = 1079;
    static constexpr int kStartId = 1080;
    static constexpr int kEndId = 1081;
    static constexpr int kFolderId = 1082;
    static constexpr int kBrowseId = 1083;
    static constexpr int kProgressId = 1085;
    static constexpr int kFormatId = 1087;
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;

    // `owner` receives the start (114) and stop (115) messages.
    explicit BackupDialog(QObject* owner, QWidget* parent = nullptr);

    // The pickers' display: date and time, so that a span may cross midnight.
    static constexpr const char* kPickerFormat = "yyyy-MM-dd  HH : mm : ss";

    // Set before the dialog is shown. The search map is the one of the day that holds start.
    void set_span(uint32_t start, uint32_t end);
    void set_display_channels(int count);
    void set_selected_channel(int channel);
    void set_folder(const QString& folder);
    void set_search_map(const uint32_t* map, size_t count);
    // Reads the search map of another day, for a span that leaves the map's day; by default
    // the storage API's day search.
    void set_day_map_reader(DayMapReader reader) { read_day_ = std::move(reader); }
    void set_time_format(int format) { time_format_ = format; }
    // The files' format: AVI with SAMI captions, Matroska or MP4.
    void set_format(ExportFormat format);
    ExportFormat format() const;

    // What OK took, for the owner's job.
    uint32_t start_time() const { return start_; }
    uint32_t end_time() const { return end_; }
    uint32_t channel_mask() const { return mask_; }
    QString job_folder() const { return job_folder_; }
    QString folder() const;
    bool running() const { return running_; }
    // The examiner's fields (the owner loads and saves them with the settings) and what OK
    // took from them for the job.
    BackupCaseBox* case_box() const { return case_box_; }
    const ExportCaseInfo& case_info() const { return case_info_; }
    int progress() const;

    // The owner's job ended: the bar shows 100 after a whole export, and the dialog closes.
    void job_ended(bool complete);

    // Handlers, public for the keyboard and for tests.
    void on_ok();
    void on_cancel();
    void on_all();
    void on_browse();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void create_controls();
    void create_channel_boxes();
    void create_setting_box();
    void create_buttons();
    void create_format_choice();
    static uint32_t picker_time(const QDateTimeEdit* picker);
    void lock_inputs();

    QObject* owner_;
    std::array<QCheckBox*, kChannels> boxes_{};
    QCheckBox* all_ = nullptr;
    QDateTimeEdit* start_edit_ = nullptr;
    QDateTimeEdit* end_edit_ = nullptr;
    QLineEdit* folder_edit_ = nullptr;
    SkinButton* browse_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QComboBox* format_ = nullptr;
    SkinButton* ok_ = nullptr;
    SkinButton* cancel_ = nullptr;
    BackupCaseBox* case_box_ = nullptr;
    ExportCaseInfo case_info_;

    int channels_ = 0;
    int time_format_ = 0;
    uint32_t map_day_ = 0;  // midnight of the day the search map covers
    std::vector<uint32_t> search_map_;
    DayMapReader read_day_;
    uint32_t start_ = 0;
    uint32_t end_ = 0;
    uint32_t mask_ = 0;
    QString job_folder_;
    bool running_ = false;
};

} // namespace ui
