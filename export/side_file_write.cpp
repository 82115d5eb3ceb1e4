#include <unistd.h>

#include "export/export_side_files.h"
#include "export/new_file.h"

int32_t write_side_file(const std::string& path, const std::string& text, std::string* error) {
    bool taken = false;
    const int fd = new_file_try(path, &taken);
    if (fd < 0) {
        if (error != nullptr) *error = taken ? path + " exists already" : "cannot create " + path;
        return -1;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || done != text.size()) {
        ::unlink(path.c_str());
        if (error != nullptr) *error = "cannot write " + path;
        return -1;
    }
    return 0;
}
