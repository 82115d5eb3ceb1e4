// Record checks and the scan of one block's bytes.
#include "recover/carver_block.h"

#include <cstring>
#include <tuple>

#include "decode/frame_probe.h"
#include "disk/recorder_time.h"
#include "playback/record_format.h"
#include "recover/carver_keyframe.h"

namespace recover {
namespace {

constexpr int kMaxWidth = 720;
constexpr int kMaxHeight = 576;
constexpr uint32_t kMaxMilliseconds = 999;

uint32_t word_at(const uint8_t* data, size_t at) {
    uint32_t w;
    std::memcpy(&w, data + at, sizeof w);
    return w;
}

bool leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap(year) ? 29 : kDays[month - 1];
}

// The frame table's lengths for `count` frames; the caller compares them with the GOP length.
uint64_t frame_table_bytes(const GopHeader& h, uint32_t count) {
    uint64_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) sum += static_cast<uint64_t>(frame_bytes(h.frames[i]));
    return sum;
}

// Every field of the header that can be checked without the bytes after it.
bool gop_header_agrees(const GopHeader& h, GopFields* out) {
    if (h.start_bits != kStartBits) return false;
    if (h.frame_count < 1 || h.frame_count > static_cast<uint32_t>(kMaxGopFrames)) return false;
    if (h.gop_length > static_cast<uint32_t>(kMaxGopLength)) return false;
    if (frame_table_bytes(h, h.frame_count) + kGopHeaderSize != h.gop_length) return false;
    const int width = static_cast<int>(picture_width(h.picture_size));
    const int height = static_cast<int>(picture_height(h.picture_size));
    if (width < 1 || width > kMaxWidth || height < 1 || height > kMaxHeight) return false;
    // Only a key frame can open a GOP.
    const uint32_t key_bytes = static_cast<uint32_t>(frame_bytes(h.frames[0]));
    if (key_bytes == 0 || frame_type(h.frames[0]) != 1) return false;
    if (h.milliseconds > kMaxMilliseconds) return false;
    const uint32_t time = record_seconds(reinterpret_cast<const uint8_t*>(&h.time));
    if (time == 0) return false;
    *out = GopFields{time,          static_cast<int32_t>(h.milliseconds),
                     h.gop_length,  h.previous_length,
                     static_cast<int32_t>(h.frame_count),
                     width,         height,
                     key_bytes};
    return true;
}

// The key of a GOP that passed check_gop: its key frame lies in the buffer.
StreamKey stream_key_of(const uint8_t* record, const GopFields& g) {
    const uint8_t* frame = record + kGopHeaderSize;
    const bool h264 = decode::codec_of(frame, g.key_frame_length) == decode::VideoCodec::H264;
    return StreamKey{h264 ? "h264" : "mpeg4", g.width, g.height,
                     stream_parameters(frame, g.key_frame_length, h264)};
}

// A GOP continues the run when it starts right behind the run's last record, names that record's
// length as its predecessor's, and belongs to the same stream.
bool continues(const FoundRun& run, size_t at, const GopFields& g, const StreamKey& key) {
    const FoundGop& last = run.gops.back();
    return last.offset + last.fields.length + kTrailerSize == at &&
           g.previous_length == last.fields.length && run.key == key;
}

}  // namespace

bool StreamKey::operator<(const StreamKey& o) const {
    return std::tie(codec, width, height, parameters) <
           std::tie(o.codec, o.width, o.height, o.parameters);
}

uint32_t record_seconds(const uint8_t* record_time) {
    RecordTime t;
    std::memcpy(&t, record_time, sizeof t);
    if (t.year < 1970 || t.year > 2105 || t.month < 1 || t.month > 12) return 0;
    if (t.day < 1 || t.day > days_in_month(t.year, t.month)) return 0;
    if (t.hour > 23 || t.minute > 59 || t.second > 59) return 0;
    const int64_t seconds = recorder_from_civil(t.year, t.month, t.day, t.hour, t.minute, t.second);
    if (seconds <= 0 || seconds > INT64_C(0xFFFFFFFF)) return 0;
    const auto time = static_cast<uint32_t>(seconds);
    return time == kInvalidRecordTime ? 0 : time;
}

RecordVerdict check_gop(const uint8_t* data, size_t available, KeyFrameCheck& key,
                        GopFields* out) {
    if (available < static_cast<size_t>(kGopHeaderSize)) return RecordVerdict::None;
    GopHeader h;
    std::memcpy(&h, data, sizeof h);
    GopFields g;
    if (!gop_header_agrees(h, &g)) return RecordVerdict::None;
    const size_t key_end = size_t{kGopHeaderSize} + g.key_frame_length;
    // A key frame cut off is judged by its header alone; one we hold must decode.
    if (key_end <= available &&
        !key.decodes(data + kGopHeaderSize, g.key_frame_length, g.width, g.height)) {
        return RecordVerdict::None;
    }
    if (size_t{g.length} + kTrailerSize > available) return RecordVerdict::Cut;
    if (word_at(data, g.length) != g.length) return RecordVerdict::None;
    *out = g;
    return RecordVerdict::Whole;
}

RecordVerdict check_audio(const uint8_t* data, size_t available, AudioFields* out) {
    if (available < static_cast<size_t>(kAudioHeaderSize)) return RecordVerdict::None;
    AudioHeader h;
    std::memcpy(&h, data, sizeof h);
    if (h.start_bits != kStartBits) return RecordVerdict::None;
    // A sample of 0 is the recorder's end-of-channel mark, not a record.
    if (h.sample < 1 || h.sample > static_cast<uint32_t>(kMaxAudioSample)) {
        return RecordVerdict::None;
    }
    if (h.total_size != h.sample + kAudioHeaderSize) return RecordVerdict::None;
    if (h.milliseconds > kMaxMilliseconds) return RecordVerdict::None;
    const uint32_t time = record_seconds(reinterpret_cast<const uint8_t*>(&h.time));
    if (time == 0) return RecordVerdict::None;
    if (size_t{h.total_size} + kTrailerSize > available) return RecordVerdict::Cut;
    if (word_at(data, h.total_size) != h.total_size) return RecordVerdict::None;
    *out = AudioFields{time, static_cast<int32_t>(h.milliseconds), h.total_size, h.previous_size};
    return RecordVerdict::Whole;
}

void scan_block(const uint8_t* data, size_t begin, size_t end, KeyFrameCheck& key,
                BlockFindings* out) {
    size_t at = (begin + 3) / 4 * 4;
    bool run_open = false;  // the last run may still grow
    while (at < end && end - at >= sizeof(uint32_t)) {
        if (word_at(data, at) != kStartBits) {
            at += 4;
            continue;
        }
        const size_t available = end - at;
        GopFields g;
        const RecordVerdict video = check_gop(data + at, available, key, &g);
        if (video == RecordVerdict::Whole) {
            StreamKey sk = stream_key_of(data + at, g);
            if (!run_open || !continues(out->runs.back(), at, g, sk)) {
                out->runs.push_back(FoundRun{std::move(sk), {}});
            }
            out->runs.back().gops.push_back(FoundGop{at, g});
            run_open = true;
            at += size_t{g.length} + kTrailerSize;
            continue;
        }
        AudioFields a;
        const RecordVerdict audio =
            video == RecordVerdict::Cut ? RecordVerdict::None : check_audio(data + at, available, &a);
        if (audio == RecordVerdict::Whole) {
            out->audio.push_back(FoundAudio{at, a});
            run_open = false;
            at += size_t{a.length} + kTrailerSize;
            continue;
        }
        if (video == RecordVerdict::Cut || audio == RecordVerdict::Cut) ++out->cut_records;
        run_open = false;
        at += 4;
    }
}

}  // namespace recover
