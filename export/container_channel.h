// The channel of an export into a container other than AVI: true timing instead of a constant
// frame rate. Each frame keeps its recorder time (relative to the file's first frame); a hole is
// a gap in the timestamps, not filler; each recorded second gets a caption with its date and
// time, and a hole a caption of its own. Frames are copied unchanged.
//
// Frames are held until their second is complete: a recorder that stores no milliseconds gives
// every frame of a second the same time, and such a second's frames are spread over it evenly.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "export/channel_writer.h"
#include "export/container_writer.h"
#include "export/export_notify.h"

class ContainerChannel {
  public:
    // Frames held for one second at most: a damaged recording whose clock stands still must not
    // make the held second grow without end; past this, the frames are written as they stand.
    static constexpr size_t kMaxHeldFrames = 240;

    ContainerChannel() = default;
    ~ContainerChannel();
    ContainerChannel(const ContainerChannel&) = delete;
    ContainerChannel& operator=(const ContainerChannel&) = delete;

    // Creates prefix + the format's extension (numbered " (2)", ... when taken; prefix() tells
    // the name made) and starts it with the key frame at `first`, which the caller then hands
    // to video() as the file's first frame. 1 on success, 0 on failure (nothing is left open
    // and no empty file remains).
    int32_t open(const std::string& prefix, ExportFormat format, ContainerFactory factory,
                 const ContainerHeader& header, FrameTime first, ExportNotify* owner);
    const std::string& prefix() const { return prefix_; }
    // With the recorder clock's measured offset, each second's caption gains a second line with
    // the corrected time. Set before open.
    void set_clock_offset(std::optional<int64_t> offset) { clock_offset_ = offset; }
    bool is_open() const { return writer_ != nullptr; }

    // A stored frame, copied. Frames arrive in recorder order.
    void video(FrameTime t, const uint8_t* data, int32_t length, bool key);
    // An audio block of 8 kHz mu-law samples.
    void audio(FrameTime t, const uint8_t* data, int32_t length);
    // Writes the second still held and ends the file.
    void finish();

    // What the file holds, in the channel writer's terms (frames, seconds, holes, audio).
    ChannelWriterStats stats() const { return stats_; }
    std::vector<ExportStream> streams() const { return streams_; }

  private:
    struct Held {
        FrameTime t;
        bool key = false;
        std::vector<uint8_t> data;
    };
    int64_t relative_ms(uint32_t second, int32_t ms) const;
    void flush_second();
    void caption(int64_t start, int64_t end, const std::string& text);
    void failed();

    std::unique_ptr<ContainerWriter> writer_;
    ExportNotify* owner_ = nullptr;
    std::string prefix_;
    std::string path_;
    FrameTime base_;  // the file's first frame: time 0
    std::vector<Held> second_;
    bool any_second_ = false;
    uint32_t last_second_ = 0;  // the last second written
    int64_t last_pts_ = -1;     // of the last frame written
    int64_t caption_end_ = 0;   // captions never overlap
    int64_t audio_next_ = 0;    // in samples: where the sound given so far ends
    bool any_audio_ = false;
    ChannelWriterStats stats_;
    std::vector<ExportStream> streams_;
    std::optional<int64_t> clock_offset_;
};
