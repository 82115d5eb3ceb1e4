#include "ui/dialogs/dispatch_wait.h"

#include <QEventLoop>
#include <QTimer>

namespace ui {

void wait_dispatching_events(int ms) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    // Clicks during the wait must not start a second unmount or close the dialog under us.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

} // namespace ui
