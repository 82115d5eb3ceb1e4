#include "export/sami.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Every caption line fits this buffer (the longest is about 110 characters).
constexpr size_t kLineBuffer = 260;

template <typename... Args>
std::string format_line(const char* pattern, Args... args) {
    char line[kLineBuffer];
    const int n = std::snprintf(line, sizeof line, pattern, args...);
    if (n <= 0) return {};
    return std::string(
        line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
}

}  // namespace

std::string sami_header(std::string_view title) {
    // The title is the file prefix, which may be longer than a line buffer: written whole, so
    // that the header is never cut off mid-way.
    std::string header = "<SAMI>\r\n<HEAD>\r\n<TITLE> ";
    header += title;
    header +=
        " </TITLE>\r\n<STYLE TYPE=\"Text/css\">\r\n<!--\r\n"
        "P {margin-left: 29pt; margin-right: 29pt; font-size: 14pt;\r\n";
    header +=
        "text-align: center; font-family: tahoma, arial, sans-serif;\r\n"
        "font-weight: bold; color: white; background-color: black;}\r\n";
    header +=
        ".SUBTTL {Name: 'Subtitles'; SAMIType: CC;}\r\n-->\r\n</STYLE>\r\n</HEAD>\r\n"
        "<BODY>\r\n";
    return header;
}

std::string caption_time_text(const DateTime& t) {
    return format_line("%04d/%02d/%02d %02d:%02d:%02d", int{t.year}, int{t.month}, int{t.day},
                       int{t.hour}, int{t.minute}, int{t.second});
}

std::string caption_hole_text(int64_t seconds) {
    return format_line("No video data. Within %lld seconds.", static_cast<long long>(seconds));
}

std::string sami_first_caption(const DateTime& t) {
    return format_line("<SYNC Start=%d000><P>%s\r\n", 0, caption_time_text(t).c_str());
}

std::string sami_hole_caption(int64_t offset_seconds, int64_t seconds) {
    return format_line("<SYNC Start=%lld><P><FONT color=#FF66FF>%s\r\n",
                       static_cast<long long>(offset_seconds * 1000),
                       caption_hole_text(seconds).c_str());
}

std::string sami_second_caption(int64_t offset_seconds, const DateTime& t, int frames, bool audio) {
    return format_line("<SYNC Start=%lld000><P>%s<font color=#6699FF>  %02dFPS  Audio[%s]\r\n",
                       static_cast<long long>(offset_seconds), caption_time_text(t).c_str(), frames,
                       audio ? "Y" : "N");
}

std::string_view sami_footer() {
    return "</BODY>\r\n</SAMI>\r\n";
}

SamiFile::~SamiFile() {
    close();
}

bool SamiFile::create(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

bool SamiFile::adopt(int fd) {
    close();
    if (fd < 0) return false;
    fd_ = fd;
    return true;
}

void SamiFile::write(std::string_view text) {
    if (fd_ < 0) return;
    while (!text.empty()) {
        const ssize_t n = ::write(fd_, text.data(), text.size());
        if (n <= 0) return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}

void SamiFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}
