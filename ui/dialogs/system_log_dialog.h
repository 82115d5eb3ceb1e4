// The system log dialog ("Systemlog"): the chosen day's recorder messages; Play jumps to one.
#pragma once

#include <vector>

#include "storage/api.h"
#include "ui/dialogs/log_list_dialog.h"

namespace ui {

class SystemLogDialog : public LogListDialog {
    Q_OBJECT
public:
    explicit SystemLogDialog(QObject* owner, QWidget* parent = nullptr);

    // Refills the list; times in date format `time_format`.
    void fill(const std::vector<SystemLogRecord>& records, int time_format);

protected:
    int side() const override { return 1; }
};

// A system log record's text: up to its first NUL, never past the record.
QString system_log_text(const SystemLogRecord& record);

} // namespace ui
