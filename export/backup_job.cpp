#include "export/backup_job.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "disk/disk.h"
#include "playback/stream_reader.h"
#include "storage/api_state.h"

namespace {

std::atomic<BackupJob*>& installed() {
    static std::atomic<BackupJob*> job{nullptr};
    return job;
}

DateTime date_of(uint32_t t) {
    DateTime d{};
    time_to_systemtime(t, &d);
    return d;
}

}  // namespace

BackupJob::BackupJob(BackupJobHooks* hooks, uint64_t split_bytes)
    : hooks_(hooks != nullptr ? hooks : &default_hooks_), split_bytes_(split_bytes) {}

BackupJob::~BackupJob() {
    if (active_) do_stop();
    if (installed().load() == this) installed().store(nullptr);
}

void BackupJob::install(BackupJob* job) { installed().store(job); }

void BackupJob::frame_callback(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data,
                               int32_t length, int32_t kind, uint32_t picture_size) {
    if (BackupJob* job = installed().load()) job->on_frame(slot, time, msec, data, length, kind, picture_size);
}

void BackupJob::status_callback(int32_t code, int32_t slot) {
    if (BackupJob* job = installed().load()) job->on_status(code, slot);
}

bool BackupJob::active() const { return active_; }

std::string BackupJob::error() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return error_;
}

void BackupJob::post(Posted p) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        queue_.push_back(p);
    }
    posted_.notify_all();
}

void BackupJob::backup_notification(int32_t wparam, int32_t lparam) {
    post({Event::Notification, wparam, lparam});
}

void BackupJob::arm_engine(uint32_t from) {
    api_set_no_pacing(1);
    api_set_channel_mask(mask_);
    api_play_from(from);
}

int32_t BackupJob::start(uint32_t from, uint32_t to, uint32_t mask, const std::string& folder) {
    if (mask == 0 || to < from) return -1;
    hooks_->mute_display();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
        std::lock_guard<std::mutex> guard(mutex_);
        error_ = "cannot create the folder " + folder;
        return -1;
    }
    api_set_play_mode(PM_STOP);
    quiesce_engine();
    hooks_->clear_pictures();
    folder_ = folder;
    mask_ = live_mask_ = mask;
    from_ = from;
    to_ = to;
    part_ = 0;
    fruitless_restarts_ = 0;
    first_file_ = maker_.opened().size();
    arm_engine(from);
    maker_.setup(this, date_of(from), date_of(to), mask, folder, api_display_channels(), part_);
    for (auto& b : bytes_) b = 0;
    accepted_ = 0;
    active_ = true;
    stopping_ = false;
    if (api_set_play_mode(PM_PLAY) != PM_PLAY) {
        do_stop();
        std::lock_guard<std::mutex> guard(mutex_);
        error_ = "the engine refused the channels";
        return -1;
    }
    return 0;
}

// No record is handed to the job any more once the playback thread has run a whole pass after
// the play mode changed: a pass that read the old mode before the change may still be running
// when the mode is set, and it holds the API lock for all its callbacks.
void BackupJob::quiesce_engine() {
    ApiState& st = api_state();
    const uint64_t seen = st.passes;
    // A thread that stands still (no channels, or a search running) hands nothing over.
    for (int i = 0; i < 400 && st.running && st.channel_mask != 0 && !st.search_busy &&
                    st.passes < seen + 2;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::lock_guard<std::mutex> guard(st.lock);
}

void BackupJob::on_frame(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data,
                         int32_t length, int32_t kind, uint32_t picture_size) {
    if (stopping_ || !active_) return;
    const int32_t shown = api_display_channels();
    const int32_t c = slot >= shown ? slot - shown : slot;
    if (c < 0 || c >= CAvimaker::kChannels) return;
    // Every record goes to the job: a channel's files start at its first key frame in the span,
    // which the job waits for itself.
    maker_.on_record(slot, time, msec % 1000, data, length, kind, picture_size);
    bytes_[c] += static_cast<uint64_t>(length);
    ++accepted_;
    last_time_ = time;
    if (bytes_[c] > split_bytes_ && !stopping_) {
        stopping_ = true;
        // The engine stands still until the restart repositions it at the last time seen.
        api_set_play_mode(PM_STOP);
        post({Event::Restart});
    }
}

void BackupJob::on_status(int32_t code, int32_t slot) {
    // While a split or stop is under way the engine may still run on; what it reports then
    // belongs to the run being abandoned.
    if (!active_ || stopping_) return;
    if (code == PLAYBACK_STATUS_NO_DATA) {
        post({Event::Stop});
        return;
    }
    const int32_t shown = api_display_channels();
    if (code == PLAYBACK_STATUS_END) note_read_error(slot, shown);
    if (code != PLAYBACK_STATUS_END || slot < 0 || slot >= shown) return;
    // A channel that ran out of data leaves the job; with none left the job ends.
    std::lock_guard<std::mutex> guard(mutex_);
    live_mask_ &= ~(1u << slot);
    if (live_mask_ == 0) {
        queue_.push_back({Event::Stop});
        posted_.notify_all();
    }
}

// A channel whose reads failed ends like one whose recording ended; its files keep what was
// read, but the job must not pass for a whole export.
void BackupJob::note_read_error(int32_t slot, int32_t shown) {
    const int32_t code = stream_reader_read_error(slot);
    if (code >= 0 || shown <= 0) return;
    const int32_t channel = (slot >= shown ? slot - shown : slot) + 1;
    std::lock_guard<std::mutex> guard(mutex_);
    if (!error_.empty()) return;
    error_ = "reading channel " + std::to_string(channel) + " failed after " +
             dvrfs_time_string(last_time_, 0) + ": " + dvrfs_strerror(code);
}

void BackupJob::handle(const Posted& p) {
    switch (p.event) {
        case Event::Notification:
            if (p.wparam == kBackupNotifyProgress) {
                hooks_->progress(p.lparam);
            } else if (active_ && p.lparam == kBackupSpanEnd) {
                do_stop();
            } else if (active_ && p.lparam == kBackupCreateFailed) {
                {
                    std::lock_guard<std::mutex> guard(mutex_);
                    error_ = "AVI file create faile.";
                }
                do_stop();
                hooks_->create_failed();
            } else if (active_ && p.lparam == kBackupWriteFailed) {
                restart();
            }
            break;
        case Event::Stop:
            if (active_) do_stop();
            break;
        case Event::Restart:
            if (active_) restart();
            break;
    }
}

void BackupJob::restart() {
    // A write that fails again before anything was written means the disk is full.
    if (accepted_ == 0 && ++fruitless_restarts_ > kMaxFruitlessRestarts) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            error_ = "writing the AVI files failed again after a restart (is the disk full?)";
        }
        do_stop();
        return;
    }
    if (accepted_ != 0) fruitless_restarts_ = 0;
    stopping_ = true;
    api_set_play_mode(PM_STOP);
    api_set_no_pacing(0);
    quiesce_engine();
    maker_.reset();
    hooks_->clear_pictures();
    live_mask_ = mask_;
    arm_engine(last_time_ != 0 ? last_time_.load() : from_);
    ++part_;
    maker_.setup(this, date_of(from_), date_of(to_), mask_, folder_, api_display_channels(), part_);
    for (auto& b : bytes_) b = 0;
    accepted_ = 0;
    // Records are taken again before the engine runs, or its first frames would be lost.
    active_ = true;
    stopping_ = false;
    api_set_play_mode(PM_PLAY);
}

void BackupJob::do_stop() {
    stopping_ = true;
    hooks_->restore_display();
    api_set_play_mode(PM_STOP);
    quiesce_engine();
    api_set_channel_mask(0);
    api_set_no_pacing(0);
    if (active_) {
        maker_.reset();
        note_unfinished_files();
    }
    active_ = false;
    hooks_->ended();
    part_ = 0;
    for (auto& b : bytes_) b = 0;
}

// A file whose last chunks, index or header did not reach the disk is damaged even though every
// write before seemed to succeed: the job must not end as a success.
void BackupJob::note_unfinished_files() {
    const auto& files = maker_.opened();
    for (size_t i = first_file_; i < files.size(); ++i) {
        if (!files[i].stats.finish_failed) continue;
        std::lock_guard<std::mutex> guard(mutex_);
        if (error_.empty()) error_ = "finishing " + files[i].prefix + "avi failed (is the disk full?)";
        return;
    }
}

void BackupJob::stop() { post({Event::Stop}); }

bool BackupJob::process(int timeout_ms) {
    std::unique_lock<std::mutex> guard(mutex_);
    posted_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [&] { return !queue_.empty(); });
    while (!queue_.empty()) {
        const Posted p = queue_.front();
        queue_.pop_front();
        guard.unlock();
        handle(p);
        guard.lock();
    }
    return active_;
}
