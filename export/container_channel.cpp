#include "export/container_channel.h"

#include <unistd.h>

#include <algorithm>

#include "export/export_case.h"
#include "export/new_file.h"
#include "export/sami.h"

namespace {

constexpr int64_t kSamplesPerMs = ContainerWriter::kAudioRate / 1000;

DateTime date_of(uint32_t t) {
    DateTime d{};
    time_to_systemtime(t, &d);
    return d;
}

}  // namespace

ContainerChannel::~ContainerChannel() {
    finish();
}

int32_t ContainerChannel::open(const std::string& prefix, ExportFormat format,
                               ContainerFactory factory, const ContainerHeader& header,
                               FrameTime first, ExportNotify* owner) {
    finish();
    stats_ = {};
    streams_.clear();
    second_.clear();
    any_second_ = false;
    last_pts_ = -1;
    caption_end_ = 0;
    audio_next_ = 0;
    any_audio_ = false;
    base_ = first;
    owner_ = owner;
    if (factory == nullptr || format == ExportFormat::Avi) return 0;
    std::unique_ptr<ContainerWriter> writer = factory(format);
    if (writer == nullptr) return 0;

    const bool dotted = !prefix.empty() && prefix.back() == '.';
    const std::string stem = dotted ? prefix.substr(0, prefix.size() - 1) : prefix;
    const std::string ext = std::string(dotted ? "." : "") + export_format_name(format);
    std::vector<int> fds;
    std::string numbered;
    if (new_file_create_set(stem, {ext}, &fds, &numbered, nullptr) != 0) return 0;
    // The name is claimed; the container library writes the file by its name.
    for (int fd : fds) ::close(fd);
    const std::string path = numbered + ext;
    if (writer->open(path, header) != 0) {
        ::unlink(path.c_str());
        return 0;
    }
    writer_ = std::move(writer);
    path_ = path;
    prefix_ = numbered + (dotted ? "." : "");
    return 1;
}

int64_t ContainerChannel::relative_ms(uint32_t second, int32_t ms) const {
    return (int64_t{second} - base_.time_stamp) * 1000 + ms - base_.milliseconds;
}

void ContainerChannel::failed() {
    ++stats_.failed_writes;
    if (owner_ != nullptr) owner_->backup_notification(kBackupNotifyEnd, kBackupWriteFailed);
}

void ContainerChannel::caption(int64_t start, int64_t end, const std::string& text) {
    start = std::max(start, caption_end_);
    if (end <= start) return;
    if (writer_->write_caption(start, end, text) != 0) failed();
    caption_end_ = end;
}

void ContainerChannel::video(FrameTime t, const uint8_t* data, int32_t length, bool key) {
    if (writer_ == nullptr || data == nullptr || length <= 0) return;
    if (!second_.empty() &&
        (second_.front().t.time_stamp != t.time_stamp || second_.size() >= kMaxHeldFrames)) {
        flush_second();
    }
    Held h;
    h.t = t;
    h.key = key;
    h.data.assign(data, data + length);
    second_.push_back(std::move(h));
}

// One recorded second: its frames at their own milliseconds, or spread over the second when
// the recorder stored none; its caption; before it, the caption of a hole since the last one.
void ContainerChannel::flush_second() {
    if (second_.empty()) return;
    const uint32_t s = second_.front().t.time_stamp;
    const int64_t second_start = relative_ms(s, 0);
    // A second held in pieces (kMaxHeldFrames) is captioned and counted once.
    const bool new_second = !any_second_ || s != last_second_;
    if (any_second_ && s > last_second_ + 1) {
        const int64_t missing = int64_t{s} - last_second_ - 1;
        caption(relative_ms(last_second_ + 1, 0), second_start, caption_hole_text(missing));
        stats_.placement.hole_seconds += static_cast<uint64_t>(missing);
        // The file plays through the hole, as an AVI file plays its filler.
        stats_.placement.seconds += static_cast<uint64_t>(missing);
    }
    if (new_second) {
        std::string text = caption_time_text(date_of(s));
        if (clock_offset_) text += "\n" + corrected_time_text(s, *clock_offset_);
        caption(second_start, second_start + 1000, text);
        ++stats_.placement.seconds;
    }

    const bool timed = std::any_of(second_.begin(), second_.end(),
                                   [](const Held& h) { return h.t.milliseconds != 0; });
    const int64_t count = static_cast<int64_t>(second_.size());
    for (int64_t i = 0; i < count; ++i) {
        const Held& h = second_[static_cast<size_t>(i)];
        int64_t pts = timed ? relative_ms(s, h.t.milliseconds) : second_start + i * 1000 / count;
        // Two frames never share a time, and the first frame is time 0.
        pts = std::max({pts, last_pts_ + 1, int64_t{0}});
        if (writer_->write_video(pts, h.data.data(), static_cast<int32_t>(h.data.size()), h.key) !=
            0) {
            failed();
            continue;
        }
        last_pts_ = pts;
        PlacementStats& p = stats_.placement;
        if (p.frames_written == 0) p.first_frame = h.t;
        p.last_frame = h.t;
        ++p.frames_written;
        ++stats_.file_video_frames;
    }
    any_second_ = true;
    last_second_ = s;
    second_.clear();
}

// Sound at its own time, after the sound before it; what lies before the file's first frame is
// left out, as the pictures before it are.
void ContainerChannel::audio(FrameTime t, const uint8_t* data, int32_t length) {
    if (writer_ == nullptr || data == nullptr || length <= 0) return;
    int64_t pts = relative_ms(t.time_stamp, t.milliseconds) * kSamplesPerMs;
    if (any_audio_) pts = std::max(pts, audio_next_);
    any_audio_ = true;
    audio_next_ = pts + length;
    const int64_t skip = pts < 0 ? std::min<int64_t>(-pts, length) : 0;
    if (skip == length) return;
    const int32_t n = length - static_cast<int32_t>(skip);
    if (writer_->write_audio(pts + skip, data + skip, n) != 0) {
        failed();
        return;
    }
    stats_.placement.audio_bytes += static_cast<uint64_t>(n);
    stats_.file_audio_bytes += static_cast<uint64_t>(n);
}

void ContainerChannel::finish() {
    if (writer_ == nullptr) return;
    flush_second();
    if (writer_->finish() != 0) stats_.finish_failed = true;
    streams_ = writer_->streams();
    writer_.reset();
}
