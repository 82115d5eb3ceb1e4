// The reference clock's time of day beside the recorder's in every caption, for an export whose
// recorder clock was measured against a reference: the captions keep the recorder's date and
// time first and gain a second line "corrected HH:MM:SS". Added to the finished file, whose
// captions this program wrote itself.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "export/export_case.h"
#include "export/sami.h"

namespace {

constexpr std::string_view kCaptionStart = "<P>";
constexpr size_t kStampLength = 19;  // "YYYY/MM/DD HH:MM:SS"

int digits(std::string_view s, size_t at, size_t n) {
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The recorder time a caption's "YYYY/MM/DD HH:MM:SS" names; false when it names none.
bool stamp_time(std::string_view s, uint32_t* t) {
    if (s.size() < kStampLength || s[4] != '/' || s[7] != '/' || s[10] != ' ' || s[13] != ':' ||
        s[16] != ':') {
        return false;
    }
    const int y = digits(s, 0, 4), mo = digits(s, 5, 2), d = digits(s, 8, 2);
    const int h = digits(s, 11, 2), mi = digits(s, 14, 2), se = digits(s, 17, 2);
    if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
        se < 0 || se > 59) {
        return false;
    }
    const int64_t v = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + se;
    if (v < 0 || v > int64_t{UINT32_MAX}) return false;
    *t = static_cast<uint32_t>(v);
    return true;
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::string sami_corrected_line(uint32_t recorder_time, int64_t clock_offset) {
    return "<br>" + corrected_time_text(recorder_time, clock_offset);
}

std::string sami_add_corrected_lines(std::string_view text, int64_t clock_offset) {
    std::string out;
    out.reserve(text.size() + text.size() / 3);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string_view::npos ? text.size() : end + 1;
        const std::string_view line = text.substr(at, end - at);
        at = end;
        const size_t p = line.rfind("<SYNC ", 0) == 0 ? line.find(kCaptionStart) : std::string_view::npos;
        uint32_t t = 0;
        if (p == std::string_view::npos || !stamp_time(line.substr(p + kCaptionStart.size()), &t)) {
            out += line;
            continue;
        }
        const size_t split = p + kCaptionStart.size() + kStampLength;
        out += line.substr(0, split);
        out += sami_corrected_line(t, clock_offset);
        out += line.substr(split);
    }
    return out;
}

int sami_file_add_corrected_lines(const std::string& path, int64_t clock_offset) {
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return -1;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0) {
            ::close(in);
            return -1;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(in);
    // Written beside it and renamed over it, so that the captions are never half rewritten.
    const std::string tmp = path + ".corrected";
    const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) return -1;
    bool ok = write_all(out, sami_add_corrected_lines(text, clock_offset));
    ok = ::close(out) == 0 && ok;
    ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return -1;
    }
    return 0;
}
