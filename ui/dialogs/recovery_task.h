// Runs one long job of the recovery core (the check, the carver's scan, the export of runs) off
// the UI thread. The job gets a progress object that both core interfaces take; the progress
// and the end reach the owner on the UI thread as signals, and Cancel is a flag the core asks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include <QObject>

#include "recover/carver.h"
#include "recover/check.h"

namespace ui {

class RecoveryTask;

class RecoveryTaskProgress : public recover::RecoveryProgress, public recover::CheckProgress {
public:
    explicit RecoveryTaskProgress(RecoveryTask* task) : task_(task) {}
    void progress(uint64_t done_bytes, uint64_t total_bytes) override;
    bool cancelled() override;

private:
    RecoveryTask* task_;
    int shown_ = -1;
};

class RecoveryTask : public QObject {
    Q_OBJECT
public:
    using Job = std::function<int32_t(RecoveryTaskProgress*)>;

    explicit RecoveryTask(QObject* parent = nullptr);
    // Cancels a job still running and waits for it.
    ~RecoveryTask() override;

    // Starts the job on a thread of its own; false while another runs.
    bool start(Job job);
    void cancel() { cancel_ = true; }
    bool running() const { return running_; }
    bool cancel_requested() const { return cancel_; }

signals:
    void progressed(int percent);
    void finished(int rc);

private:
    friend class RecoveryTaskProgress;
    void post_progress(int percent);

    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> cancel_{false};
};

} // namespace ui
