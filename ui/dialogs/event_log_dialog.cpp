#include "ui/dialogs/event_log_dialog.h"

#include <QTreeWidget>

#include "ui/dialogs/disk_texts.h"
#include "ui/posted_event.h"

namespace ui {

EventLogDialog::EventLogDialog(QObject* owner, QWidget* parent)
    : LogListDialog(owner, kMsgEventLogClosed, QStringLiteral("Eventlog"),
                    {QStringLiteral("Channel"), QStringLiteral("Event type"),
                     QStringLiteral("EventTime")},
                    {90, 150, 200}, parent) {}

void EventLogDialog::fill(const std::vector<EventLogRecord>& records, int time_format) {
    list()->clear();
    for (const EventLogRecord& record : records)
        add_row({QStringLiteral("Ch-%1").arg(record.channel + 1),
                 QString::fromLatin1(event_type_name(record.type)),
                 recorder_time_cell(time_format, record.t)},
                record.t);
}

} // namespace ui
