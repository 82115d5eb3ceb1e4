// The capture log dialog: the recorder's capture log of the shown day, and the picture of the
// selected entry, which View reads from the disk and SaveAs saves. Modeless; it tells its
// owner when it closes (206).
#pragma once

#include <vector>

#include <QByteArray>
#include <QImage>
#include <QString>

#include "storage/api.h"
#include "ui/dialog_frame.h"

class QLabel;
class QTreeWidget;

namespace ui {

class CaptureLogDialog : public DialogFrame {
    Q_OBJECT
public:
    static constexpr int kListId = 1026;
    static constexpr int kViewId = 1051;
    static constexpr int kSaveAsId = 1054;
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;
    // The largest capture image read from the disk.
    static constexpr int32_t kImageMax = 100 * 1024 * 1024;

    CaptureLogDialog(QObject* owner, QWidget* parent = nullptr);

    void fill(const std::vector<CaptureLogRecord>& records, int time_format);

    // The row's type and time texts as the list shows them.
    static QString type_text(uint32_t kind);
    static QString time_text(const CaptureLogRecord& record, int time_format);

    QTreeWidget* list() const { return list_; }
    // The picture shown and the file it was stored in (empty before a View).
    const QImage& picture() const { return picture_; }
    QString picture_file() const { return picture_file_; }
    QString picture_name() const { return picture_name_; }
    QString saved_file() const { return saved_file_; }

    // View of the selected row; false when nothing new is shown.
    bool on_view();
    void on_save_as();

protected:
    void done(int result) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void show_picture();

    QObject* owner_;
    QTreeWidget* list_ = nullptr;
    QLabel* picture_area_ = nullptr;
    std::vector<CaptureLogRecord> records_;
    int time_format_ = 0;
    QImage picture_;
    QByteArray picture_bytes_;  // the shown picture as read from the disk
    QString picture_file_;
    QString picture_name_;
    QString saved_file_;
};

} // namespace ui
