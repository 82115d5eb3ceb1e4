// Recordings for sample channels: GOP records of real encoded video and audio records of mu-law
// tone, laid out as a recorder writes a channel over a span of time, with gaps and the damage a
// reader must survive. Each also lists what it wrote, so that tests can compare what a reader
// delivers with what the recording holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/sample/audio_samples.h"
#include "tools/sample/sample.h"
#include "tools/sample/stream_records.h"
#include "tools/sample/video_encoder.h"

namespace sample {

// Channel numbers of a count-29 volume: video channels 1..16 and audio channels 1..4.
inline constexpr int32_t video_channel_number(int video_channel) { return 2 + video_channel; }
inline constexpr int32_t audio_channel_number(int audio_channel) { return 18 + audio_channel; }

// [first, end) in recorder seconds.
using TimeSpan = std::pair<uint32_t, uint32_t>;

struct VideoRecordingSpec {
    int video_channel = 1;  // 1..16
    Codec codec = Codec::H264;
    int width = 352;
    int height = 240;
    int fps = 15;
    // Frames per GOP, 1..16; 0: half a second's worth (15 fps: 8 frames, 30 fps: 15).
    int gop_frames = 0;
    uint32_t from = 0;  // the first recorded second
    uint32_t to = 0;    // recording stops before this second
    // Nothing is recorded in these spans; recording resumes at a span's end with a new GOP.
    std::vector<TimeSpan> gaps;
    // 0: every GOP is encoded for its own time. n: only the first n GOPs are encoded and then
    // repeated in turn, which keeps long recordings cheap; a repeated GOP keeps its own record
    // time, but its pictures show the time of the GOP it was encoded for.
    int distinct_gops = 0;
    // Damage, by second: applied to every GOP that starts within one of these seconds.
    std::vector<uint32_t> broken_gops;          // start bits broken
    std::vector<uint32_t> damaged_trailer_gops; // trailer 0xFFFFFFFF
    std::vector<uint32_t> impossible_length_gops;  // GOP length beyond any read buffer
    // The recorder's end-of-channel record (frame count 0, no time) after the last GOP.
    bool end_mark = false;
};

struct RecordedFrame {
    uint32_t time = 0;  // the recorder second the frame plays at
    uint32_t ms = 0;    // 0..999
    int index = 0;      // position in its GOP; 0 is the key frame
    std::vector<uint8_t> bytes;  // as stored: padded with zeros to whole 4-byte words
};

struct RecordedGop {
    uint32_t time = 0;  // header time and milliseconds
    uint32_t ms = 0;
    uint32_t length = 0;  // header and frames, as the next GOP names it
    RecordDamage damage;
    std::vector<RecordedFrame> frames;
};

struct VideoRecording {
    ChannelData data;              // one write per record
    std::vector<RecordedGop> gops; // in write order; the end mark is not listed
    uint32_t picture_size = 0;     // as the engine reports it for a key frame: width << 16 | height
};

// The encoder must match the recording's codec, size and rate. nullopt with a message when a
// field is out of range or encoding fails.
std::optional<VideoRecording> video_recording(const VideoRecordingSpec& spec, VideoEncoder& encoder,
                                              std::string* error);

// Audio records of 200 ms each: 1,600 bytes of 8 kHz mu-law.
inline constexpr uint32_t kAudioRecordMs = 200;
inline constexpr size_t kAudioRecordBytes = kAudioSampleRate * kAudioRecordMs / 1000;

struct RecordedAudio {
    uint32_t time = 0;
    uint32_t ms = 0;
    std::vector<uint8_t> samples;
};

struct AudioRecording {
    ChannelData data;  // one write per record
    std::vector<RecordedAudio> records;
};

// The audio channel's tone (audio_channel 1..4) over [from, to) without the gaps. nullopt with
// a message when the channel or the span is out of range. Marked: each record starts with four
// bytes that name it (its second's low 16 bits and its 200 ms step), so that a test can find
// where every record landed.
std::optional<AudioRecording> audio_recording(int audio_channel, uint32_t from, uint32_t to,
                                              const std::vector<TimeSpan>& gaps,
                                              std::string* error, bool marked = false);

}  // namespace sample
