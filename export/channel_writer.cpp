// The channel writer: files, queueing, the writer thread, closing.
#include "export/channel_writer.h"

#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <vector>

#include "export/new_file.h"

// The writer thread's output: the AVI file and the subtitles.
class CAVIFile::Sink final : public StreamSink {
  public:
    explicit Sink(CAVIFile& file) : file_(file) {}
    void video_frame(const uint8_t* data, int32_t length, bool key) override {
        file_.write_frame(data, length, key ? 1 : 0);
    }
    void audio_chunk(const uint8_t* data, int32_t length) override {
        file_.write_audio(data, length);
    }
    void subtitle(std::string_view line) override { file_.write_subtitle(line); }

  private:
    CAVIFile& file_;
};

CAVIFile::CAVIFile(std::chrono::milliseconds room_wait) : ring_(room_wait) {}

// The AVI and SAMI files of a prefix ("...[CH01]10_00_00."), created together under names that
// replace nothing: when either name is taken, both move on to " (2)", " (3)", ... so that they
// keep matching. *chosen receives the prefix of the files made.
int CAVIFile::create_pair(const std::string& prefix, std::string* chosen, std::vector<int>* fds) {
    const bool dotted = !prefix.empty() && prefix.back() == '.';
    const std::string stem = dotted ? prefix.substr(0, prefix.size() - 1) : prefix;
    const std::string dot = dotted ? "." : "";
    std::string numbered;
    if (new_file_create_set(stem, {dot + "avi", dot + "smi"}, fds, &numbered, nullptr) != 0)
        return -1;
    *chosen = numbered + dot;
    return 0;
}

CAVIFile::~CAVIFile() {
    close();
}

int32_t CAVIFile::open(const std::string& prefix) {
    close();
    if (!collector_.allocate()) return 0;
    if (!ring_.allocate()) {
        collector_.release();
        return 0;
    }
    ring_.reset();
    failed_writes_ = 0;
    {
        std::lock_guard<std::mutex> guard(stats_lock_);
        collector_stats_ = {};
        placement_stats_ = {};
        file_video_frames_ = 0;
        file_audio_bytes_ = 0;
        finish_failed_ = false;
    }
    avi_ = std::make_unique<avi_out>();
    std::vector<int> fds;
    // Buffered writes and a spilled index: few large writes, and memory that stays flat over
    // an export of any length.
    if (create_pair(prefix, &prefix_, &fds) != 0 ||
        avi_out_create_fd(avi_.get(), fds[0], prefix_ + "avi") != 0 || !sami_.adopt(fds[1]) ||
        avi_out_set_buffering(avi_.get(), kWriteBuffer, true) != 0) {
        if (fds.size() == 2 && !sami_.is_open()) ::close(fds[1]);
        close();
        return 0;
    }
    sami_.write(sami_header(prefix_));
    open_ = true;
    return 1;
}

void CAVIFile::resume() {
    if (!open_ || thread_.joinable()) return;
    ring_.reset();
    ring_.start_writer();
    stopping_ = false;
    try {
        thread_ = std::thread(&CAVIFile::thread_main, this);
    } catch (const std::system_error&) {
        // No writer: producers must not wait for one.
        ring_.stop();
    }
}

void CAVIFile::set_pal(int32_t pal) {
    pal_ = pal != 0 ? 1 : 0;
}

void CAVIFile::set_owner(ExportNotify* owner) {
    owner_ = owner;
}

int32_t CAVIFile::queue_video(const ExportRecord* record) {
    if (record == nullptr || record->length < 0 || (record->length > 0 && record->data == nullptr))
        return 0;
    if (!open_) return 0;
    QueuedHeader h{};
    h.kind = kRecordVideo;
    h.channel = record->channel;
    h.time_stamp = record->time_stamp;
    h.key = record->key;
    h.length = record->length;  // the ring refuses what is too long; nothing is cut
    h.time = record->time;
    return ring_.push(h, record->data) ? 1 : 0;
}

int32_t CAVIFile::queue_audio(const uint8_t* data, int32_t length, const DateTime* time) {
    if (data == nullptr || time == nullptr || length < 0) return 0;
    if (!open_) return 0;
    // Audio carries its time only in the date/time record; time stamp 0 keeps it in the
    // second being collected.
    QueuedHeader h{};
    h.kind = kRecordAudio;
    h.length = length;
    h.time = *time;
    return ring_.push(h, data) ? 1 : 0;
}

int32_t CAVIFile::write_frame(const uint8_t* data, int32_t length, int32_t key) {
    if (!open_ || !avi_ || avi_->mode != AVI_OUT_WRITING || length < 0) return 0;
    if (avi_out_write_frame(avi_.get(), data, static_cast<size_t>(length), key != 0) == 0) return 1;
    return write_failed();
}

int32_t CAVIFile::write_audio(const uint8_t* data, int32_t length) {
    if (!open_ || !avi_ || avi_->mode != AVI_OUT_WRITING || length < 0) return 0;
    if (avi_out_write_audio(avi_.get(), data, static_cast<size_t>(length)) == 0) return 1;
    return write_failed();
}

int32_t CAVIFile::write_failed() {
    // Every failed write is reported: the owner decides whether to start the next part.
    ++failed_writes_;
    if (ExportNotify* owner = owner_.load()) {
        owner->backup_notification(kBackupNotifyEnd, kBackupWriteFailed);
    }
    return 0;
}

void CAVIFile::write_subtitle(std::string_view line) {
    if (open_) sami_.write(line);
}

void CAVIFile::thread_main() {
    running_ = 1;
    {
        Sink sink(*this);
        SecondPlacer placer(pal_ != 0, sink, &stopping_);
        collector_.clear();
        // The stop signal wins: what is still queued, and the second being collected, is
        // not written.
        while (!ring_.wait_for_work()) {
            QueuedHeader h;
            while (!ring_.stopping() && ring_.front(&h)) {
                uint8_t* slot = collector_.slot_for(h);
                if (slot == nullptr) {
                    ring_.discard();
                    continue;
                }
                ring_.take(slot);
                collector_.commit(placer);
            }
        }
        // Finishing a job: the second being collected is the span's last, and is written too.
        if (flush_last_.load()) collector_.flush(placer);
        std::lock_guard<std::mutex> guard(stats_lock_);
        collector_stats_ = collector_.stats();
        placement_stats_ = placer.stats();
    }
    running_ = 0;
}

void CAVIFile::drain() {
    if (thread_.joinable()) ring_.wait_drained();
}

void CAVIFile::close() {
    stopping_ = true;
    ring_.stop();
    if (thread_.joinable()) thread_.join();
    open_ = false;
    if (avi_) {
        bool failed = avi_->file >= 0 && avi_->mode == AVI_OUT_WRITING &&
                      avi_out_finish(avi_.get()) != 0;
        const uint64_t frames = avi_->video_frames;
        const uint64_t audio = avi_->track_count > 0 ? avi_->tracks[0].bytes_written : 0;
        failed |= avi_out_close(avi_.get()) != 0;
        avi_.reset();
        std::lock_guard<std::mutex> guard(stats_lock_);
        file_video_frames_ = frames;
        file_audio_bytes_ = audio;
        finish_failed_ = failed;
    }
    if (sami_.is_open()) {
        sami_.write(sami_footer());
        sami_.close();
    }
    ring_.release();
    collector_.release();
}

void CAVIFile::finish() {
    if (failed_writes_.load() == 0) {
        drain();
        flush_last_ = true;
    }
    close();
    flush_last_ = false;
}

ChannelWriterStats CAVIFile::stats() const {
    ChannelWriterStats s;
    s.ring = ring_.stats();
    s.failed_writes = failed_writes_.load();
    std::lock_guard<std::mutex> guard(stats_lock_);
    s.collector = collector_stats_;
    s.placement = placement_stats_;
    s.file_video_frames = file_video_frames_;
    s.file_audio_bytes = file_audio_bytes_;
    s.finish_failed = finish_failed_;
    return s;
}
