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
    ExportRecord pending;
    std::unique_ptr<uint8_t[]> buffer;
    CAVIFile writer;
};

CAvimaker::CAvimaker() {
    for (auto& ch : channels_) ch = std::make_unique<Channel>();
}

CAvimaker::~CAvimaker() { reset(); }

void CAvimaker::clear_pending(Channel& ch) {
    ch.pending.kind = kRecordVideo;
    ch.pending.length = 0;
    ch.pending.key = 0;
    if (ch.buffer) std::memset(ch.buffer.get(), 0, kRecordDataMax);
}

void CAvimaker::setup(ExportNotify* owner, const DateTime& start, const DateTime& end,
                      uint32_t mask, const std::string& folder, int32_t audio_slot_offset,
                      int32_t part) {
    if (mask == 0) return;
    for (int c = 0; c < kChannels; ++c) {
        Channel& ch = *channels_[c];
        ch.buffer = std::make_unique<uint8_t[]>(kRecordDataMax);
        ch.pending = ExportRecord{};
        ch.pending.data = ch.buffer.get();
        ch.waiting_for_key = true;
        ch.first_video_time = 0;
        ch.width = ch.height = ch.pal = 0;
    }
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

void CAvimaker::reset() {
    for (auto& ch : channels_) {
        ch->writer.finish();
        ch->buffer.reset();
        ch->pending.data = nullptr;
    }
    for (FileSet& f : opened_) {
        if (f.finished) continue;
        f.stats = channels_[f.channel]->writer.stats();
        f.finished = true;
    }
    armed_ = false;
    done_ = true;
}

void CAvimaker::post(int32_t wparam, int32_t lparam) {
    if (owner_ != nullptr) owner_->backup_notification(wparam, lparam);
}

// The channel's files, named by the span start (and the part after a restart).
bool CAvimaker::open_files(int c, const uint8_t* data, uint32_t picture_size) {
    Channel& ch = *channels_[c];
    ch.width = static_cast<int32_t>(picture_size >> 16);
    ch.height = static_cast<int32_t>(picture_size & 0xFFFF);
    if (ch.width == 0 || ch.height == 0) {
        ch.width = ch.height = 0;
        clear_pending(ch);
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
    if (!fits || ch.writer.open(prefix) != 1) {
        ch.width = ch.height = 0;
        if (!done_) {
            done_ = true;
            post(kBackupNotifyEnd, kBackupCreateFailed);
        }
        return false;
    }
    const bool h264 = data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1;
    avi_out_video_format(ch.writer.avi(), ch.width, ch.height, ch.pal ? 25.0 : 30.0,
                         h264 ? "h264" : "XVID");
    avi_out_audio_format(ch.writer.avi(), 1, 8000, 8, kMuLawTag, 64);
    ch.writer.resume();
    FileSet files;
    files.channel = c;
    files.prefix = prefix;
    files.pal = ch.pal;
    opened_.push_back(std::move(files));
    return true;
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
        if (!done_) {
            done_ = true;
            post(kBackupNotifyEnd, kBackupSpanEnd);
        }
        return 0;
    }
    if (done_) return 0;

    Channel& ch = *channels_[c];
    if (ch.waiting_for_key) {
        if (kind == 1 || picture_size == 0) return 0;
        ch.waiting_for_key = false;
    }
    if (ch.first_video_time == 0) {
        if (kind == 1) return 0;
        ch.first_video_time = time;
    }
    DateTime when{};
    time_to_systemtime(time, &when);
    if (kind != 1) {
        ch.pending.channel = c;
        ch.pending.time = when;
        ch.pending.time.milliseconds = static_cast<uint16_t>(msec);
        ch.pending.time_stamp = time;
        ch.pending.key = picture_size != 0 ? 1 : 0;
        if (time > s && e > s) {
            const int32_t percent = static_cast<int32_t>(uint64_t{time - s} * 100 / (e - s));
            if (percent != last_percent_) {
                last_percent_ = percent;
                if (percent >= 1 && percent <= 100) post(kBackupNotifyProgress, percent);
            }
        }
    }
    if (kind == 1) {
        if (ch.width != 0) ch.writer.queue_audio(data, std::min(length, kAudioBlockMax), &when);
        return 0;
    }
    if (ch.width == 0 || ch.height == 0) {
        if (picture_size == 0 || length < 4) {
            clear_pending(ch);
            return 0;
        }
        if (!open_files(c, data, picture_size)) return 0;
    }
    // Frames longer than the pending buffer are cut to it.
    const int32_t n = std::min(length, kRecordDataMax);
    std::memcpy(ch.pending.data, data, static_cast<size_t>(n));
    ch.pending.length = n;
    ch.pending.kind = kRecordVideo;
    ch.writer.queue_video(&ch.pending);
    return 0;
}
