#include "ui/dialogs/check_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>

#include "disk/disk.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/dialog_kit.h"
#include "ui/dialogs/recovery_task.h"
#include "ui/dialogs/recovery_texts.h"

namespace ui {
namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 360;

QString channel_text(const recover::ChannelCheck& c) {
    return QStringLiteral("%1 %2").arg(c.audio ? QStringLiteral("Audio") : QStringLiteral("Ch"))
        .arg(c.number);
}

QString fault_text(const recover::UnreadableSpan& s) {
    QString text = QString::fromLatin1(recover::check_fault_name(s.fault));
    if (s.error != 0)
        text += QStringLiteral(" (%1)").arg(QString::fromLatin1(dvrfs_strerror(s.error)));
    return text;
}

} // namespace

CheckDialog::CheckDialog(int time_format, QWidget* parent)
    : DialogFrame(parent), time_format_(time_format),
      report_(std::make_shared<recover::CheckReport>()), task_(new RecoveryTask(this)) {
    setObjectName(QStringLiteral("Quillon_CheckDisk"));
    set_title(QStringLiteral("Check disk"));
    setFixedSize(kWidth, kHeight);
    const int left = 16;
    const int inner = kWidth - 2 * left;
    message_ = new QLabel(QStringLiteral("Reading every stored record..."), this);
    message_->setGeometry(left, kTitleHeight + 10, inner, 20);
    set_control_id(message_, kMessageId);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    progress_->setGeometry(left, kTitleHeight + 34, inner, 18);
    set_control_id(progress_, kProgressId);
    list_ = new QTreeWidget(this);
    list_->setHeaderLabels({QStringLiteral("Channel"), QStringLiteral("Problem"),
                            QStringLiteral("From"), QStringLiteral("To"),
                            QStringLiteral("Image offset")});
    list_->setRootIsDecorated(false);
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 64);
    list_->setColumnWidth(1, 170);
    list_->setColumnWidth(2, 150);
    list_->setColumnWidth(3, 150);
    list_->setGeometry(left, kTitleHeight + 62, inner, kHeight - kTitleHeight - 62 - 50);
    set_control_id(list_, kListId);
    cancel_ = make_text_button(this, QStringLiteral("Cancel"), kCancelId);
    cancel_->move(kWidth - left - kDialogButtonWidth, kHeight - kDialogButtonHeight - 12);
    connect(cancel_, &QAbstractButton::clicked, this, [this] {
        if (task_->running())
            task_->cancel();
        else
            accept();
    });
    connect(task_, &RecoveryTask::progressed, progress_, &QProgressBar::setValue);
    connect(task_, &RecoveryTask::finished, this, &CheckDialog::on_finished);
}

CheckDialog::~CheckDialog() = default;

void CheckDialog::start() {
    complete_ = false;
    progress_->setValue(0);
    list_->clear();
    cancel_->setText(QStringLiteral("Cancel"));
    // The job owns a share of the report: it stays valid however the dialog ends.
    auto report = report_;
    task_->start([report](RecoveryTaskProgress* progress) {
        return recover::check_session(progress, report.get());
    });
}

bool CheckDialog::running() const { return task_->running(); }

QString CheckDialog::message() const { return message_->text(); }

void CheckDialog::on_finished(int rc) {
    complete_ = rc == 0;
    const recover::CheckReport& r = *report_;
    QString text;
    if (rc == recover::CHECK_ECANCELED)
        text = QStringLiteral("Cancelled: ");
    else if (rc < 0)
        text = QStringLiteral("The check failed: %1. ").arg(QString::fromLatin1(dvrfs_strerror(rc)));
    text += QStringLiteral("%1 records read, %2 unreadable spans.").arg(r.records).arg(r.failures);
    if (complete_ && r.readable())
        text = QStringLiteral("Everything recorded can be read: %1 records.").arg(r.records);
    message_->setText(text);
    if (complete_)
        progress_->setValue(100);
    fill_list();
    cancel_->setText(QStringLiteral("Close"));
    emit checked(complete_);
}

void CheckDialog::fill_list() {
    list_->clear();
    for (const recover::ChannelCheck& c : report_->channels) {
        for (const recover::UnreadableSpan& s : c.spans) {
            auto* item = new QTreeWidgetItem(list_);
            item->setText(0, channel_text(c));
            item->setText(1, fault_text(s));
            item->setText(2, recorder_time_text(s.from_time, time_format_));
            item->setText(3, s.to_time == 0 ? QStringLiteral("the end")
                                            : recorder_time_text(s.to_time, time_format_));
            item->setText(4, QString::number(s.image_offset));
        }
    }
}

} // namespace ui
