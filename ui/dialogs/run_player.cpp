#include "ui/dialogs/run_player.h"

#include <algorithm>
#include <vector>

#include <QMetaObject>

#include "playback/display_control.h"
#include "recover/recovered_frames.h"

namespace ui {
namespace {

using Clock = std::chrono::steady_clock;

// A gap in the recording is not waited out: longer pauses are cut to this.
constexpr int64_t kLongestWaitMs = 1000;

int64_t ms_of(uint32_t time, uint16_t ms) { return int64_t{time} * 1000 + ms; }

} // namespace

RunPlayer::RunPlayer(DisplayControl* display, QObject* parent) : QObject(parent), display_(display) {}

RunPlayer::~RunPlayer() { stop(); }

void RunPlayer::play(const recover::RecoveredRun& run) {
    stop();
    frames_ = 0;
    skipped_ = 0;
    stop_ = false;
    playing_ = true;
    thread_ = std::thread([this, run] { this->run(run); });
}

void RunPlayer::stop() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    playing_ = false;
}

bool RunPlayer::wait_until(Clock::time_point due) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_until(lock, due, [this] { return stop_; });
}

void RunPlayer::run(recover::RecoveredRun run) {
    const uint32_t picture = static_cast<uint32_t>(run.width) << 16 | static_cast<uint32_t>(run.height);
    Clock::time_point at = Clock::now();
    int64_t previous = -1;
    std::vector<uint8_t> record;
    for (const recover::RecoveredGop& gop : run.gops) {
        if (recover::recover_read_gop(gop, &record) != 0) {
            ++skipped_;
            continue;
        }
        const auto frames = recover::gop_frames(record);
        if (!frames) {
            ++skipped_;
            continue;
        }
        for (const recover::RecoveredFrame& f : *frames) {
            const int64_t now = ms_of(f.time, f.ms);
            if (previous >= 0)
                at += std::chrono::milliseconds(std::clamp<int64_t>(now - previous, 0, kLongestWaitMs));
            previous = now;
            if (!wait_until(at))
                return;
            display_->frame(f.data, f.time, f.ms, DisplayFrameKind::Video,
                            static_cast<uint32_t>(f.length), f.key ? picture : 0, 0);
            ++frames_;
            const quint32 shown = f.time;
            QMetaObject::invokeMethod(this, [this, shown] { emit position(shown); },
                                      Qt::QueuedConnection);
        }
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            playing_ = false;
            emit ended();
        },
        Qt::QueuedConnection);
}

} // namespace ui
