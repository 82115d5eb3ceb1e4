// Frame hash lists: for every packet of a media file's video streams, its time stamps, size and
// SHA-256, in the text that FFmpeg's "framehash" muxer writes when the streams are copied out of
// the file unchanged. Anyone with FFmpeg can make the same list from the file and compare.
#pragma once

#include <string>
#include <vector>

namespace verify {

// What is appended to a media file's name to name its frame hash list.
inline constexpr const char* kFrameHashSuffix = ".framehash";

// The frame hash list of the media file in *text; 0, or -1 with a message in *error.
int frame_hash_list(const std::string& media, std::string* text, std::string* error);

// Writes media + kFrameHashSuffix, a new file that replaces nothing; 0 with its path in
// *written, or -1 with a message.
int write_frame_hash_list(const std::string& media, std::string* written, std::string* error);

}  // namespace verify

#include "export/export_side_files.h"

namespace verify {

// Makes the frame hash list beside every finished export file; the report lists it as
// "framehash". Install it in the backup job (BackupJob::set_side_files).
class FrameHashSideFiles final : public ExportSideFiles {
public:
    std::vector<ExportSideFile> make(const std::string& media, std::string* error) override;
};

}  // namespace verify
