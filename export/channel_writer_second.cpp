// The writer thread's work on each recorder second: holes, lead-in silence, the placement of the
// second's frames, its audio and its subtitle line; and the group slots that collect a second.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <vector>

#include "export/placement.h"
#include "export/sami.h"

SecondPlacer::SecondPlacer(bool pal, StreamSink& sink, const std::atomic<bool>* cancel)
    : fps_(frames_per_second(pal)),
      sink_(sink),
      cancel_(cancel),
      audio_(new uint8_t[kAudioBufferBytes]) {
    std::memset(audio_.get(), kSilenceByte, kAudioBufferBytes);
}

void SecondPlacer::append_audio(const ExportRecord& record) {
    if (record.length <= 0 || record.data == nullptr) return;
    const int32_t room = kAudioBufferBytes - audio_count_;
    const int32_t n = std::min(record.length, room);
    if (n > 0) std::memcpy(audio_.get() + audio_count_, record.data, static_cast<size_t>(n));
    audio_count_ += n;
    stats_.audio_bytes_dropped += static_cast<uint64_t>(record.length - n);
}

void SecondPlacer::write_audio_second() {
    sink_.audio_chunk(audio_.get(), kAudioBytesPerSecond);
    stats_.audio_bytes += static_cast<uint64_t>(std::min(audio_count_, kAudioBytesPerSecond));
    const int32_t used = std::max(audio_count_, kAudioBytesPerSecond);
    int32_t kept = 0;
    if (audio_count_ > kAudioBytesPerSecond) {
        kept = audio_count_ - kAudioBytesPerSecond;
        std::memmove(audio_.get(), audio_.get() + kAudioBytesPerSecond, static_cast<size_t>(kept));
    }
    // Behind the kept bytes the buffer is silence again, so that a short next second never
    // repeats stale audio. Bytes past `used` were never written since the last refill.
    std::memset(audio_.get() + kept, kSilenceByte, static_cast<size_t>(used - kept));
    audio_count_ = kept;
}

void SecondPlacer::queue_later_audio(uint32_t second, const uint8_t* data, int32_t length) {
    if (length <= 0) return;
    if (later_bytes_ + static_cast<size_t>(length) > kLaterAudioMax) {
        stats_.audio_bytes_dropped += static_cast<uint64_t>(length);
        return;
    }
    later_audio_.push_back({second, std::vector<uint8_t>(data, data + length)});
    later_bytes_ += static_cast<size_t>(length);
}

// Audio that came ahead of its second's pictures goes under its own second when that is written.
void SecondPlacer::take_later_audio(uint32_t second) {
    while (!later_audio_.empty() && later_audio_.front().second <= second) {
        const std::vector<uint8_t>& bytes = later_audio_.front().bytes;
        ExportRecord r;
        r.kind = kRecordAudio;
        r.length = static_cast<int32_t>(bytes.size());
        r.data = const_cast<uint8_t*>(bytes.data());
        append_audio(r);
        later_bytes_ -= bytes.size();
        later_audio_.pop_front();
    }
}

void SecondPlacer::write_hole(uint32_t first_second, int64_t seconds) {
    for (int64_t s = 0; s < seconds; ++s) {
        // A hole can be hours long; closing the file must not wait for all of it.
        if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) return;
        take_later_audio(static_cast<uint32_t>(first_second + s));
        for (int f = 0; f < fps_; ++f) sink_.video_frame(nullptr, 0, false);
        stats_.empty_frames += static_cast<uint64_t>(fps_);
        sink_.audio_chunk(audio_.get(), kAudioBytesPerSecond);
        stats_.audio_bytes += static_cast<uint64_t>(std::min(audio_count_, kAudioBytesPerSecond));
        if (audio_count_ > kAudioBytesPerSecond) {
            stats_.audio_bytes_dropped +=
                static_cast<uint64_t>(audio_count_ - kAudioBytesPerSecond);
        }
        std::memset(audio_.get(), kSilenceByte,
                    static_cast<size_t>(std::max(audio_count_, kAudioBytesPerSecond)));
        audio_count_ = 0;
        ++stats_.seconds;
        ++stats_.hole_seconds;
    }
}

void SecondPlacer::place_group(std::span<const ExportRecord> group, const ExportRecord& next) {
    if (group.empty()) return;
    const ExportRecord& head = group.front();
    write_second(group);
    // Between seconds t and t + d the file holds d - 1 filler seconds, so that every caption
    // stands under the pictures of the second it names.
    const int64_t d = int64_t{next.time_stamp} - int64_t{head.time_stamp};
    if (d >= 2) {
        sink_.subtitle(sami_hole_caption(offset_ + 1, d - 1));
        write_hole(head.time_stamp + 1, d - 1);
        if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) return;
    }
    uint32_t next_time = 0;
    systemtime_to_time(&next.time, &next_time);
    offset_ = int64_t{next_time} - int64_t{first_time_};
    sink_.subtitle(sami_second_caption(offset_, next.time, last_video_, last_audio_));
}

void SecondPlacer::place_last(std::span<const ExportRecord> group) {
    if (!group.empty()) write_second(group);
    // Sound after the last picture has no second in the file.
    stats_.audio_bytes_dropped += later_bytes_;
    later_audio_.clear();
    later_bytes_ = 0;
}

// One recorder second: its first fps frames placed at the constant rate, and its audio.
void SecondPlacer::write_second(std::span<const ExportRecord> group) {
    const ExportRecord& head = group.front();
    if (first_) {
        sink_.subtitle(sami_first_caption(head.time));
        systemtime_to_time(&head.time, &first_time_);
        first_ = false;
    }
    std::array<const ExportRecord*, kMaxFps> used{};
    std::array<uint16_t, kMaxFps> milliseconds{};
    int video = 0;
    int audio = later_audio_.empty() || later_audio_.front().second > head.time_stamp ? 0 : 1;
    take_later_audio(head.time_stamp);
    for (const ExportRecord& r : group) {
        if (r.kind == kRecordAudio) {
            ++audio;
            append_audio(r);
        } else if (video < fps_) {
            used[static_cast<size_t>(video)] = &r;
            milliseconds[static_cast<size_t>(video)] = r.time.milliseconds;
            ++video;
        } else {
            ++stats_.frames_dropped;
        }
    }
    // Milliseconds are trusted when the last used frame has them.
    const bool by_ms = video > 0 && milliseconds[static_cast<size_t>(video - 1)] != 0;
    const Placement p = by_ms
                            ? place_by_milliseconds(
                                  std::span(milliseconds.data(), static_cast<size_t>(video)), fps_)
                            : place_evenly(video, fps_);
    int placed = 0;
    for (int i = 0; i < p.count; ++i) {
        const int16_t e = p.video[static_cast<size_t>(i)];
        if (e == kEmptyFrame) {
            sink_.video_frame(nullptr, 0, false);
            ++stats_.empty_frames;
            continue;
        }
        const ExportRecord* r = used[static_cast<size_t>(e)];
        sink_.video_frame(r->data, r->length, r->key != 0);
        note_frame(*r);
        ++placed;
    }
    stats_.frames_written += static_cast<uint64_t>(placed);
    stats_.frames_dropped += static_cast<uint64_t>(video - placed);
    if (placed == 0) ++stats_.hole_seconds;
    write_audio_second();
    ++stats_.seconds;
    last_video_ = video;
    last_audio_ = audio > 0;
}

void SecondPlacer::note_frame(const ExportRecord& r) {
    const FrameTime t{r.time_stamp, r.time.milliseconds};
    if (!have_frame_) stats_.first_frame = t;
    stats_.last_frame = t;
    have_frame_ = true;
}

// --- Group slots ---------------------------------------------------------------------------------

bool GroupCollector::allocate() {
    release();
    count_ = 0;
    pending_ = starts_next_ = false;
    stats_ = {};
    return true;
}

void GroupCollector::release() {
    for (SlotBuffer& b : buffers_) b = SlotBuffer{};
    for (ExportRecord& s : slots_) s = ExportRecord{};
    count_ = 0;
    pending_ = starts_next_ = false;
}

void GroupCollector::clear() {
    for (size_t i = 0; i < slots_.size(); ++i) {
        slots_[i] = ExportRecord{};
        slots_[i].data = buffers_[i].bytes.get();
    }
    count_ = 0;
    pending_ = starts_next_ = false;
}

// A slot's buffer grows to the largest record it has held, so that memory follows the frames
// a recording really has, not the largest one it could have.
uint8_t* GroupCollector::reserve(size_t i, int32_t length) {
    SlotBuffer& b = buffers_[i];
    const size_t need = static_cast<size_t>(std::max(length, 1));
    if (b.capacity < need) {
        const size_t grown = std::min(std::max(need, b.capacity * 2), size_t{kRecordDataMax});
        b.bytes.reset(new (std::nothrow) uint8_t[grown]);
        b.capacity = b.bytes ? grown : 0;
    }
    slots_[i].data = b.bytes.get();
    return b.bytes.get();
}

uint32_t GroupCollector::audio_second(const QueuedHeader& header) {
    uint32_t second = 0;
    systemtime_to_time(&header.time, &second);
    return second;
}

uint8_t* GroupCollector::slot_for(const QueuedHeader& header) {
    pending_ = false;
    pending_later_ = false;
    if (header.length < 0 || header.length > kRecordDataMax) {
        ++stats_.refused;
        return nullptr;
    }
    if (count_ == 0) {
        // A second starts with a frame: audio ahead of it has no second to go to.
        if (header.kind == kRecordAudio) {
            ++stats_.leading_audio_dropped;
            return nullptr;
        }
        starts_next_ = false;
    } else if (header.kind == kRecordAudio && audio_second(header) > slots_[0].time_stamp) {
        // Sound of a later second, ahead of its pictures (or in a hole of them): it waits for
        // its own second instead of joining this one.
        // The buffer only grows: a record of sound a second would otherwise allocate each time.
        if (later_.size() < static_cast<size_t>(header.length) + 1)
            later_.resize(static_cast<size_t>(header.length) + 1);
        later_second_ = audio_second(header);
        later_length_ = header.length;
        pending_later_ = true;
        return later_.data();
    } else {
        const int64_t d = int64_t{header.time_stamp} - int64_t{slots_[0].time_stamp};
        starts_next_ = header.kind != kRecordAudio && d > 0;
        // The last slot stays free for the record that starts the next second.
        if (!starts_next_ && count_ >= kGroupSlots - 1) {
            ++stats_.overflow_dropped;
            return nullptr;
        }
    }
    const size_t i = static_cast<size_t>(count_);
    uint8_t* data = reserve(i, header.length);
    if (data == nullptr) {
        ++stats_.refused;
        return nullptr;
    }
    ExportRecord& s = slots_[i];
    s.kind = header.kind;
    s.channel = header.channel;
    s.time = header.time;
    s.time_stamp = header.time_stamp;
    s.key = header.key;
    s.length = header.length;
    pending_ = true;
    return data;
}

void GroupCollector::commit(SecondPlacer& placer) {
    if (pending_later_) {
        pending_later_ = false;
        placer.queue_later_audio(later_second_, later_.data(), later_length_);
        return;
    }
    if (!pending_) return;
    pending_ = false;
    ++count_;
    if (!starts_next_) return;
    const size_t last = static_cast<size_t>(count_ - 1);
    placer.place_group(std::span(slots_.data(), last), slots_[last]);
    // The record that opened the next second becomes its slot 0 (buffers swap, nothing copied).
    std::swap(slots_[0], slots_[last]);
    std::swap(buffers_[0], buffers_[last]);
    for (size_t i = 1; i <= last; ++i) {
        slots_[i] = ExportRecord{};
        slots_[i].data = buffers_[i].bytes.get();
    }
    count_ = 1;
}

void GroupCollector::flush(SecondPlacer& placer) {
    if (count_ > 0) placer.place_last(std::span(slots_.data(), static_cast<size_t>(count_)));
    clear();
}

void GroupCollector::add(const QueuedHeader& header, const uint8_t* data, SecondPlacer& placer) {
    uint8_t* slot = slot_for(header);
    if (slot == nullptr) return;
    if (header.length > 0 && data != nullptr) {
        std::memcpy(slot, data, static_cast<size_t>(header.length));
    }
    commit(placer);
}
