// The capture dialog: folder, file name and format of a still. The name comes from the
// picture's time in the order of the date format. Enter is OK; Escape does not close it.
#pragma once

#include "export/still_capture.h"
#include "storage/api.h"
#include "ui/dialog_frame.h"

class QComboBox;
class QLineEdit;

namespace ui {

class CaptureDialog : public DialogFrame {
    Q_OBJECT
public:
    static constexpr int kFolderId = 1056;
    static constexpr int kNameId = 1055;
    static constexpr int kBrowseId = 1058;
    static constexpr int kFormatId = 1089;
    static constexpr int kOkId = 1;
    static constexpr int kCancelId = 2;

    CaptureDialog(const DateTime& picture_time, int time_format, QWidget* parent = nullptr);

    // What OK stored.
    const StillCaptureRequest& request() const { return request_; }

    void on_ok();
    void on_browse();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLineEdit* folder_ = nullptr;
    QLineEdit* name_ = nullptr;
    QComboBox* format_ = nullptr;
    StillCaptureRequest request_;
};

} // namespace ui
