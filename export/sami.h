// The SAMI subtitle file of an exported channel: a caption for every second of the video with
// the recorder's date and time, the real frames that second held and whether it had audio, and
// a notice where the recording has a hole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "storage/api.h"

// The plain text of the captions, without markup: the time track of other containers shows
// the same words as the .smi file.
// The recorder's date and time of a second, "YYYY/MM/DD HH:MM:SS".
std::string caption_time_text(const DateTime& time);
// The notice of a hole of `seconds` seconds.
std::string caption_hole_text(int64_t seconds);

// The header: title (the file prefix), style sheet, start of the body.
std::string sami_header(std::string_view title);
// The caption at the start of the video: the first second's date and time.
std::string sami_first_caption(const DateTime& time);
// The notice of a hole of `seconds` seconds that starts at offset_seconds.
std::string sami_hole_caption(int64_t offset_seconds, int64_t seconds);
// The caption of the second starting at offset_seconds (its date and time), reporting the
// frames and audio of the second just written.
std::string sami_second_caption(int64_t offset_seconds, const DateTime& time, int frames,
                                bool audio);
std::string_view sami_footer();

// With a measured clock offset each caption's date and time gains a second line with the
// reference clock's time of day: "<br>corrected HH:MM:SS" (text from corrected_time_text).
std::string sami_corrected_line(uint32_t recorder_time, int64_t clock_offset);
// The captions of a SAMI text with that line after each date and time; other lines unchanged.
std::string sami_add_corrected_lines(std::string_view text, int64_t clock_offset);
// The same on a finished .smi file, replaced whole. 0, or -1 with the file as it was.
int sami_file_add_corrected_lines(const std::string& path, int64_t clock_offset);

// The .smi file itself: created (truncating) or taken over from the caller, written in pieces,
// closed. Write errors are not
// reported: a subtitle that cannot be written never stops the video.
class SamiFile {
  public:
    SamiFile() = default;
    ~SamiFile();
    SamiFile(const SamiFile&) = delete;
    SamiFile& operator=(const SamiFile&) = delete;

    bool create(const std::string& path);
    // Takes an open descriptor; false (nothing taken) for a negative one.
    bool adopt(int fd);
    bool is_open() const { return fd_ >= 0; }
    void write(std::string_view text);
    void close();

  private:
    int fd_ = -1;
};
