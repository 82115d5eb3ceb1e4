// libewf's glob and handle: finding the segments of a set and opening them read-only.
#include "platform/ewf_set_i.h"

#include <sys/resource.h>

#include <algorithm>

namespace platform {
namespace {

// The largest sector and chunk of any acquisition: 32768 sectors of 4 KiB a chunk.
constexpr uint32_t kMaxSectorBytes = 4096;
constexpr uint32_t kMaxChunkBytes = 32768u * 4096u;

// Descriptors besides the segments: the standard streams, output files, other drives.
constexpr rlim_t kSpareDescriptors = 64;

// libewf keeps every segment of a set open, and a large disk comes in a thousand segments or
// more: the soft limit on open files is raised towards the hard one when the set needs it.
// False with the reason when even the hard limit is too low.
bool make_room_for(int segments, std::string* why) {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return true;  // libewf will say what fails
    const rlim_t needed = static_cast<rlim_t>(segments) + kSpareDescriptors;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        *why = "the set has " + std::to_string(segments) + " segments, more than the " +
               std::to_string(limit.rlim_cur) + " files this process may open";
        return false;
    }
    return true;
}

}  // namespace

std::string take_error(libewf_error_t** error) {
    if (error == nullptr || *error == nullptr) return "unknown libewf error";
    char text[512] = {};
    // The whole chain, the root cause first: the last frame alone only says that opening failed.
    if (libewf_error_backtrace_sprint(*error, text, sizeof text) < 0) text[0] = '\0';
    libewf_error_free(error);
    std::string s(text);
    // libewf ends each frame of its backtrace with a newline; one message wants one line.
    for (size_t at = s.find('\n'); at != std::string::npos; at = s.find('\n', at)) {
        s.replace(at, 1, at + 1 < s.size() ? "; " : "");
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s.empty() ? "unknown libewf error" : s;
}

bool Glob::find(const std::string& path, std::string* why) {
    libewf_error_t* error = nullptr;
    if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names_, &count_,
                    &error) != 1) {
        *why = take_error(&error);
        names_ = nullptr;
        count_ = 0;
        return false;
    }
    return count_ > 0;
}

bool Handle::open(const Glob& glob, std::string* why) {
    libewf_error_t* error = nullptr;
    // No limit on open segments: libewf 20140813 refuses to open with one set first, and with
    // one set after opening it reads every chunk wrong (caught only by the checksums).
    if (!make_room_for(glob.count(), why)) return false;
    if (libewf_handle_initialize(&handle_, &error) != 1 ||
        libewf_handle_open(handle_, glob.names(), glob.count(), LIBEWF_OPEN_READ, &error) != 1) {
        *why = take_error(&error);
        return false;
    }
    open_ = true;
    return read_sizes(why);
}

bool Handle::read_sizes(std::string* why) {
    libewf_error_t* error = nullptr;
    size64_t size = 0;
    if (libewf_handle_get_media_size(handle_, &size, &error) != 1) {
        *why = take_error(&error);
        return false;
    }
    media_size_ = size;
    uint32_t sector_bytes = 0;
    size32_t chunk_bytes = 0;
    if (libewf_handle_get_bytes_per_sector(handle_, &sector_bytes, &error) != 1 ||
        libewf_handle_get_chunk_size(handle_, &chunk_bytes, &error) != 1) {
        *why = take_error(&error);
        return false;
    }
    // libewf allocates a chunk's buffer from the sizes the first segment states: a damaged
    // header must not make every read ask for gigabytes.
    if (sector_bytes == 0 || sector_bytes > kMaxSectorBytes || chunk_bytes == 0 ||
        chunk_bytes > kMaxChunkBytes) {
        *why = "sectors of " + std::to_string(sector_bytes) + " bytes in chunks of " +
               std::to_string(chunk_bytes) + " bytes: no acquisition writes those";
        return false;
    }
    bytes_per_sector_ = sector_bytes;
    return true;
}

}  // namespace platform
