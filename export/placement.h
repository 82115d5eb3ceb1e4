// Constant-rate placement: how a channel writer turns the irregular records of one recorder
// second into exactly F video frames (25 or 30) and 8000 audio bytes, with empty frames and
// silence where data is missing, and the subtitle lines that go with each second.
//
// Everything here runs without threads or files: the writer thread feeds records into a
// GroupCollector, which hands each completed second to a SecondPlacer, which writes through a
// StreamSink (the AVI and SAMI files in a channel writer, a recorder in tests).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "export/record_ring.h"

inline constexpr int kFpsPal = 25;
inline constexpr int kFpsNtsc = 30;
inline constexpr int kMaxFps = kFpsNtsc;
inline constexpr int32_t kAudioBytesPerSecond = 8000;
inline constexpr int32_t kAudioBufferBytes = 40000;
inline constexpr uint8_t kSilenceByte = 0x7F;  // mu-law zero level
inline constexpr int kGroupSlots = 60;
// Audio kept for seconds whose pictures have not come yet: a minute of sound.
inline constexpr size_t kLaterAudioMax = 60 * 8000;

inline int frames_per_second(bool pal) {
    return pal ? kFpsPal : kFpsNtsc;
}

// The video positions of one second: video[i] is the index (among the second's used video
// records) of the frame written at position i, or kEmptyFrame. count is always the frame rate.
inline constexpr int16_t kEmptyFrame = -1;
struct Placement {
    int count = 0;
    std::array<int16_t, kMaxFps> video{};
};

// Each frame goes to position milliseconds / (1000 / fps), or to the next free position when
// that one is taken or passed; a frame is moved earlier only as far as the frames after it
// need room. The first fps frames are always placed, in order.
Placement place_by_milliseconds(std::span<const uint16_t> milliseconds, int fps);
// The frames spread evenly over the second, in order, none dropped (video_count <= fps).
Placement place_evenly(int video_count, int fps);

// Where one second's frames and audio, and the subtitle lines, go.
class StreamSink {
  public:
    virtual ~StreamSink() = default;
    // An empty frame has no data and length 0 and is never a key frame.
    virtual void video_frame(const uint8_t* data, int32_t length, bool key) = 0;
    virtual void audio_chunk(const uint8_t* data, int32_t length) = 0;
    virtual void subtitle(std::string_view line) = 0;
};

// A frame's recorder time: seconds and milliseconds.
struct FrameTime {
    uint32_t time_stamp = 0;
    uint16_t milliseconds = 0;
};

struct PlacementStats {
    uint64_t seconds = 0;              // seconds written, filler seconds of holes included
    uint64_t hole_seconds = 0;         // seconds written without a single stored frame
    uint64_t frames_written = 0;       // stored frames placed
    uint64_t empty_frames = 0;         // empty positions written
    uint64_t frames_dropped = 0;       // beyond the frame rate of their second
    uint64_t audio_bytes = 0;          // recorded audio bytes written (silence not counted)
    uint64_t audio_bytes_dropped = 0;  // beyond the one-second audio buffer
    FrameTime first_frame;             // of the first and last stored frame written
    FrameTime last_frame;
};

// The writer thread's state across seconds: audio buffer, silence, first second, subtitles.
class SecondPlacer {
  public:
    // cancel, when given, cuts a long hole short at a whole second once it is set.
    SecondPlacer(bool pal, StreamSink& sink, const std::atomic<bool>* cancel = nullptr);

    // Writes one recorder second, then the filler seconds up to next. group: its records in
    // arrival order, the first one video; next: the record that starts the following second.
    void place_group(std::span<const ExportRecord> group, const ExportRecord& next);
    // Writes the last second of the file: no second follows it.
    void place_last(std::span<const ExportRecord> group);
    // Audio of a second after the one being collected: kept until its second is written.
    void queue_later_audio(uint32_t second, const uint8_t* data, int32_t length);

    const PlacementStats& stats() const { return stats_; }

  private:
    void write_second(std::span<const ExportRecord> group);
    void note_frame(const ExportRecord& r);
    void write_hole(uint32_t first_second, int64_t seconds);
    void take_later_audio(uint32_t second);
    void write_audio_second();
    void append_audio(const ExportRecord& record);

    const int fps_;
    StreamSink& sink_;
    const std::atomic<bool>* cancel_;
    std::unique_ptr<uint8_t[]> audio_;    // kAudioBufferBytes
    int32_t audio_count_ = 0;
    bool first_ = true;
    bool have_frame_ = false;
    int last_video_ = 0;       // frames and audio of the second last written, for its caption
    bool last_audio_ = false;
    struct LaterAudio {
        uint32_t second;
        std::vector<uint8_t> bytes;
    };
    std::deque<LaterAudio> later_audio_;
    size_t later_bytes_ = 0;
    uint32_t first_time_ = 0;  // the first second, as a time stamp
    int64_t offset_ = 0;       // the current second's seconds since the first
    PlacementStats stats_;
};

struct CollectorStats {
    uint64_t leading_audio_dropped = 0;  // audio before a second's first frame
    uint64_t overflow_dropped = 0;       // records of a second beyond the group slots
    uint64_t refused = 0;                // longer than any frame can be, or no memory for it
};

// The group slots: collects the records of the second being built and hands it to the placer
// when a record of a later second arrives. A second keeps at most kGroupSlots - 1 records, so a
// slot is always free for the record that starts the next second; extra records are dropped.
class GroupCollector {
  public:
    GroupCollector() = default;
    GroupCollector(const GroupCollector&) = delete;
    GroupCollector& operator=(const GroupCollector&) = delete;

    // Empty slots and fresh counters; slot buffers grow as records need them. False when the
    // memory cannot be had.
    bool allocate();
    void release();
    // Drops the second being collected.
    void clear();

    // The buffer the record with this header goes to (its header is stored in the slot), or
    // nullptr when the record is dropped. After copying the data, call commit.
    uint8_t* slot_for(const QueuedHeader& header);
    // Takes the record given to slot_for; completes a second through placer when it starts one.
    void commit(SecondPlacer& placer);
    // Writes the second being collected as the last one: nothing follows it.
    void flush(SecondPlacer& placer);
    // Both steps with data already at hand (tests, and callers that need no zero-copy).
    void add(const QueuedHeader& header, const uint8_t* data, SecondPlacer& placer);

    int count() const { return count_; }
    const CollectorStats& stats() const { return stats_; }

  private:
    struct SlotBuffer {
        std::unique_ptr<uint8_t[]> bytes;
        size_t capacity = 0;
    };
    uint8_t* reserve(size_t slot, int32_t length);
    static uint32_t audio_second(const QueuedHeader& header);

    std::array<SlotBuffer, kGroupSlots> buffers_{};
    std::array<ExportRecord, kGroupSlots> slots_{};
    int count_ = 0;
    bool pending_ = false;      // slot_for handed out slot count_
    bool starts_next_ = false;  // that record opens the next second
    // An audio record of a later second handed out by slot_for: it goes to the placer.
    std::vector<uint8_t> later_;
    uint32_t later_second_ = 0;
    int32_t later_length_ = 0;
    bool pending_later_ = false;
    CollectorStats stats_;
};
