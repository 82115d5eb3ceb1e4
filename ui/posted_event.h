// The window messages of the program as Qt events: message n is event type QEvent::User + n,
// carrying the same two arguments. Posting is safe from any thread (the playback thread's
// callbacks post them), and the receiver handles them in event().
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <cstdint>

namespace ui {

// The message numbers the windows exchange.
enum Message : int {
    kMsgMonthMask = 100,      // lparam: day mask of the month (bit d = day d + 1)
    kMsgShowDay = 101,        // show the chosen day
    kMsgFrameTime = 102,      // lparam: seconds of the frame shown
    kMsgStop = 110,           // stop playback, buttons to idle
    kMsgReadError = 111,      // the engine could not read a span of a slot; lparam: the slot
    kMsgBackupProgress = 112, // wparam: percent
    kMsgBackupStart = 114,
    kMsgBackupEnd = 115,      // wparam 0: end; otherwise split
    kMsgVolume = 120,         // the volume bar moved
    kMsgTimelineClick = 201,  // seek, then close the log dialogs
    kMsgPlayFrom = 202,       // lparam: seconds to play from
    kMsgEventLogClosed = 204,
    kMsgSystemLogClosed = 205,
    kMsgCaptureLogClosed = 206,
    kMsgRadioUncheck = 256,   // a radio skin button of the same group was checked
    kMsgBackupNotify = 300,
    kMsgDayChosen = 412,      // wparam != 0: run the month scan first
};

class PostedEvent : public QEvent {
public:
    PostedEvent(int message, intptr_t wparam, intptr_t lparam)
        : QEvent(static_cast<QEvent::Type>(QEvent::User + message)), wparam_(wparam),
          lparam_(lparam) {}

    int message() const { return static_cast<int>(type()) - QEvent::User; }
    intptr_t wparam() const { return wparam_; }
    intptr_t lparam() const { return lparam_; }

private:
    intptr_t wparam_;
    intptr_t lparam_;
};

// Posts message `message` to `receiver`; the event loop owns and deletes the event.
inline void post_message(QObject* receiver, int message, intptr_t wparam = 0, intptr_t lparam = 0) {
    if (receiver != nullptr)
        QCoreApplication::postEvent(receiver, new PostedEvent(message, wparam, lparam));
}

// The message carried by `event`, or -1 when it is not a posted message.
inline int posted_message(const QEvent* event) {
    const int type = static_cast<int>(event->type());
    if (type < QEvent::User || type > QEvent::MaxUser)
        return -1;
    return type - QEvent::User;
}

} // namespace ui
