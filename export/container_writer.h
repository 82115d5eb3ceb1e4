// Export containers besides AVI (Matroska, MP4): the core hands each channel's frames, audio
// and captions, already timed, to a writer that a container library provides. The core never
// includes that library: the program installs a factory (BackupJob::set_container).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_report.h"  // ExportStream

enum class ExportFormat { Avi, Mkv, Mp4 };

// "avi", "mkv", "mp4": the option's value, the report's "format" and the file extension.
const char* export_format_name(ExportFormat format);
// nullopt for anything but the three names (lower case).
std::optional<ExportFormat> parse_export_format(std::string_view name);

// What a container file starts with: the channel's picture and the first frame, a key frame
// whose parameter sets (or sequence header) describe the whole file.
struct ContainerHeader {
    int32_t width = 0;
    int32_t height = 0;
    bool h264 = true;  // else MPEG-4 part 2
    const uint8_t* key_frame = nullptr;
    int32_t key_frame_length = 0;
    // The first frame's recorder time as "YYYY-MM-DDTHH:MM:SS.mmmZ": the recorder's clock,
    // written as it is, never shifted to a zone.
    std::string creation_time;
};

// One container file. Calls come from one thread at a time. Timestamps are relative to the
// file's first frame: video and captions in milliseconds, audio in 8 kHz samples; each stream's
// timestamps rise.
class ContainerWriter {
  public:
    // Audio samples a second.
    static constexpr int32_t kAudioRate = 8000;

    virtual ~ContainerWriter() = default;
    // Writes into path, which the caller has created empty (names are never taken over).
    // 0, or -1 with error() telling why.
    virtual int32_t open(const std::string& path, const ContainerHeader& header) = 0;
    // A stored frame exactly as recorded (H.264 NAL units with start codes, or an MPEG-4 part 2
    // frame).
    virtual int32_t write_video(int64_t pts_ms, const uint8_t* data, int32_t length, bool key) = 0;
    // 8 kHz mu-law samples.
    virtual int32_t write_audio(int64_t pts_samples, const uint8_t* data, int32_t length) = 0;
    virtual int32_t write_caption(int64_t start_ms, int64_t end_ms, const std::string& text) = 0;
    // Ends the file; 0, or -1 when its end did not reach the disk.
    virtual int32_t finish() = 0;
    virtual std::vector<ExportStream> streams() const = 0;
    virtual std::string error() const = 0;
};

using ContainerFactory = std::unique_ptr<ContainerWriter> (*)(ExportFormat format);
