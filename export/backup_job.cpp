#include "export/backup_job.h"

#include <algorithm>
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

std::vector<ExportReadFailure> BackupJob::read_failures() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return read_failures_;
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

void BackupJob::set_container(ExportFormat format, ContainerFactory factory) {
    if (!active_) maker_.set_container(format, factory);
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
    mask_ = mask;
    from_ = from;
    to_ = to;
    part_ = 0;
    fruitless_restarts_ = 0;
    first_file_ = maker_.opened().size();
    report_ = ExportReport{};
    fill_report_case();
    sources_.clear();
    report_.source = export_source_now();
    started_ = export_report_clock_now();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        report_written_.clear();
        read_failures_.clear();
    }
    arm_engine(from);
    maker_.setup(this, date_of(from), date_of(to), mask, folder, api_display_channels(),
                 part_.load());
    for (auto& b : bytes_) b = 0;
    accepted_ = 0;
    active_ = true;
    stopping_ = false;
    if (api_set_play_mode(PM_PLAY) != PM_PLAY) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            error_ = "the engine refused the channels";
        }
        do_stop();
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
    // A frame to decode but not to show comes only from a step back, never in an export; a
    // file must not hold it twice.
    if (stopping_ || !active_ || kind == FRAME_KIND_PREROLL) return;
    const int32_t shown = api_display_channels();
    const int32_t c = slot >= shown ? slot - shown : slot;
    if (c < 0 || c >= CAvimaker::kChannels) return;
    // Every record goes to the job: a channel's files start at its first key frame in the span,
    // which the job waits for itself.
    maker_.on_record(slot, time, msec % 1000, data, length, kind, picture_size);
    if (kind == FRAME_KIND_VIDEO) sources_.note(c, slot, time, msec);
    bytes_[c] += static_cast<uint64_t>(length);
    ++accepted_;
    last_time_ = time;
    // A split ends each channel's part at its next key frame, so that every frame lies in
    // exactly one part; the restart comes once every channel has reached one.
    if (bytes_[c] > split_bytes_) maker_.begin_split(time);
    if (maker_.split_ready() && !stopping_) {
        stopping_ = true;
        // The engine stands still until the restart repositions it at the last time seen.
        api_set_play_mode(PM_STOP);
        post({Event::Restart, part_.load()});
    }
}

void BackupJob::on_status(int32_t code, int32_t slot) {
    if (code == PLAYBACK_STATUS_READ_ERROR) {
        take_read_failures(api_display_channels());
        return;
    }
    // While a split or stop is under way the engine may still run on; what it reports then
    // belongs to the run being abandoned.
    if (!active_ || stopping_) return;
    if (code == PLAYBACK_STATUS_NO_DATA) {
        post({Event::NoData});
        return;
    }
    // A channel whose pictures ended may still have sound to deliver: the job ends when the
    // engine has nothing left at all, which it reports a few steps after the last picture.
    if (code == PLAYBACK_STATUS_END) note_read_error(slot, api_display_channels());
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

// The engine's failures are the job's while it runs. A restart reads part of the span again and
// meets the same failures: each span is listed once.
void BackupJob::take_read_failures(int32_t shown) {
    PlaybackReadFailure taken[kReadFailureQueue];
    const int32_t n = api_take_read_failures(taken, kReadFailureQueue);
    if (!active_ || shown <= 0) return;
    std::lock_guard<std::mutex> guard(mutex_);
    for (int32_t i = 0; i < n; ++i) {
        const PlaybackReadFailure& f = taken[i];
        ExportReadFailure e;
        e.audio = f.slot >= shown;
        e.channel = (e.audio ? f.slot - shown : f.slot) + 1;
        e.error = f.error;
        e.failed_at = f.failed_at;
        e.resumed_at = f.resumed_at;
        const bool known = std::any_of(read_failures_.begin(), read_failures_.end(), [&](const auto& k) {
            return k.channel == e.channel && k.audio == e.audio && k.failed_at == e.failed_at &&
                   k.resumed_at == e.resumed_at;
        });
        if (!known) read_failures_.push_back(e);
    }
}

// A failed job says how far its files reach: the recorder time of the last frame written.
std::string BackupJob::last_frame_note() const {
    uint32_t last = 0;
    const auto& files = maker_.opened();
    for (size_t i = first_file_; i < files.size(); ++i) {
        const PlacementStats& p = files[i].stats.placement;
        if (p.frames_written > 0 && p.last_frame.time_stamp > last) last = p.last_frame.time_stamp;
    }
    return last != 0 ? "; last frame written at " + export_time_text(last) : "; no frame written";
}

void BackupJob::name_last_frame() {
    const std::string note = last_frame_note();
    std::lock_guard<std::mutex> guard(mutex_);
    if (!error_.empty()) error_ += note;
}

void BackupJob::handle(const Posted& p) {
    switch (p.event) {
        case Event::Notification:
            if (p.wparam == kBackupNotifyProgress) {
                hooks_->progress(p.lparam);
            } else if (active_ && p.lparam == kBackupSpanEnd) {
                finish_or_split();
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
        case Event::NoData:
            if (active_) finish_or_split();
            break;
        case Event::Restart:
            // The span's end may have restarted the job for this split already: a second
            // restart would read the last part's frames into one more part.
            if (active_ && p.wparam == part_) restart();
            break;
    }
}

// The recording or the span has ended. While a split is under way, channels whose part already
// ended at a key frame have frames after it that no file holds yet: the next part takes them.
void BackupJob::finish_or_split() {
    if (maker_.splitting()) {
        restart();
    } else {
        do_stop();
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
    // After a split the engine goes back to the earliest cut and each channel resumes at its
    // own; after a failed write it resumes at the last time seen.
    maker_.force_cuts();
    const CAvimaker::Cuts resume = maker_.splitting() ? maker_.cuts() : CAvimaker::Cuts{};
    maker_.reset();
    hash_finished_files();
    make_side_files();
    hooks_->clear_pictures();
    uint32_t from = last_time_ != 0 ? last_time_.load() : from_;
    for (const FrameTime& cut : resume) {
        if (cut.time_stamp != 0 && cut.time_stamp < from) from = cut.time_stamp;
    }
    arm_engine(from);
    ++part_;
    maker_.setup(this, date_of(from_), date_of(to_), mask_, folder_, api_display_channels(),
                 part_.load(), resume);
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
        hash_finished_files();
        note_failed_writes();
        note_unfinished_files();
        make_side_files();
        name_last_frame();
        write_report();
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
        if (error_.empty())
            error_ = "finishing " + files[i].prefix + export_format_name(files[i].format) +
                     " failed (is the disk full?)";
        return;
    }
}

// What each file holds. The span's seconds without video are counted in the file that holds
// them: before a channel's first frame in its first file, after its last frame in its last.
std::vector<ExportFileEntry> BackupJob::file_entries() const {
    const auto& files = maker_.opened();
    std::vector<ExportFileEntry> entries;
    for (size_t i = first_file_; i < files.size(); ++i) {
        const CAvimaker::FileSet& f = files[i];
        const PlacementStats& p = f.stats.placement;
        ExportFileEntry e;
        e.channel = f.channel + 1;
        e.part = f.part;
        e.prefix = f.prefix;
        e.fps = f.pal ? kFpsPal : kFpsNtsc;
        e.format = export_format_name(f.format);
        if (f.format != ExportFormat::Avi) e.streams = f.streams;
        ExportFileCounts& c = e.counts;
        c.stored_frames = p.frames_written;
        c.empty_frames = p.empty_frames;
        c.dropped_frames = p.frames_dropped + f.stats.ring.dropped + f.stats.collector.overflow_dropped;
        c.refused_frames = f.refused + f.stats.collector.refused;
        c.audio_bytes = p.audio_bytes;
        c.seconds = p.seconds;
        c.first_frame = p.first_frame;
        c.last_frame = p.last_frame;
        c.seconds_without_video = p.hole_seconds;
        e.failed_writes = f.stats.failed_writes;
        if (i < side_made_.size()) e.side_files = side_made_[i];
        entries.push_back(e);
    }
    for (int ch = 0; ch < CAvimaker::kChannels; ++ch) {
        ExportFileEntry* first = nullptr;
        ExportFileEntry* last = nullptr;
        for (ExportFileEntry& e : entries) {
            if (e.channel != ch + 1 || e.counts.stored_frames == 0) continue;
            if (first == nullptr) first = &e;
            last = &e;
        }
        if (first == nullptr) continue;
        first->counts.seconds_without_video += first->counts.first_frame.time_stamp - from_;
        if (to_ > last->counts.last_frame.time_stamp)
            last->counts.seconds_without_video += to_ - last->counts.last_frame.time_stamp;
    }
    return entries;
}

// The report is written whether the job succeeded or not, and names only files that are there.
void BackupJob::write_report() {
    report_.from = from_;
    report_.to = to_;
    report_.channel_mask = mask_;
    report_.split_bytes = split_bytes_;
    report_.files = file_entries();
    report_.error = error();
    report_.read_failures = read_failures();
    report_.digests = hasher_.wait();
    report_.job_ended = export_pc_clock_now();
    std::string failure, written;
    const int32_t rc = write_export_report(folder_, report_, &failure, started_, &written);
    std::lock_guard<std::mutex> guard(mutex_);
    report_written_ = written;
    if (rc != 0 && error_.empty()) error_ = failure + last_frame_note();
}

// Beside each file finished since the last call: the list of the GOPs its frames came from, and
// what the installed maker adds. A file that cannot be traced fails the job: its report would
// promise a check that cannot be made.
void BackupJob::make_side_files() {
    const auto& files = maker_.opened();
    const size_t done = side_made_.size();
    side_made_.resize(files.size());
    for (size_t i = std::max(done, first_file_); i < files.size(); ++i) {
        const CAvimaker::FileSet& f = files[i];
        const std::string media = f.prefix + export_format_name(f.format);
        std::error_code ec;
        if (!std::filesystem::is_regular_file(media, ec)) continue;
        std::string failure;
        const PlacementStats& p = f.stats.placement;
        const std::vector<GopTrace> gops =
            p.frames_written > 0 ? sources_.within(f.channel, p.first_frame, p.last_frame)
                                 : std::vector<GopTrace>{};
        if (write_gop_sources(media + kSourcesSuffix, gops, f.channel + 1, &failure) == 0) {
            side_made_[i].push_back({"sources", media + kSourcesSuffix});
        }
        if (p.frames_written > 0) sources_.drop_before(f.channel, p.last_frame);
        if (const uint64_t lost = sources_.unplaced(f.channel); lost > 0 && failure.empty()) {
            failure = std::to_string(lost) + " frames came from GOPs whose place on the disk is not known";
        }
        if (side_files_ != nullptr) {
            for (ExportSideFile& made : side_files_->make(media, &failure)) side_made_[i].push_back(made);
        }
        if (!failure.empty()) {
            std::lock_guard<std::mutex> guard(mutex_);
            if (error_.empty()) error_ = "making the files beside " + media + " failed: " + failure;
        }
    }
}

std::string BackupJob::report_path() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return report_written_;
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
