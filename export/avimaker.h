// The AVI backup job's recipient of records: one channel writer per exported video channel,
// opened at the channel's first accepted key frame, fed from the playback thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "export/channel_writer.h"
#include "export/container_channel.h"
#include "export/container_writer.h"
#include "export/export_notify.h"
#include "storage/api.h"

class CAvimaker {
public:
    static constexpr int kChannels = 16;
    static constexpr size_t kMaxPath = 259;
    // Seconds past the span's end after which channels that delivered nothing past it are
    // taken as finished too.
    static constexpr uint32_t kSpanEndGrace = 2;
    static constexpr size_t kEarlyAudioMax = 40000;
    // Recorder seconds a split waits for a channel's next key frame before it cuts there anyway.
    static constexpr uint32_t kSplitWait = 10;

    CAvimaker();
    ~CAvimaker();
    CAvimaker(const CAvimaker&) = delete;
    CAvimaker& operator=(const CAvimaker&) = delete;

    // Where each channel's part ends and the next begins: at a key frame, so that every frame
    // lies in exactly one part. {0, 0}: nowhere yet (a channel without files).
    using Cuts = std::array<FrameTime, 16>;

    // Arms the job for the span; nothing happens for an empty mask. After a split, resume holds
    // where the previous part ended: each channel takes nothing before its cut.
    void setup(ExportNotify* owner, const DateTime& start, const DateTime& end, uint32_t mask,
               const std::string& folder, int32_t audio_slot_offset, int32_t part,
               const Cuts& resume = Cuts{});
    // The files the following setups make: AVI (the default), or a container that the factory
    // writes. A factory that is missing, or makes no writer, fails the channel's creation.
    void set_container(ExportFormat format, ContainerFactory factory);
    // The examiner's measured offset of the recorder clock: container time tracks add the
    // corrected time under the recorder's (the AVI's captions gain it when the job ends).
    void set_clock_offset(std::optional<int64_t> offset) { clock_offset_ = offset; }
    ExportFormat format() const { return format_; }

    // Asks every channel to end its part at its next key frame (that frame opens the next
    // part). split_ready() once every channel has, has passed the span, or had no files.
    void begin_split(uint32_t now);
    bool split_ready() const;
    bool splitting() const { return splitting_; }
    // Ends the part of every channel that has not reached a key frame yet right after the last
    // frame it took: the job has to restart now (the engine ran out, or waited too long).
    void force_cuts();
    const Cuts& cuts() const { return cuts_; }
    // One record from the frame callback (playback thread); -1 when not armed.
    int32_t on_record(int32_t slot, uint32_t time, int32_t msec, const uint8_t* data, int32_t length,
                      int32_t kind, uint32_t picture_size);
    // Finishes every open file and disarms.
    void reset();

    bool armed() const { return armed_; }
    bool done() const { return done_; }

    // Files opened since construction, in the order they were opened; their counters are
    // filled in when reset finishes them.
    struct FileSet {
        int channel = 0;  // 0-based video channel
        int part = 0;
        std::string prefix;
        ExportFormat format = ExportFormat::Avi;  // the file is prefix + its name
        std::vector<ExportStream> streams;        // a container's, once finished
        int32_t pal = 0;
        bool finished = false;
        uint64_t refused = 0;  // frames longer than any frame can be, refused whole
        ChannelWriterStats stats;
    };
    const std::vector<FileSet>& opened() const { return opened_; }

private:
    struct Channel;
    bool open_files(int c, const uint8_t* data, int32_t length, uint32_t picture_size,
                    FrameTime first);
    bool open_container(Channel& ch, const std::string& prefix, const uint8_t* data, int32_t length,
                        FrameTime first);
    static void hold_early_audio(Channel& ch, uint32_t time, const uint8_t* data, int32_t length);
    bool outside_part(int c, uint32_t time, int32_t msec, int32_t kind, uint32_t picture_size);
    void cut(int c, FrameTime at);
    void note_past_end(int c, uint32_t time, uint32_t end);
    void note_progress(uint32_t time, uint32_t start, uint32_t end);
    void post(int32_t wparam, int32_t lparam);

    ExportNotify* owner_ = nullptr;
    bool armed_ = false;
    bool done_ = true;
    DateTime start_{};
    DateTime end_{};
    std::string folder_;
    int32_t last_percent_ = 0;
    uint32_t mask_ = 0;
    uint32_t finished_ = 0;  // channels that delivered a frame past the span's end
    bool splitting_ = false;
    uint32_t split_asked_ = 0;  // recorder time when the split was asked for
    uint32_t cut_mask_ = 0;     // channels whose part has ended at a key frame
    Cuts cuts_{};
    Cuts resume_{};
    Cuts last_taken_{};  // each channel's last frame queued in this part
    int32_t audio_offset_ = 0;
    int32_t part_ = 0;
    ExportFormat format_ = ExportFormat::Avi;
    ContainerFactory factory_ = nullptr;
    std::optional<int64_t> clock_offset_;
    std::array<std::unique_ptr<Channel>, kChannels> channels_;
    std::vector<FileSet> opened_;
};
