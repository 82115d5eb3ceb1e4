#include "ui/dialogs/recovered_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>

#include "disk/disk.h"
#include "recover/recovered_export.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/dialog_kit.h"
#include "ui/dialogs/recovery_task.h"
#include "ui/dialogs/recovery_texts.h"
#include "ui/dialogs/run_player.h"

namespace ui {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 380;

} // namespace

RecoveredDialog::RecoveredDialog(DisplayControl* display, std::function<void()> before_play,
                                 int time_format, QWidget* parent)
    : DialogFrame(parent), before_play_(std::move(before_play)), time_format_(time_format),
      result_(std::make_shared<recover::RecoveryResult>()),
      task_(new RecoveryTask(this)), player_(new RunPlayer(display, this)) {
    setObjectName(QStringLiteral("Quillon_RecoveredVideo"));
    set_title(QStringLiteral("Recovered video"));
    setFixedSize(kWidth, kHeight);
    const int left = 16;
    const int inner = kWidth - 2 * left;
    message_ = new QLabel(QStringLiteral("Looking for video outside the stored data..."), this);
    message_->setGeometry(left, kTitleHeight + 10, inner, 20);
    set_control_id(message_, kMessageId);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    progress_->setGeometry(left, kTitleHeight + 34, inner, 18);
    set_control_id(progress_, kProgressId);
    list_ = new QTreeWidget(this);
    list_->setHeaderLabels({QStringLiteral("Stream"), QStringLiteral("First"),
                            QStringLiteral("Last"), QStringLiteral("Picture"),
                            QStringLiteral("Codec"), QStringLiteral("GOPs")});
    list_->setRootIsDecorated(false);
    list_->header()->setStretchLastSection(true);
    for (int column : {1, 2})
        list_->setColumnWidth(column, 140);
    list_->setColumnWidth(0, 60);
    list_->setColumnWidth(3, 80);
    list_->setColumnWidth(4, 70);
    list_->setGeometry(left, kTitleHeight + 62, inner, kHeight - kTitleHeight - 62 - 50);
    set_control_id(list_, kListId);

    const int top = kHeight - kDialogButtonHeight - 12;
    play_ = make_text_button(this, QStringLiteral("Play"), kPlayId);
    play_->move(left, top);
    stop_ = make_text_button(this, QStringLiteral("Stop"), kStopId);
    stop_->move(left + kDialogButtonWidth + 8, top);
    export_ = make_text_button(this, QStringLiteral("Export..."), kExportId);
    export_->move(left + 2 * (kDialogButtonWidth + 8), top);
    cancel_ = make_text_button(this, QStringLiteral("Cancel"), kCancelId);
    cancel_->move(kWidth - left - kDialogButtonWidth, top);

    connect(play_, &QAbstractButton::clicked, this, [this] { play_selected(); });
    connect(stop_, &QAbstractButton::clicked, this, &RecoveredDialog::stop_playing);
    connect(export_, &QAbstractButton::clicked, this, [this] {
        const QString folder = browse_folder(this, QString());
        if (!folder.isEmpty())
            export_to(folder);
    });
    connect(cancel_, &QAbstractButton::clicked, this, [this] {
        if (task_->running())
            task_->cancel();
        else
            reject();
    });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &RecoveredDialog::set_buttons);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { play_selected(); });
    connect(task_, &RecoveryTask::progressed, progress_, &QProgressBar::setValue);
    connect(task_, &RecoveryTask::finished, this, [this](int rc) {
        if (exporting_)
            on_export_finished(rc);
        else
            on_scan_finished(rc);
    });
    connect(player_, &RunPlayer::position, this, [this](quint32 time) {
        message_->setText(QStringLiteral("Playing %1").arg(recorder_time_text(time, time_format_)));
    });
    connect(player_, &RunPlayer::ended, this, [this] {
        message_->setText(QStringLiteral("The run has ended."));
        set_buttons();
    });
    set_buttons();
}

RecoveredDialog::~RecoveredDialog() { player_->stop(); }

void RecoveredDialog::start_scan() {
    scanned_ = false;
    exporting_ = false;
    list_->clear();
    progress_->setValue(0);
    auto result = result_;
    task_->start([result](RecoveryTaskProgress* progress) {
        return recover::recover_scan(progress, result.get());
    });
    set_buttons();
}

bool RecoveredDialog::busy() const { return task_->running(); }

QString RecoveredDialog::message() const { return message_->text(); }

void RecoveredDialog::on_scan_finished(int rc) {
    scanned_ = rc == 0;
    if (rc == recover::RECOVER_ECANCELED)
        message_->setText(QStringLiteral("Cancelled."));
    else if (rc < 0)
        message_->setText(QStringLiteral("The scan failed: %1").arg(QString::fromLatin1(dvrfs_strerror(rc))));
    else
        message_->setText(QStringLiteral("%1 runs of recovered video.").arg(result_->runs.size()));
    if (rc == 0)
        progress_->setValue(100);
    fill_list();
    set_buttons();
    emit scan_finished(rc);
}

void RecoveredDialog::fill_list() {
    list_->clear();
    if (!scanned_)
        return;
    for (const recover::RecoveredRun& run : result_->runs) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QStringLiteral("R%1").arg(run.stream, 2, 10, QLatin1Char('0')));
        item->setText(1, run.gops.empty() ? QStringLiteral("-")
                                          : recorder_time_text(run.gops.front().time, time_format_));
        item->setText(2, run.gops.empty() ? QStringLiteral("-")
                                          : recorder_time_text(run.gops.back().time, time_format_));
        item->setText(3, QStringLiteral("%1x%2").arg(run.width).arg(run.height));
        item->setText(4, QString::fromStdString(run.codec));
        item->setText(5, QString::number(run.gops.size()));
    }
    if (list_->topLevelItemCount() > 0)
        list_->setCurrentItem(list_->topLevelItem(0));
}

int RecoveredDialog::selected_run() const {
    const QTreeWidgetItem* item = list_->currentItem();
    if (item == nullptr || !item->isSelected())
        return -1;
    const int row = list_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
    return row >= 0 && row < static_cast<int>(result_->runs.size()) ? row : -1;
}

void RecoveredDialog::set_buttons() {
    const bool idle = !task_->running();
    play_->setEnabled(idle && selected_run() >= 0);
    stop_->setEnabled(player_->playing());
    export_->setEnabled(idle && scanned_ && !result_->runs.empty());
    cancel_->setText(idle ? QStringLiteral("Close") : QStringLiteral("Cancel"));
}

bool RecoveredDialog::play_selected() {
    const int run = selected_run();
    if (run < 0 || task_->running())
        return false;
    player_->stop();
    if (before_play_)
        before_play_();
    player_->play(result_->runs[static_cast<size_t>(run)]);
    set_buttons();
    return true;
}

void RecoveredDialog::stop_playing() {
    player_->stop();
    set_buttons();
}

bool RecoveredDialog::export_to(const QString& folder) {
    if (task_->running() || !scanned_)
        return false;
    // The export reads the disk too: nothing else may read it meanwhile.
    player_->stop();
    exporting_ = true;
    report_path_.clear();
    export_error_.clear();
    progress_->setValue(0);
    message_->setText(QStringLiteral("Exporting to %1...").arg(folder));
    auto result = result_;
    auto report = export_report_ = std::make_shared<std::string>();
    auto error = export_error_text_ = std::make_shared<std::string>();
    const int only = selected_run();
    task_->start([result, report, error, only, dir = folder.toStdString()](RecoveryTaskProgress* p) {
        return recover::recover_export(*result, dir, only, p, report.get(), error.get());
    });
    set_buttons();
    return true;
}

void RecoveredDialog::on_export_finished(int rc) {
    exporting_ = false;
    if (rc == 0) {
        report_path_ = QString::fromStdString(*export_report_);
        progress_->setValue(100);
        message_->setText(QStringLiteral("Exported; the report is %1").arg(report_path_));
    } else {
        export_error_ = QString::fromStdString(*export_error_text_);
        message_->setText(QStringLiteral("The export failed: %1").arg(export_error_));
    }
    set_buttons();
    emit export_finished(rc == 0);
}

void RecoveredDialog::done(int result) {
    task_->cancel();
    player_->stop();
    DialogFrame::done(result);
}

} // namespace ui
