#include "export/avimaker.h"

#include <cstdio>
#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kMuLawTag = 7;

uint32_t stamp_of(const DateTime& t) {
    uint32_t s = 0;
    systemtime_to_time(&t, &s);
    return s;
}

}  // namespace

struct CAvimaker::Channel {
    uint32_t first_video_time = 0;
    bool waiting_for_key = true;
    int32_t width = 0;
    int32_t height = 0;
    int32_t pal = 0;
    uint64_t refused = 0;  // frames of the current files too long to queue
    // Audio of the latest second that came before the channel's first key frame: the files
    // open at that key frame, and the audio of its second belongs under it.
    std::vector<uint8_t> early_audio;
    uint32_t early_second = 0;
    CAVIFile writer;
    ContainerChannel container;  // instead of the writer, for formats other than AVI
};

CAvimaker::CAvimaker() {
    for (auto& ch : channels_) ch = std::make_unique<Channel>();
}

CAvimaker::~CAvimaker() { reset(); }

void CAvimaker::setup(ExportNotify* owner, const DateTime& start, const DateTime& end,
                      uint32_t mask, const std::string& folder, int32_t audio_slot_offset,
                      int32_t part, const Cuts& resume) {
    if (mask == 0) return;
    for (int c = 0; c < kChannels; ++c) {
        Channel& ch = *channels_[c];
        ch.waiting_for_key = true;
        ch.first_video_time = 0;
        ch.width = ch.height = ch.pal = 0;
        ch.refused = 0;
        ch.early_audio.clear();
        ch.early_second = 0;
    }
    finished_ = 0;
    splitting_ = false;
    split_asked_ = 0;
    cut_mask_ = 0;
    cuts_ = Cuts{};
    resume_ = resume;
    last_taken_ = Cuts{};
    last_percent_ = 0;
    folder_ = folder;
    owner_ = owner;
    start_ = start;
    end_ = end;
    mask_ = mask;
    audio_offset_ = audio_slot_offset;
    part_ = part;
    done_ = false;
    armed_ = true;
}

void CAvimaker::set_container(ExportFormat format, ContainerFactory factory) {
    format_ = format;
    factory_ = factory;
}

void CAvimaker::reset() {
    for (auto& ch : channels_) {
        ch->writer.finish();
        ch->container.finish();
    }
    for (FileSet& f : opened_) {
        if (f.finished) continue;
        const Channel& ch = *channels_[f.channel];
        f.stats = f.format == ExportFormat::Avi ? ch.writer.stats() : ch.container.stats();
        f.streams = ch.container.streams();
        f.refused = channels_[f.channel]->refused;
        f.finished = true;
    }
    armed_ = false;
    done_ = true;
}

void CAvimaker::post(int32_t wparam, int32_t lparam) {
    if (owner_ != nullptr) owner_->backup_notification(wparam, lparam);
}

// The channel's files, named by the span start (and the part after a restart).
// A container file begins with the key frame that opens it; its first frame's time is time 0.
bool CAvimaker::open_container(Channel& ch, const std::string& prefix, const uint8_t* data,
                               int32_t length, FrameTime first) {
    ContainerHeader header;
    header.width = ch.width;
    header.height = ch.height;
    header.h264 = length >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1;
    header.key_frame = data;
    header.key_frame_length = length;
    DateTime d{};
    time_to_systemtime(first.time_stamp, &d);
    char when[64];
    std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", int{d.year},
                  int{d.month}, int{d.day}, int{d.hour}, int{d.minute}, int{d.second},
                  int{first.milliseconds});
    header.creation_time = when;
    ch.container.set_clock_offset(clock_offset_);
    return ch.container.open(prefix, format_, factory_, header, first, owner_) == 1;
}

bool CAvimaker::open_files(int c, const uint8_t* data, int32_t length, uint32_t picture_size,
                           FrameTime first) {
    Channel& ch = *channels_[c];
    ch.width = static_cast<int32_t>(picture_size >> 16);
    ch.height = static_cast<int32_t>(picture_size & 0xFFFF);
    if (ch.width == 0 || ch.height == 0) {
        ch.width = ch.height = 0;
        return false;
    }
    ch.pal = ch.height == 576 || ch.height == 288 ? 1 : 0;
    ch.writer.set_owner(owner_);
    ch.writer.set_pal(ch.pal);
    char prefix[kMaxPath + 64];
    const int n = part_ >= 1
                      ? std::snprintf(prefix, sizeof prefix, "%s/[CH%02d]%02d_%02d_%02d_%d.",
                                      folder_.c_str(), c + 1, start_.hour, start_.minute,
                                      start_.second, part_)
                      : std::snprintf(prefix, sizeof prefix, "%s/[CH%02d]%02d_%02d_%02d.",
                                      folder_.c_str(), c + 1, start_.hour, start_.minute,
                                      start_.second);
    // A name that does not fit is refused whole, never cut into another file's name.
    const bool fits = n > 0 && static_cast<size_t>(n) + 3 <= kMaxPath;
    const bool avi = format_ == ExportFormat::Avi;
    const bool made = fits && (avi ? ch.writer.open(prefix) == 1
                                   : open_container(ch, prefix, data, length, first));
    if (!made) {
        ch.width = ch.height = 0;
        if (!done_) {
            done_ = true;
            post(kBackupNotifyEnd, kBackupCreateFailed);
        }
        return false;
    }
    FileSet files;
    files.channel = c;
    files.part = part_;
    files.format = format_;
    files.pal = ch.pal;
    if (!avi) {
        files.prefix = ch.container.prefix();
        opened_.push_back(std::move(files));
        return true;
    }
    const bool h264 = data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1;
    avi_out_video_format(ch.writer.avi(), ch.width, ch.height, ch.pal ? 25.0 : 30.0,
                         h264 ? "h264" : "XVID");
    avi_out_audio_format(ch.writer.avi(), 1, 8000, 8, kMuLawTag, 64);
    ch.writer.resume();
    files.prefix = ch.writer.prefix();  // the names really made, numbered when taken
    opened_.push_back(std::move(files));
    return true;
}

// The span's end, per channel: a channel is finished by its first frame after the end, so that
// no channel loses the frames of the last second that it delivers after another channel has
// moved on. The job ends when every channel is finished, or once the engine's clock is well
// past the end, for channels that have nothing more to deliver.
void CAvimaker::note_past_end(int c, uint32_t time, uint32_t end) {
    if (c >= 0) finished_ |= 1u << c;
    const bool all = (mask_ & ~finished_) == 0;
    if (!done_ && (all || uint64_t{time} >= uint64_t{end} + kSpanEndGrace)) {
        done_ = true;
        post(kBackupNotifyEnd, kBackupSpanEnd);
    }
}

void CAvimaker::note_progress(uint32_t time, uint32_t s, uint32_t e) {
    if (time <= s || e <= s) return;
    const int32_t percent = static_cast<int32_t>(uint64_t{time - s} * 100 / (e - s));
    if (percent == last_percent_) return;
    last_percent_ = percent;
    if (percent >= 1 && percent <= 100) post(kBackupNotifyProgress, percent);
}

namespace {

bool before(uint32_t time, int32_t msec, const FrameTime& t) {
    return time < t.time_stamp || (time == t.time_stamp && msec < t.milliseconds);
}

}  // namespace

void CAvimaker::begin_split(uint32_t now) {
    if (splitting_) return;
    splitting_ = true;
    split_asked_ = now;
    // A channel without files has nothing to end: the next part starts it where it starts.
    for (int c = 0; c < kChannels; ++c) {
        if (channels_[c]->width == 0) cut_mask_ |= 1u << c;
    }
}

bool CAvimaker::split_ready() const {
    return splitting_ && (mask_ & ~(cut_mask_ | finished_)) == 0;
}

void CAvimaker::cut(int c, FrameTime at) {
    cuts_[c] = at;
    cut_mask_ |= 1u << c;
}

void CAvimaker::force_cuts() {
    if (!splitting_) return;
    for (int c = 0; c < kChannels; ++c) {
        if (!(mask_ & (1u << c)) || (cut_mask_ & (1u << c))) continue;
        FrameTime after = last_taken_[c];
        if (++after.milliseconds > 999) {
            after.milliseconds = 0;
            ++after.time_stamp;
        }
        cut(c, after);
    }
}

// Whether a record lies outside this part: before where the previous part ended, or at or after
// where this one ends. A split ends a channel's part at its next key frame, or, when none comes
// in time, at the frame in hand.
bool CAvimaker::outside_part(int c, uint32_t time, int32_t msec, int32_t kind,
                             uint32_t picture_size) {
    const uint32_t bit = 1u << c;
    if (before(time, msec, resume_[c])) return true;
    if (splitting_ && !(cut_mask_ & bit) && uint64_t{time} >= uint64_t{split_asked_} + kSplitWait)
        force_cuts();
    if (cut_mask_ & bit) return !before(time, msec, cuts_[c]);
    if (!splitting_ || kind == 1 || picture_size == 0) return false;
    cut(c, FrameTime{time, static_cast<uint16_t>(msec)});
    return true;
}

void CAvimaker::hold_early_audio(Channel& ch, uint32_t time, const uint8_t* data, int32_t length) {
    if (time != ch.early_second) ch.early_audio.clear();
    ch.early_second = time;
    // A second of audio is 8000 bytes; more than a few seconds' worth is no second's audio.
    if (ch.early_audio.size() + static_cast<size_t>(length) <= kEarlyAudioMax)
        ch.early_audio.insert(ch.early_audio.end(), data, data + length);
}

int32_t CAvimaker::on_record(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data,
                             int32_t length, int32_t kind, uint32_t picture_size) {
    if (!armed_) return -1;
    if (slot < 0 || slot > 32 || data == nullptr || length < 0) return 0;
    const int c = kind == 1 ? slot - audio_offset_ : slot;
    if (c < 0 || c >= kChannels || !(mask_ & (1u << c))) return 0;

    const uint32_t s = stamp_of(start_), e = stamp_of(end_);
    if (time < s) return 0;
    if (time > e) {
        note_past_end(kind == 1 ? -1 : c, time, e);
        return 0;
    }
    if (done_ || (finished_ & (1u << c))) return 0;
    if (outside_part(c, time, msec, kind, picture_size)) return 0;

    Channel& ch = *channels_[c];
    if (ch.waiting_for_key) {
        if (kind == 1) hold_early_audio(ch, time, data, length);
        if (kind == 1 || picture_size == 0) return 0;
        ch.waiting_for_key = false;
    }
    if (ch.first_video_time == 0) {
        if (kind == 1) return 0;
        ch.first_video_time = time;
    }
    DateTime when{};
    time_to_systemtime(time, &when);
    if (kind == 1) {
        // Queued whole: cutting a block would lose the recording's sound.
        if (ch.container.is_open()) {
            ch.container.audio(FrameTime{time, static_cast<uint16_t>(msec)}, data, length);
        } else if (ch.width != 0) {
            ch.writer.queue_audio(data, length, &when);
        }
        return 0;
    }
    note_progress(time, s, e);
    if (length > kRecordDataMax) {
        // Longer than any frame the engine delivers: refused whole, never cut.
        ++ch.refused;
        return 0;
    }
    if (ch.width == 0 || ch.height == 0) {
        if (picture_size == 0 || length < 4) return 0;
        if (!open_files(c, data, length, picture_size,
                        FrameTime{time, static_cast<uint16_t>(msec)}))
            return 0;
    }
    // The frame is queued whole, straight from the engine's buffer.
    ExportRecord frame;
    frame.kind = kRecordVideo;
    frame.channel = c;
    frame.time = when;
    frame.time.milliseconds = static_cast<uint16_t>(msec);
    frame.time_stamp = time;
    frame.key = picture_size != 0 ? 1 : 0;
    frame.length = length;
    frame.data = const_cast<uint8_t*>(data);
    if (ch.container.is_open()) {
        ch.container.video(FrameTime{time, frame.time.milliseconds}, data, length, frame.key != 0);
    } else {
        ch.writer.queue_video(&frame);  // a record the ring drops is counted there
    }
    last_taken_[c] = FrameTime{time, static_cast<uint16_t>(msec)};
    if (!ch.early_audio.empty()) {
        if (ch.early_second == time && ch.container.is_open()) {
            ch.container.audio(FrameTime{time, 0}, ch.early_audio.data(),
                               static_cast<int32_t>(ch.early_audio.size()));
        } else if (ch.early_second == time) {
            ch.writer.queue_audio(ch.early_audio.data(),
                                  static_cast<int32_t>(ch.early_audio.size()), &when);
        }
        ch.early_audio.clear();
    }
    return 0;
}
