// A stand-in for the main window in the dialog tests: records the messages posted to it, and
// whether a disk was still mounted when each one arrived.
#pragma once

#include <QObject>

#include <vector>

#include "disk/disk.h"
#include "ui/posted_event.h"

namespace testkit {

struct ReceivedMessage {
    int message;
    intptr_t wparam;
    intptr_t lparam;
    bool disk_mounted;
};

class MessageRecorder : public QObject {
public:
    std::vector<ReceivedMessage> received;

    int count(int message) const {
        int n = 0;
        for (const auto& m : received)
            n += m.message == message ? 1 : 0;
        return n;
    }
    std::vector<int> numbers() const {
        std::vector<int> out;
        for (const auto& m : received)
            out.push_back(m.message);
        return out;
    }

protected:
    bool event(QEvent* event) override {
        if (const auto* posted = dynamic_cast<const ui::PostedEvent*>(event)) {
            received.push_back({posted->message(), posted->wparam(), posted->lparam(),
                                backup_mounted_disk() != nullptr});
            return true;
        }
        return QObject::event(event);
    }
};

} // namespace testkit
