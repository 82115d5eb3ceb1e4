#include "export/still_i.h"

#include "export/new_file.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

int32_t still_fail(std::string* error, int32_t code, const std::string& message) {
    if (error != nullptr) *error = message;
    return code;
}

void still_remove_partial(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) {
        std::filesystem::remove(path, ec);
    }
}

uint64_t still_row_stride(int64_t width, uint32_t bit_count) {
    if (width <= 0 || bit_count == 0 || bit_count > 32) return 0;
    if (static_cast<uint64_t>(width) > (UINT64_MAX - 31) / bit_count) return 0;
    return (static_cast<uint64_t>(width) * bit_count + 31) / 32 * 4;
}

std::string still_text(const char* head, const std::string& tail) {
    std::string text(head);
    text.append(tail);
    return text;
}

std::FILE* still_open_new(const std::string& path, std::string* written, std::string* error) {
    std::string stem, ext;
    new_file_split(path, &stem, &ext);
    const int fd = new_file_create(stem, ext, written, nullptr);
    if (fd < 0) {
        still_fail(error, STILL_ERR_OPEN, still_text("Cannot open ", path));
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        ::close(fd);
        still_remove_partial(*written);
        still_fail(error, STILL_ERR_OPEN, still_text("Cannot open ", path));
    }
    return file;
}
