// Where every exported GOP came from: the job notes the GOP of each video frame it is handed
// (its header time and the image byte ranges of its record) and writes, beside each finished
// file, a list of the GOPs whose frames went into it, so that any frame can be traced to the
// disk's sectors and read again from the image.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "export/placement.h"
#include "storage/api.h"

// What is appended to a media file's name to name its list of sources.
inline constexpr const char* kSourcesSuffix = ".sources.csv";
inline constexpr const char* kSourcesHeader = "time,ms,channel,gop_length,frames,ranges";

// One GOP record: its header's time, lengths and where it lies, kept compact since a long
// export meets many.
struct GopTrace {
    uint32_t time = 0;
    uint32_t milliseconds = 0;
    uint32_t gop_length = 0;
    uint32_t frame_count = 0;
    std::vector<ImageRange> ranges;
    FrameTime first, last;  // the first and last of its frames the job was handed
};

class GopSources {
public:
    // From the frame callback, for a video frame of channel (0-based) handed to the job; a
    // frame whose GOP has no known source is not traced. A GOP handed again (a restart reads
    // part of the span again) stays one entry.
    void note(int channel, int32_t slot, uint32_t time, int32_t msec);
    // The same with the source already asked for: a frame at `at` of the GOP read from there.
    void note(int channel, const GopSource& source, FrameTime at);
    void clear();
    // Frames of the channel noted whose GOP had no known place on the disk: its list of
    // sources cannot trace them.
    uint64_t unplaced(int channel) const;
    // Forgets the channel's GOPs whose frames all lie before t: a finished file took them, and
    // the next part starts after its end.
    void drop_before(int channel, FrameTime t);
    // The channel's GOPs with a frame within [first, last], in the order they were met.
    std::vector<GopTrace> within(int channel, FrameTime first, FrameTime last) const;

private:
    std::vector<GopTrace> gops_[kVideoChannels];
    std::unordered_map<uint64_t, size_t> known_[kVideoChannels];  // first image byte -> entry
    uint64_t unplaced_[kVideoChannels] = {};
};

// One line of the list (without the line end): recorder time text, milliseconds, channel
// (1-based), GOP length, frame count, ranges "offset+length;offset+length".
std::string gop_sources_line(const GopTrace& gop, int channel);

// Writes path: the header line and one line per GOP. 0, or -1 with a message.
int32_t write_gop_sources(const std::string& path, const std::vector<GopTrace>& gops, int channel,
                          std::string* error);
