#include "ui/dialogs/capture_log_dialog.h"

#include <memory>
#include <new>

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QStandardPaths>
#include <QTreeWidget>

#include "export/still_capture.h"
#include "ui/control_id.h"
#include "ui/controls/skin_button.h"
#include "ui/dialogs/dialog_kit.h"
#include "ui/dialogs/save_as_dialog.h"
#include "ui/message_box.h"
#include "ui/posted_event.h"
#include "ui/recorder_clock.h"
#include "ui/still_names.h"
#include "ui/time_format.h"

namespace ui {
namespace {

constexpr int kWidth = 680;
constexpr int kHeight = 420;
constexpr int kListWidth = 300;

} // namespace

CaptureLogDialog::CaptureLogDialog(QObject* owner, QWidget* parent)
    : DialogFrame(parent), owner_(owner) {
    setObjectName(QStringLiteral("Quillon_CaptureLog"));
    set_title(QStringLiteral("Capture log"));
    resize(kWidth, kHeight);
    list_ = new QTreeWidget(this);
    list_->setColumnCount(3);
    list_->setHeaderLabels({QStringLiteral("No"), QStringLiteral("Type"), QStringLiteral("Time")});
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setColumnWidth(0, 35);
    list_->setColumnWidth(1, 82);
    set_control_id(list_, kListId);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { on_view(); });

    picture_area_ = new QLabel(this);
    picture_area_->setAlignment(Qt::AlignCenter);
    picture_area_->setStyleSheet(QStringLiteral("background: black;"));

    const std::pair<int, QString> buttons[] = {{kViewId, QStringLiteral("View")},
                                               {kSaveAsId, QStringLiteral("SaveAs")},
                                               {kOkId, QStringLiteral("OK")},
                                               {kCancelId, QStringLiteral("Cancel")}};
    for (const auto& [id, caption] : buttons)
        make_text_button(this, caption, id);
    connect(static_cast<QAbstractButton*>(find_control(this, kViewId)), &QAbstractButton::clicked,
            this, [this] { on_view(); });
    connect(static_cast<QAbstractButton*>(find_control(this, kSaveAsId)),
            &QAbstractButton::clicked, this, &CaptureLogDialog::on_save_as);
    connect(static_cast<QAbstractButton*>(find_control(this, kOkId)), &QAbstractButton::clicked,
            this, &QDialog::accept);
    connect(static_cast<QAbstractButton*>(find_control(this, kCancelId)),
            &QAbstractButton::clicked, this, &QDialog::reject);
}

void CaptureLogDialog::resizeEvent(QResizeEvent* event) {
    DialogFrame::resizeEvent(event);
    const int bottom = height() - kDialogButtonHeight - 24;
    list_->setGeometry(12, kTitleHeight + 10, kListWidth, bottom - kTitleHeight - 10);
    picture_area_->setGeometry(kListWidth + 24, kTitleHeight + 10, width() - kListWidth - 36,
                               bottom - kTitleHeight - 10);
    int x = 12;
    for (int id : {kViewId, kSaveAsId}) {
        find_control(this, id)->move(x, height() - kDialogButtonHeight - 12);
        x += kDialogButtonWidth + 8;
    }
    x = width() - 12 - 2 * kDialogButtonWidth - 8;
    for (int id : {kOkId, kCancelId}) {
        find_control(this, id)->move(x, height() - kDialogButtonHeight - 12);
        x += kDialogButtonWidth + 8;
    }
    show_picture();
}

QString CaptureLogDialog::type_text(uint32_t kind) {
    switch (kind) {
    case 0: return QStringLiteral("Live JPEG");
    case 1: return QStringLiteral("Play JPEG");
    default: return QStringLiteral("AVI Backup");
    }
}

// A live capture is dated when it was taken; the others show the recording they picture.
QString CaptureLogDialog::time_text(const CaptureLogRecord& record, int time_format) {
    const DateTime t = broken_down(record.kind == 0 ? record.time : record.pictured);
    return format_time(time_format, t.year, t.month, t.day, t.hour, t.minute, t.second);
}

void CaptureLogDialog::fill(const std::vector<CaptureLogRecord>& records, int time_format) {
    records_ = records;
    time_format_ = time_format;
    list_->clear();
    for (size_t i = 0; i < records_.size(); ++i) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::number(i + 1));
        item->setText(1, type_text(records_[i].kind));
        item->setText(2, time_text(records_[i], time_format));
    }
}

bool CaptureLogDialog::on_view() {
    QTreeWidgetItem* item = list_->currentItem();
    const int row = item != nullptr ? list_->indexOfTopLevelItem(item) : -1;
    if (row < 0 || static_cast<size_t>(row) >= records_.size())
        return false;
    const CaptureLogRecord& record = records_[static_cast<size_t>(row)];
    const QString name = capture_file_name(time_format_, broken_down(record.time));
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(cache);
    const QString path = cache + QLatin1Char('/') + name;
    QFile::remove(path);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kImageMax]);
    if (!buffer)
        return false;
    const int32_t read = api_read_capture_image(record.time, buffer.get(), kImageMax);
    if (read <= 0)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char*>(buffer.get()),
                                                       read) != read)
        return false;
    file.close();
    QImage image;
    if (!image.loadFromData(buffer.get(), read))
        return false;
    // Picture, bytes and name change together, so that SaveAs saves the picture shown under
    // its own row's name, whatever row is selected since and whatever becomes of the file.
    picture_ = image;
    picture_bytes_ = QByteArray(reinterpret_cast<const char*>(buffer.get()), read);
    picture_file_ = path;
    picture_name_ = name;
    show_picture();
    return true;
}

void CaptureLogDialog::show_picture() {
    if (picture_.isNull()) {
        picture_area_->clear();
        return;
    }
    picture_area_->setPixmap(QPixmap::fromImage(picture_.scaled(
        picture_area_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void CaptureLogDialog::on_save_as() {
    if (picture_bytes_.isEmpty())
        return;
    // Taken before the modal dialog runs: a View meanwhile must not change what is saved.
    const QByteArray bytes = picture_bytes_;
    SaveAsDialog dialog(picture_name_, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString folder = dialog.folder().isEmpty() ? default_capture_folder() : dialog.folder();
    const std::string target = folder.toStdString() + "/" + dialog.name().toStdString() + ".jpg";
    std::string error, written;
    int32_t rc = still_make_folder(folder.toStdString(), &error);
    // A new file, "name (2).jpg" when the name is taken: an earlier copy is never replaced.
    if (rc == 0)
        rc = still_save_bytes(target, reinterpret_cast<const uint8_t*>(bytes.constData()),
                              static_cast<size_t>(bytes.size()), &written, &error);
    // A copy that failed is said, never passed over in silence.
    if (rc != 0)
        show_message(this, QString::fromStdString(error), QStringLiteral("Quillon"));
    else
        saved_file_ = QString::fromStdString(written);
    raise();
    activateWindow();
}

void CaptureLogDialog::done(int result) {
    post_message(owner_, kMsgCaptureLogClosed);
    DialogFrame::done(result);
}

} // namespace ui
