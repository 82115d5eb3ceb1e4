// What an E01 set is: its signature, its segments, its acquisition metadata and stored hashes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/ewf.h"
#include "platform/ewf_set_i.h"

namespace platform {
namespace {

std::string header_value(libewf_handle_t* h, const char* id) {
    uint8_t value[512] = {};
    if (libewf_handle_get_utf8_header_value(h, reinterpret_cast<const uint8_t*>(id),
                                            std::strlen(id), value, sizeof value, nullptr) != 1) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), sizeof value));
}

std::string hash_value(libewf_handle_t* h, const char* id) {
    uint8_t value[128] = {};
    if (libewf_handle_get_utf8_hash_value(h, reinterpret_cast<const uint8_t*>(id), std::strlen(id),
                                          value, sizeof value, nullptr) != 1) {
        return {};
    }
    std::string s(reinterpret_cast<const char*>(value), strnlen(reinterpret_cast<const char*>(value), sizeof value));
    std::transform(s.begin(), s.end(), s.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c; });
    return s;
}

}  // namespace

bool has_ewf_signature(int fd) {
    // The first segment's file signature: EWF (E01) and its second version (Ex01).
    static const uint8_t kEwf1[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
    static const uint8_t kEwf2[8] = {'E', 'V', 'F', '2', 0x0D, 0x0A, 0x81, 0x00};
    uint8_t head[8] = {};
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return false;
    return std::memcmp(head, kEwf1, sizeof head) == 0 || std::memcmp(head, kEwf2, sizeof head) == 0;
}

bool is_ewf_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    const bool ewf = has_ewf_signature(fd);
    ::close(fd);
    return ewf;
}

std::vector<std::string> ewf_segments(const std::string& path) {
    Glob glob;
    std::string why;
    return glob.find(path, &why) ? glob.list() : std::vector<std::string>{};
}

int describe_ewf(const std::string& path, ContainerInfo* info) {
    Glob glob;
    std::string why;
    Handle handle;
    if (!glob.find(path, &why) || !handle.open(glob, &why)) return -1;
    info->kind = ContainerKind::kEwf;
    info->files = glob.list();
    info->incomplete = handle.corrupted();
    libewf_handle_t* h = handle.get();
    libewf_handle_set_header_values_date_format(h, LIBEWF_DATE_FORMAT_ISO8601, nullptr);
    info->case_number = header_value(h, "case_number");
    info->evidence_number = header_value(h, "evidence_number");
    info->examiner = header_value(h, "examiner_name");
    info->description = header_value(h, "description");
    info->notes = header_value(h, "notes");
    info->acquisition_date = header_value(h, "acquiry_date");
    info->md5 = hash_value(h, "MD5");
    info->sha1 = hash_value(h, "SHA1");
    return 0;
}

}  // namespace platform
