// Files that go beside each finished export file, made by someone the export layer cannot call
// itself (a frame hash list needs a media library). The job asks for them once a file is
// finished and before its report is written; the report lists each with its size and SHA-256.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ExportSideFile {
    std::string key;   // what the report calls it, e.g. "framehash"
    std::string path;
};

// Writes text as the new file path, which must not exist yet: a side file never replaces
// anything, not even a stale one left under its name. 0, or -1 with a message.
int32_t write_side_file(const std::string& path, const std::string& text, std::string* error);

class ExportSideFiles {
public:
    virtual ~ExportSideFiles() = default;
    // Makes the files for the finished media file; returns those made. A failure goes into
    // *error (a file the maker could not make is left out).
    virtual std::vector<ExportSideFile> make(const std::string& media, std::string* error) = 0;
};
