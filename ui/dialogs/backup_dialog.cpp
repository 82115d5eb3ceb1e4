#include "ui/dialogs/backup_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/backup_case_box.h"
#include "ui/dialogs/backup_rules.h"
#include "ui/dialogs/dialog_kit.h"
#include "ui/message_box.h"
#include "ui/posted_event.h"
#include "ui/recorder_clock.h"

namespace ui {
namespace {

constexpr int kWidth = 480;
// The case group sits between the settings and the progress bar.
constexpr int kCaseTop = 286;
constexpr int kCaseSpace = BackupCaseBox::kHeight + 8;
constexpr int kHeight = 372 + kCaseSpace;
constexpr int kFolderMax = 259;

} // namespace

BackupDialog::BackupDialog(QObject* owner, QWidget* parent) : DialogFrame(parent), owner_(owner) {
    set_title(QStringLiteral("AVI Backup"));
    read_day_ = [](uint32_t day, std::vector<uint32_t>* map) {
        map->assign(kDaySlots, 0);
        return tvfs_getsearchlog(day, map->data()) >= 0;
    };
    setFixedSize(kWidth, kHeight);
    create_controls();
}

void BackupDialog::create_controls() {
    create_channel_boxes();
    create_setting_box();
    case_box_ = new BackupCaseBox(this);
    case_box_->setGeometry(12, kTitleHeight + kCaseTop, kWidth - 24, BackupCaseBox::kHeight);
    create_buttons();
    create_format_choice();
}

void BackupDialog::create_channel_boxes() {
    auto* channels = new QGroupBox(QStringLiteral("Select Channels"), this);
    channels->setGeometry(12, kTitleHeight + 8, kWidth - 24, 150);
    for (int c = 0; c < kChannels; ++c) {
        auto* box = new QCheckBox(QStringLiteral("CH-%1").arg(c + 1), channels);
        box->setGeometry(14 + (c % 4) * 96, 24 + (c / 4) * 24, 90, 22);
        box->hide();
        set_control_id(box, kFirstChannelId + c);
        boxes_[static_cast<size_t>(c)] = box;
    }
    all_ = new QCheckBox(QStringLiteral("All"), channels);
    all_->setGeometry(14, 24 + 4 * 24 + 4, 90, 22);
    all_->setChecked(true);
    set_control_id(all_, kAllId);
    connect(all_, &QCheckBox::clicked, this, &BackupDialog::on_all);
}

void BackupDialog::create_setting_box() {
    auto* setting = new QGroupBox(QStringLiteral("Setting"), this);
    setting->setGeometry(12, kTitleHeight + 166, kWidth - 24, 112);
    auto* from = new QLabel(QStringLiteral("Start"), setting);
    from->setGeometry(14, 26, 40, 24);
    start_edit_ = new QDateTimeEdit(setting);
    start_edit_->setGeometry(52, 26, 184, 24);
    auto* to = new QLabel(QStringLiteral("End"), setting);
    to->setGeometry(242, 26, 30, 24);
    end_edit_ = new QDateTimeEdit(setting);
    end_edit_->setGeometry(270, 26, 184, 24);
    for (QDateTimeEdit* picker : {start_edit_, end_edit_}) {
        // Recorder time: broken down as it is stored, never moved by the PC's time zone.
        picker->setTimeSpec(Qt::UTC);
        picker->setDisplayFormat(QString::fromLatin1(kPickerFormat));
    }
    set_control_id(start_edit_, kStartId);
    set_control_id(end_edit_, kEndId);
    folder_edit_ = make_edit(setting, kFolderId);
    folder_edit_->setMaxLength(kFolderMax);
    folder_edit_->setGeometry(14, 66, kWidth - 24 - 28 - 56, 26);
    browse_ = make_text_button(setting, QStringLiteral("...."), kBrowseId);
    browse_->setGeometry(kWidth - 24 - 14 - 50, 66, 50, 26);
    connect(browse_, &QAbstractButton::clicked, this, &BackupDialog::on_browse);
}

void BackupDialog::create_buttons() {
    bar_ = new QProgressBar(this);
    bar_->setGeometry(12, kTitleHeight + 288 + kCaseSpace, kWidth - 24, 18);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    set_control_id(bar_, kProgressId);

    const int buttons_top = kHeight - kDialogButtonHeight - 12;
    ok_ = make_text_button(this, QStringLiteral("OK"), kOkId);
    ok_->move(kWidth / 2 - kDialogButtonWidth - 6, buttons_top);
    cancel_ = make_text_button(this, QStringLiteral("Cancel"), kCancelId);
    cancel_->move(kWidth / 2 + 6, buttons_top);
    connect(ok_, &QAbstractButton::clicked, this, &BackupDialog::on_ok);
    connect(cancel_, &QAbstractButton::clicked, this, &BackupDialog::on_cancel);
    // The frame's close box stops the job like Cancel.
    disconnect(close_button(), nullptr, this, nullptr);
    connect(close_button(), &QAbstractButton::clicked, this, &BackupDialog::on_cancel);
}

namespace {

QDateTime picker_value(uint32_t time) {
    const DateTime t = broken_down(time);
    return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second), Qt::UTC);
}

} // namespace

void BackupDialog::set_span(uint32_t start, uint32_t end) {
    map_day_ = start - start % 86400;
    start_edit_->setDateTime(picker_value(start));
    end_edit_->setDateTime(picker_value(end));
}

void BackupDialog::set_display_channels(int count) {
    channels_ = count < 0 ? 0 : count > kChannels ? kChannels : count;
    for (int c = 0; c < kChannels; ++c) {
        QCheckBox* box = boxes_[static_cast<size_t>(c)];
        box->setVisible(c < channels_);
        box->setChecked(c < channels_);
    }
    // "All" sits under the last row of boxes shown.
    const int rows = channels_ == 0 ? 1 : (channels_ + 3) / 4;
    all_->move(all_->x(), 24 + rows * 24 + 4);
    all_->setChecked(true);
}

// The channel selected in the display takes the keyboard focus among the boxes.
void BackupDialog::set_selected_channel(int channel) {
    if (channel >= 0 && channel < channels_)
        boxes_[static_cast<size_t>(channel)]->setFocus();
}

void BackupDialog::set_folder(const QString& folder) { folder_edit_->setText(folder); }

QString BackupDialog::folder() const { return folder_edit_->text(); }

void BackupDialog::set_search_map(const uint32_t* map, size_t count) {
    search_map_.assign(map, map + count);
}

int BackupDialog::progress() const { return bar_->value(); }

void BackupDialog::on_all() {
    for (int c = 0; c < channels_; ++c)
        boxes_[static_cast<size_t>(c)]->setChecked(all_->isChecked());
}

void BackupDialog::on_browse() {
    const QString chosen = browse_folder(this, folder_edit_->text());
    if (!chosen.isEmpty())
        folder_edit_->setText(chosen);
}

// The picker's date and time as a recorder time.
uint32_t BackupDialog::picker_time(const QDateTimeEdit* picker) {
    const QDateTime value = picker->dateTime();
    DateTime t{};
    t.year = static_cast<uint16_t>(value.date().year());
    t.month = static_cast<uint16_t>(value.date().month());
    t.day = static_cast<uint16_t>(value.date().day());
    t.hour = static_cast<uint16_t>(value.time().hour());
    t.minute = static_cast<uint16_t>(value.time().minute());
    t.second = static_cast<uint16_t>(value.time().second());
    uint32_t stamp = 0;
    systemtime_to_time(&t, &stamp);
    return stamp;
}

void BackupDialog::on_ok() {
    if (running_)
        return;
    const uint32_t start = picker_time(start_edit_);
    const uint32_t end = picker_time(end_edit_);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    const DateTime first = broken_down(start);
    job_folder_ = backup_folder(folder_edit_->text().left(kFolderMax), time_format_, first);
    start_ = start;
    end_ = end;
    if (start >= end) {
        show_message(this, QStringLiteral("Start time is less than stop time."),
                     QStringLiteral("Error"));
        return;
    }
    uint32_t checked = 0;
    for (int c = 0; c < channels_; ++c)
        if (boxes_[static_cast<size_t>(c)]->isChecked())
            checked |= 1u << c;
    mask_ = backup_span_mask(search_map_.data(), search_map_.size(), map_day_, start, end, checked,
                             read_day_);
    if (mask_ == 0) {
        if (checked != 0)
            show_message(this, QStringLiteral("No video data"), QStringLiteral("Quillon"));
        return;
    }
    QString problem;
    if (!case_box_->case_info(&case_info_, &problem)) {
        show_message(this, problem, QStringLiteral("Error"));
        return;
    }
    running_ = true;
    lock_inputs();
    post_message(owner_, kMsgBackupStart);
}

// The format sits on the last row of the channel box, right of "All".
void BackupDialog::create_format_choice() {
    auto* label = new QLabel(QStringLiteral("Format"), this);
    label->setGeometry(kWidth / 2, kTitleHeight + 132, 50, 24);
    format_ = new QComboBox(this);
    format_->setGeometry(kWidth / 2 + 52, kTitleHeight + 132, kWidth / 2 - 52 - 26, 24);
    format_->addItem(QStringLiteral("AVI + SAMI"), static_cast<int>(ExportFormat::Avi));
    format_->addItem(QStringLiteral("MKV (working copy)"), static_cast<int>(ExportFormat::Mkv));
    format_->addItem(QStringLiteral("MP4 (court copy)"), static_cast<int>(ExportFormat::Mp4));
    set_control_id(format_, kFormatId);
}

void BackupDialog::set_format(ExportFormat format) {
    const int at = format_->findData(static_cast<int>(format));
    format_->setCurrentIndex(at < 0 ? 0 : at);
}

ExportFormat BackupDialog::format() const {
    return static_cast<ExportFormat>(format_->currentData().toInt());
}

void BackupDialog::lock_inputs() {
    format_->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(start_edit_), static_cast<QWidget*>(end_edit_),
                       static_cast<QWidget*>(ok_), static_cast<QWidget*>(browse_),
                       static_cast<QWidget*>(all_), static_cast<QWidget*>(folder_edit_)})
        w->setEnabled(false);
    for (QCheckBox* box : boxes_)
        box->setEnabled(false);
    case_box_->lock();
}

void BackupDialog::on_cancel() {
    post_message(owner_, kMsgBackupEnd, 0, 0);
    running_ = false;
    reject();
}

void BackupDialog::job_ended(bool complete) {
    if (complete)
        bar_->setValue(100);
    running_ = false;
    accept();
}

bool BackupDialog::event(QEvent* event) {
    if (posted_message(event) == kMsgBackupProgress) {
        const auto* message = static_cast<const PostedEvent*>(event);
        const auto percent = static_cast<int>(message->lparam());
        if (percent >= 0 && percent <= 100 && percent > bar_->value())
            bar_->setValue(percent);
        return true;
    }
    return DialogFrame::event(event);
}

// Escape acts as Cancel, so that the job stops with the dialog; Enter is OK.
void BackupDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape: on_cancel(); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: on_ok(); return;
    default: DialogFrame::keyPressEvent(event);
    }
}

} // namespace ui
