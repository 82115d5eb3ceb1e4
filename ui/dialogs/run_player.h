// Plays one recovered run in the display's single view: each GOP is read again from the disk,
// split into its frames by the frame table, and handed to the display (which decodes it), paced
// by the frames' recorder times, on a thread of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include <QObject>

#include "recover/carver.h"

class DisplayControl;

namespace ui {

class RunPlayer : public QObject {
    Q_OBJECT
public:
    explicit RunPlayer(DisplayControl* display, QObject* parent = nullptr);
    // Stops and waits for the thread.
    ~RunPlayer() override;

    // Plays the run from its first GOP; a run already playing stops first.
    void play(const recover::RecoveredRun& run);
    void stop();
    bool playing() const { return playing_; }
    // Frames handed to the display since the last play.
    int frames_shown() const { return frames_; }
    // GOPs that could not be read again or no longer held whole frames.
    int gops_skipped() const { return skipped_; }

signals:
    // The recorder time of the frame just shown.
    void position(quint32 time);
    void ended();

private:
    void run(recover::RecoveredRun run);
    // Waits until `due` or a stop; false on a stop.
    bool wait_until(std::chrono::steady_clock::time_point due);

    DisplayControl* display_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<bool> playing_{false};
    std::atomic<int> frames_{0};
    std::atomic<int> skipped_{0};
};

} // namespace ui
