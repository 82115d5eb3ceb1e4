#include "export/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether something (a file, a folder, a dangling link) holds the name.
bool taken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

int create_exclusive(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

int fail(std::string* error, const std::string& path) {
    if (error != nullptr) *error = "Cannot create " + path;
    return -1;
}

// Closes and removes what one attempt of a set made.
void undo(std::vector<int>* fds, const std::vector<std::string>& made) {
    for (int fd : *fds) ::close(fd);
    for (const std::string& path : made) ::unlink(path.c_str());
    fds->clear();
}

}  // namespace

std::string new_file_name(const std::string& stem, int n, const std::string& ext) {
    if (n <= 1) return stem + ext;
    return stem + " (" + std::to_string(n) + ")" + ext;
}

void new_file_split(const std::string& path, std::string* stem, std::string* ext) {
    const size_t slash = path.find_last_of('/');
    const size_t base = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string::npos || dot <= base) {
        *stem = path;
        ext->clear();
        return;
    }
    *stem = path.substr(0, dot);
    *ext = path.substr(dot);
}

int new_file_try(const std::string& path, bool* was_taken) {
    const int fd = taken(path) ? -1 : create_exclusive(path);
    if (was_taken != nullptr) *was_taken = fd < 0 && taken(path);
    return fd;
}

int new_file_create(const std::string& stem, const std::string& ext, std::string* path,
                    std::string* error) {
    std::vector<int> fds;
    std::string chosen;
    if (new_file_create_set(stem, {ext}, &fds, &chosen, error) != 0) return -1;
    *path = chosen + ext;
    return fds.front();
}

int new_file_create_set(const std::string& stem, const std::vector<std::string>& exts,
                        std::vector<int>* fds, std::string* chosen, std::string* error) {
    fds->clear();
    if (exts.empty()) return fail(error, stem);
    for (int n = 1; n <= kNewFileMaxNumber; ++n) {
        std::vector<std::string> made;
        bool next = false;
        for (const std::string& ext : exts) {
            const std::string path = new_file_name(stem, n, ext);
            const int fd = taken(path) ? -1 : create_exclusive(path);
            if (fd >= 0) {
                fds->push_back(fd);
                made.push_back(path);
                continue;
            }
            undo(fds, made);
            // Taken, before the look or since: the next number. Anything else is a failure.
            if (!taken(path)) return fail(error, path);
            next = true;
            break;
        }
        if (!next) {
            *chosen = new_file_name(stem, n, "");
            return 0;
        }
    }
    return fail(error, new_file_name(stem, kNewFileMaxNumber, exts.front()));
}
