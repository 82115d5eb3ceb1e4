#include "tests/testkit/temp_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

namespace testkit {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quillon-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string make_image(const TempDir& dir, const std::string& name, const sample::DiskSpec& spec) {
    std::string path = dir.file(name);
    std::string error;
    sample::ImageSummary summary;
    EXPECT_EQ(sample::write_image(path, spec, &summary, &error), 0) << error;
    return path;
}

// Hashes only the allocated extents of a sparse image, plus its size and modification time.
std::string fingerprint(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "unreadable";
    struct stat st {};
    ::fstat(fd, &st);
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](const unsigned char* p, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    };
    std::vector<unsigned char> buf(1 << 20);
    off_t pos = 0;
    while (pos < st.st_size) {
        off_t data = ::lseek(fd, pos, SEEK_DATA);
        if (data < 0) break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) hole = st.st_size;
        for (off_t at = data; at < hole;) {
            size_t n = static_cast<size_t>(std::min<off_t>(hole - at, static_cast<off_t>(buf.size())));
            ssize_t r = ::pread(fd, buf.data(), n, at);
            if (r <= 0) break;
            mix(reinterpret_cast<const unsigned char*>(&at), sizeof at);
            mix(buf.data(), static_cast<size_t>(r));
            at += r;
        }
        pos = hole;
    }
    ::close(fd);
    return std::to_string(h) + ":" + std::to_string(st.st_size) + ":" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace testkit
