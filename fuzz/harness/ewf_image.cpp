// Our E01 drive on an E01 set from the input: the segments written to a folder of their own,
// opened, described and read in bounded pieces spread over the media.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/harness/harness.h"
#include "platform/container.h"
#include "platform/drive.h"

namespace fuzz {
namespace {

constexpr size_t kMaxSegments = 4;
constexpr int kReads = 48;
constexpr size_t kReadBytes = 64 * 1024;

// A folder for this process's segment files, made once, emptied after each input and removed
// when the process ends.
class SegmentFolder {
public:
    SegmentFolder() {
        char name[] = "/tmp/quillon-fuzz-ewf-XXXXXX";
        if (::mkdtemp(name) != nullptr) path_ = name;
    }
    ~SegmentFolder() {
        if (!path_.empty()) ::rmdir(path_.c_str());
    }
    SegmentFolder(const SegmentFolder&) = delete;
    SegmentFolder& operator=(const SegmentFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

const std::string& folder() {
    static const SegmentFolder made;
    return made.path();
}

std::string segment_name(size_t i) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "E%02u", static_cast<unsigned>(i + 1) % 100);
    return folder() + "/set." + suffix;
}

bool write_segment(const std::string& path, const uint8_t* data, size_t n) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
}

void read_spread(platform::Drive& drive) {
    platform::DriveGeometry g;
    if (drive.geometry(&g) != 0) return;
    const uint64_t bytes = static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder *
                           g.sectors_per_track * 512;
    std::vector<uint8_t> buffer(kReadBytes);
    for (int i = 0; i < kReads; ++i) {
        // The start, the end and points between; a few reads run past the end.
        const uint64_t offset = bytes / kReads * static_cast<uint64_t>(i) + (i % 3 == 2 ? 511 : 0);
        const int64_t r = drive.read_at(offset, buffer.data(), kReadBytes);
        if (r > static_cast<int64_t>(kReadBytes)) std::abort();
        if (r < 0 && drive.error_detail().empty()) std::abort();
    }
}

}  // namespace

int ewf_image(const uint8_t* data, size_t size) {
    if (folder().empty() || size < 1) return 0;
    // Byte 0: the segment count (1..4); then a 3-byte length before each segment but the last,
    // which takes the rest.
    const size_t count = 1 + data[0] % kMaxSegments;
    size_t at = 1;
    std::vector<std::string> written;
    for (size_t i = 0; i < count && at <= size; ++i) {
        size_t n = size - at;
        if (i + 1 < count) {
            if (size - at < 3) break;
            n = std::min<size_t>(size - at - 3, data[at] | (data[at + 1] << 8) | (data[at + 2] << 16));
            at += 3;
        }
        const std::string path = segment_name(i);
        if (!write_segment(path, data + at, n)) break;
        written.push_back(path);
        at += n;
    }
    if (!written.empty()) {
        platform::ContainerInfo info;
        platform::describe_container(written[0], &info);
        if (auto drive = platform::open_drive(written[0].c_str())) read_spread(*drive);
    }
    for (const std::string& path : written) ::unlink(path.c_str());
    return 0;
}

}  // namespace fuzz
