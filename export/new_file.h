// Files that never replace another file. Exports and stills are evidence a user made; a name
// already taken gets " (2)", " (3)", ... before its extension. Every file is created with
// O_EXCL, so a file that appears between the look and the creation is not replaced either: the
// next number is taken instead.
#pragma once

#include <string>
#include <vector>

// The highest number tried before giving up.
inline constexpr int kNewFileMaxNumber = 9999;

// stem + ext for n <= 1; stem + " (n)" + ext above.
std::string new_file_name(const std::string& stem, int n, const std::string& ext);

// Splits a path into its stem and its extension (".jpg"); the extension is empty when the last
// component has no dot after its first character.
void new_file_split(const std::string& path, std::string* stem, std::string* ext);

// Creates exactly this name; -1 when it cannot, with *taken (when not null) telling whether
// something already holds the name.
int new_file_try(const std::string& path, bool* taken);

// Creates the first free name among stem + ext, stem + " (2)" + ext, ...; returns the open
// descriptor (write only) and the name in *path, or -1 with a message in *error (when not null).
int new_file_create(const std::string& stem, const std::string& ext, std::string* path,
                    std::string* error);

// Files made together, such as a video and its subtitles: one file per extension, all under the
// same number, so that their names keep matching. A number under which any of them is taken is
// skipped whole; files this call made under it are removed again. Returns 0 with the open
// descriptors in *fds (in the order of exts) and the numbered stem in *chosen, or -1 with a
// message.
int new_file_create_set(const std::string& stem, const std::vector<std::string>& exts,
                        std::vector<int>* fds, std::string* chosen, std::string* error);
