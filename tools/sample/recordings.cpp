#include "tools/sample/recordings.h"

#include <algorithm>

namespace sample {
namespace {

// Frame type codes as the recorder writes them: the key frame, then the frames that follow it.
constexpr uint32_t kKeyFrameType = 1;
constexpr uint32_t kOtherFrameType = 2;
// Far beyond the video read buffer, so a reader can only treat it as damage.
constexpr uint32_t kImpossibleLength = 0x7FFFFFF0;
constexpr int kMaxFps = 60;
constexpr int kMaxFramesPerGop = 16;

template <typename T>
std::optional<T> fail(std::string* error, const std::string& message) {
    if (error) *error = message;
    return std::nullopt;
}

bool listed(const std::vector<uint32_t>& seconds, uint32_t second) {
    return std::find(seconds.begin(), seconds.end(), second) != seconds.end();
}

uint64_t ms_of(uint32_t second) {
    return uint64_t{second} * 1000;
}

// [from, to) without the gaps, in time order; empty when a gap is not a span.
std::optional<std::vector<TimeSpan>> recorded_spans(uint32_t from, uint32_t to,
                                                    std::vector<TimeSpan> gaps) {
    std::sort(gaps.begin(), gaps.end());
    std::vector<TimeSpan> spans;
    uint32_t at = from;
    for (const auto& [gap_from, gap_to] : gaps) {
        if (gap_from >= gap_to) return std::nullopt;
        if (gap_from >= to) break;
        if (gap_from > at) spans.emplace_back(at, gap_from);
        at = std::max(at, gap_to);
    }
    if (at < to) spans.emplace_back(at, to);
    return spans;
}

std::string spans_problem(uint32_t from, uint32_t to) {
    return "recording span " + std::to_string(from) + ".." + std::to_string(to) +
           " is empty or a gap ends before it starts";
}

int frames_per_gop(const VideoRecordingSpec& spec) {
    return spec.gop_frames != 0 ? spec.gop_frames
                                : std::clamp((spec.fps + 1) / 2, 1, kMaxFramesPerGop);
}

std::optional<std::string> video_spec_problem(const VideoRecordingSpec& spec,
                                              const VideoEncoder& encoder) {
    if (spec.video_channel < 1 || spec.video_channel > 16) {
        return "video channel must be 1..16: " + std::to_string(spec.video_channel);
    }
    if (spec.width < 1 || spec.width > 720 || spec.height < 1 || spec.height > 576) {
        return "picture size must be at most 720x576";
    }
    if (spec.fps < 1 || spec.fps > kMaxFps) return "frame rate must be 1..60";
    if (spec.gop_frames < 0 || spec.gop_frames > kMaxFramesPerGop) return "GOP must be 1..16 frames";
    if (spec.distinct_gops < 0) return "distinct GOPs must not be negative";
    if (encoder.codec() != spec.codec || encoder.width() != spec.width ||
        encoder.height() != spec.height || encoder.fps() != spec.fps) {
        return "the encoder does not match the recording's codec, size or rate";
    }
    return std::nullopt;
}

// Writes GOP records over the recorded spans. Frame k of a span plays at the span's start plus
// k / fps seconds (whole milliseconds, rounded down), so the time steps of the frame table add
// up to those instants and GOPs follow each other without drift.
class VideoWriter {
public:
    VideoWriter(const VideoRecordingSpec& spec, VideoEncoder& encoder)
        : spec_(spec), encoder_(encoder), gop_(frames_per_gop(spec)) {}

    bool write_span(const TimeSpan& span, VideoRecording* out, std::string* error);
    void write_end_mark(VideoRecording* out) const;

private:
    uint64_t frame_ms(const TimeSpan& span, uint64_t k) const {
        return ms_of(span.first) + k * 1000 / static_cast<uint64_t>(spec_.fps);
    }
    // The encoded frames of the next GOP, fresh or repeated.
    const std::vector<EncodedFrame>* next_frames(uint32_t time, std::string* error);
    RecordDamage damage_at(uint32_t second) const;

    const VideoRecordingSpec& spec_;
    VideoEncoder& encoder_;
    const int gop_;
    std::vector<std::vector<EncodedFrame>> encoded_;
    std::vector<EncodedFrame> fresh_;
    size_t gops_written_ = 0;
    uint32_t previous_length_ = 0;
};

const std::vector<EncodedFrame>* VideoWriter::next_frames(uint32_t time, std::string* error) {
    const auto distinct = static_cast<size_t>(spec_.distinct_gops);
    if (distinct != 0 && encoded_.size() == distinct) return &encoded_[gops_written_ % distinct];
    fresh_ = encoder_.encode_gop(spec_.video_channel, time, gop_, error);
    if (fresh_.size() != static_cast<size_t>(gop_)) return nullptr;
    if (distinct == 0) return &fresh_;
    encoded_.push_back(std::move(fresh_));
    return &encoded_.back();
}

RecordDamage VideoWriter::damage_at(uint32_t second) const {
    RecordDamage damage;
    damage.broken_start_bits = listed(spec_.broken_gops, second);
    damage.damaged_trailer = listed(spec_.damaged_trailer_gops, second);
    if (listed(spec_.impossible_length_gops, second)) damage.length = kImpossibleLength;
    return damage;
}

bool VideoWriter::write_span(const TimeSpan& span, VideoRecording* out, std::string* error) {
    const auto g = static_cast<uint64_t>(gop_);
    // Only whole GOPs: the last frame must still lie inside the span.
    for (uint64_t k = 0; frame_ms(span, k + g - 1) < ms_of(span.second); k += g) {
        const uint64_t start = frame_ms(span, k);
        RecordedGop gop;
        gop.time = static_cast<uint32_t>(start / 1000);
        gop.ms = static_cast<uint32_t>(start % 1000);
        gop.damage = damage_at(gop.time);
        const std::vector<EncodedFrame>* frames = next_frames(gop.time, error);
        if (frames == nullptr) return false;

        GopRecordSpec record_spec;
        record_spec.time = gop.time;
        record_spec.milliseconds = gop.ms;
        record_spec.width = static_cast<uint32_t>(spec_.width);
        record_spec.height = static_cast<uint32_t>(spec_.height);
        record_spec.previous_length = previous_length_;
        record_spec.damage = gop.damage;
        for (uint64_t i = 0; i < g; ++i) {
            const uint64_t plays = frame_ms(span, k + i);
            StreamFrame frame;
            frame.bytes = (*frames)[i].bytes;
            frame.type = i == 0 ? kKeyFrameType : kOtherFrameType;
            frame.time_step = i == 0 ? 0 : static_cast<uint32_t>(plays - frame_ms(span, k + i - 1));
            record_spec.frames.push_back(frame);

            RecordedFrame recorded;
            recorded.time = static_cast<uint32_t>(plays / 1000);
            recorded.ms = static_cast<uint32_t>(plays % 1000);
            recorded.index = static_cast<int>(i);
            recorded.bytes = std::move(frame.bytes);
            recorded.bytes.resize((recorded.bytes.size() + 3) / 4 * 4, 0);
            gop.frames.push_back(std::move(recorded));
        }
        std::vector<uint8_t> record = gop_record(record_spec);
        if (record.empty()) {
            if (error) *error = "the GOP at " + std::to_string(gop.time) + " does not fit a record";
            return false;
        }
        gop.length = record_length(record);
        previous_length_ = gop.length;
        out->data.writes.push_back({gop.time, std::move(record)});
        out->gops.push_back(std::move(gop));
        ++gops_written_;
    }
    return true;
}

void VideoWriter::write_end_mark(VideoRecording* out) const {
    GopRecordSpec mark;
    mark.width = static_cast<uint32_t>(spec_.width);
    mark.height = static_cast<uint32_t>(spec_.height);
    mark.previous_length = previous_length_;
    mark.damage.end_mark = true;
    // Filed under the last GOP's time: the mark itself carries none.
    const uint32_t time = out->gops.empty() ? spec_.from : out->gops.back().time;
    out->data.writes.push_back({time, gop_record(mark)});
}

}  // namespace

std::optional<VideoRecording> video_recording(const VideoRecordingSpec& spec, VideoEncoder& encoder,
                                              std::string* error) {
    if (auto problem = video_spec_problem(spec, encoder)) return fail<VideoRecording>(error, *problem);
    const auto spans = recorded_spans(spec.from, spec.to, spec.gaps);
    if (!spans || spec.from >= spec.to) {
        return fail<VideoRecording>(error, spans_problem(spec.from, spec.to));
    }
    VideoRecording out;
    out.data.channel = video_channel_number(spec.video_channel);
    out.picture_size = static_cast<uint32_t>(spec.width) << 16 | static_cast<uint32_t>(spec.height);
    VideoWriter writer(spec, encoder);
    for (const TimeSpan& span : *spans) {
        if (!writer.write_span(span, &out, error)) return std::nullopt;
    }
    if (spec.end_mark) writer.write_end_mark(&out);
    return out;
}

std::optional<AudioRecording> audio_recording(int audio_channel, uint32_t from, uint32_t to,
                                              const std::vector<TimeSpan>& gaps,
                                              std::string* error, bool marked) {
    if (audio_channel < 1 || audio_channel > 4) {
        return fail<AudioRecording>(error,
                                    "audio channel must be 1..4: " + std::to_string(audio_channel));
    }
    const auto spans = recorded_spans(from, to, gaps);
    if (!spans || from >= to) return fail<AudioRecording>(error, spans_problem(from, to));
    AudioRecording out;
    out.data.channel = audio_channel_number(audio_channel);
    uint32_t previous = 0;
    for (const auto& [first, end] : *spans) {
        for (uint64_t at = ms_of(first); at + kAudioRecordMs <= ms_of(end); at += kAudioRecordMs) {
            RecordedAudio recorded;
            recorded.time = static_cast<uint32_t>(at / 1000);
            recorded.ms = static_cast<uint32_t>(at % 1000);
            // The tone continues in phase from record to record.
            const auto offset = static_cast<uint32_t>(recorded.ms * kAudioSampleRate / 1000);
            recorded.samples = tone_samples(audio_channel - 1, recorded.time, kAudioRecordBytes, offset);
            if (marked) {
                recorded.samples[0] = 0xA5;
                recorded.samples[1] = static_cast<uint8_t>(recorded.time);
                recorded.samples[2] = static_cast<uint8_t>(recorded.time >> 8);
                recorded.samples[3] = static_cast<uint8_t>(recorded.ms / kAudioRecordMs);
            }

            AudioRecordSpec spec;
            spec.time = recorded.time;
            spec.milliseconds = recorded.ms;
            spec.samples = recorded.samples;
            spec.previous_size = previous;
            std::vector<uint8_t> record = audio_record(spec);
            previous = record_length(record);
            out.data.writes.push_back({recorded.time, std::move(record)});
            out.records.push_back(std::move(recorded));
        }
    }
    return out;
}

}  // namespace sample
