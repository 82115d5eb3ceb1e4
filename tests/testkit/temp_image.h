// Test helpers: sample images in a temporary folder, removed at the end of the test.
#pragma once

#include <string>

#include "tools/sample/sample.h"

namespace testkit {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes the disk description to dir/name and returns the path; fails the test on error.
std::string make_image(const TempDir& dir, const std::string& name, const sample::DiskSpec& spec);

// SHA-256-free fingerprint of a file's bytes and size (FNV-1a over the allocated data), used
// to prove that nothing wrote to an image.
std::string fingerprint(const std::string& path);

}  // namespace testkit
