#include "ui/dialogs/system_log_dialog.h"

#include <QTreeWidget>

#include <algorithm>

#include "ui/dialogs/disk_texts.h"
#include "ui/posted_event.h"

namespace ui {

SystemLogDialog::SystemLogDialog(QObject* owner, QWidget* parent)
    : LogListDialog(owner, kMsgSystemLogClosed, QStringLiteral("Systemlog"),
                    {QStringLiteral("No"), QStringLiteral("Log Message"), QStringLiteral("Time")},
                    {70, 200, 200}, parent) {}

QString system_log_text(const SystemLogRecord& record) {
    const char* end = std::find(record.text, record.text + sizeof record.text, '\0');
    return QString::fromLatin1(record.text, static_cast<qsizetype>(end - record.text));
}

void SystemLogDialog::fill(const std::vector<SystemLogRecord>& records, int time_format) {
    list()->clear();
    int row = 1;
    for (const SystemLogRecord& record : records)
        add_row({QString::number(row++), system_log_text(record),
                 recorder_time_cell(time_format, record.time)},
                record.time);
}

} // namespace ui
