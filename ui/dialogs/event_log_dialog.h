// The event log dialog ("Eventlog"): the chosen day's recorder events; Play jumps to one.
#pragma once

#include <vector>

#include "storage/api.h"
#include "ui/dialogs/log_list_dialog.h"

namespace ui {

class EventLogDialog : public LogListDialog {
    Q_OBJECT
public:
    explicit EventLogDialog(QObject* owner, QWidget* parent = nullptr);

    // Refills the list; times in date format `time_format`.
    void fill(const std::vector<EventLogRecord>& records, int time_format);

protected:
    int side() const override { return -1; }
};

} // namespace ui
