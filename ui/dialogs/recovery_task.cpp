#include "ui/dialogs/recovery_task.h"

#include <algorithm>

#include <QMetaObject>

namespace ui {

void RecoveryTaskProgress::progress(uint64_t done_bytes, uint64_t total_bytes) {
    const int percent =
        total_bytes == 0 ? 100 : static_cast<int>(std::min<uint64_t>(done_bytes, total_bytes) * 100 / total_bytes);
    // One signal per percent: the UI thread's queue stays short whatever the disk's size.
    if (percent == shown_)
        return;
    shown_ = percent;
    task_->post_progress(percent);
}

bool RecoveryTaskProgress::cancelled() { return task_->cancel_; }

RecoveryTask::RecoveryTask(QObject* parent) : QObject(parent) {}

RecoveryTask::~RecoveryTask() {
    cancel_ = true;
    if (thread_.joinable())
        thread_.join();
}

bool RecoveryTask::start(Job job) {
    if (running_)
        return false;
    if (thread_.joinable())
        thread_.join();
    cancel_ = false;
    running_ = true;
    thread_ = std::thread([this, job = std::move(job)] {
        RecoveryTaskProgress progress(this);
        const int32_t rc = job(&progress);
        // Queued to this object: dropped with it when the owner is gone first.
        QMetaObject::invokeMethod(
            this,
            [this, rc] {
                running_ = false;
                emit finished(rc);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void RecoveryTask::post_progress(int percent) {
    QMetaObject::invokeMethod(this, [this, percent] { emit progressed(percent); },
                              Qt::QueuedConnection);
}

} // namespace ui
