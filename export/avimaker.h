// The AVI backup job's recipient of records: one channel writer per exported video channel,
// opened at the channel's first accepted key frame, fed from the playback thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "export/channel_writer.h"
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

    CAvimaker();
    ~CAvimaker();
    CAvimaker(const CAvimaker&) = delete;
    CAvimaker& operator=(const CAvimaker&) = delete;

    // Arms the job for the span; nothing happens for an empty mask.
    void setup(ExportNotify* owner, const DateTime& start, const DateTime& end, uint32_t mask,
               const std::string& folder, int32_t audio_slot_offset, int32_t part);
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
        int32_t pal = 0;
        bool finished = false;
        uint64_t refused = 0;  // frames longer than any frame can be, refused whole
        ChannelWriterStats stats;
    };
    const std::vector<FileSet>& opened() const { return opened_; }

private:
    struct Channel;
    bool open_files(int c, const uint8_t* data, uint32_t picture_size);
    static void hold_early_audio(Channel& ch, uint32_t time, const uint8_t* data, int32_t length);
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
    int32_t audio_offset_ = 0;
    int32_t part_ = 0;
    std::array<std::unique_ptr<Channel>, kChannels> channels_;
    std::vector<FileSet> opened_;
};
