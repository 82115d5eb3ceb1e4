#include "ui/dialog_shots_recovery.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include "ui/dialogs/check_dialog.h"
#include "ui/dialogs/recovered_dialog.h"
#include "ui/main_window.h"

namespace ui {
namespace {

// A demo disk is small: its jobs end well within this.
constexpr int kLongestJobMs = 120000;

// Runs the window's event loop until `ended` fires or the time is up; false on time-out.
template <typename Dialog, typename Signal>
bool wait_for(Dialog* dialog, Signal ended) {
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    QObject::connect(dialog, ended, &loop, [&loop] { loop.exit(0); });
    limit.start(kLongestJobMs);
    return loop.exec() == 0;
}

int shoot(QWidget* dialog, const QString& path) {
    QCoreApplication::processEvents();
    const bool saved = dialog->grab().save(path);
    return saved ? 0 : 1;
}

} // namespace

int save_recovery_dialog_shots(MainWindow* window, const QString& folder) {
    QDir().mkpath(folder);
    int failed = 0;

    window->on_check_disk();
    if (QPointer<CheckDialog> check = window->check_dialog()) {
        if (!check->running() || wait_for(check.data(), &CheckDialog::checked))
            failed += shoot(check, folder + QStringLiteral("/dialog-check.png"));
        else
            ++failed;
        if (check)
            check->close();
        // Closed dialogs go at once: the window opens one recovery dialog at a time.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } else {
        ++failed;
    }

    window->on_recovered_video();
    if (QPointer<RecoveredDialog> recovered = window->recovered_dialog()) {
        if (!recovered->busy() || wait_for(recovered.data(), &RecoveredDialog::scan_finished))
            failed += shoot(recovered, folder + QStringLiteral("/dialog-recovered.png"));
        else
            ++failed;
        if (recovered)
            recovered->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } else {
        ++failed;
    }
    return failed;
}

} // namespace ui
