// What each stream of an exported file holds, read back from the finished file's own header:
// codec, picture size and rate, and whether the recording's bytes were copied into it or the
// stream was made by the export.
#pragma once

#include <string>
#include <vector>

struct ExportStream {
    std::string kind;      // "video", "audio" or "subtitle"
    std::string codec;     // "h264", "mpeg4", "pcm_mulaw", "sami", ...
    int width = 0, height = 0;  // video only
    std::string rate;      // frames per second for video ("25", "30000/1001"), Hz for audio
    std::string handling;  // "copied", "transcoded" or "generated"
    std::string detail;    // e.g. "mono, 8 bit, 64 kbit/s"
};

// The streams of an AVI file as its header lists them, with the handling an AVI export gives
// them (frames and audio copied as recorded). 0, or -1 when the header cannot be read or is
// not an AVI header; nothing is added then.
int read_avi_streams(const std::string& path, std::vector<ExportStream>* out);

// The subtitle stream of a SAMI file written beside a video.
ExportStream sami_stream();
