#include "export/export_case.h"

#include <cstdio>

bool parse_clock_offset(const std::string& text, int64_t* seconds) {
    size_t at = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        at = 1;
    }
    if (at == text.size()) return false;
    int64_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > kMaxClockOffset) return false;
    }
    *seconds = negative ? -value : value;
    return true;
}

std::string corrected_time_text(uint32_t recorder_time, int64_t clock_offset) {
    const int64_t corrected = int64_t{recorder_time} - clock_offset;
    const int64_t of_day = ((corrected % 86400) + 86400) % 86400;
    char text[32];
    std::snprintf(text, sizeof text, "corrected %02d:%02d:%02d", static_cast<int>(of_day / 3600),
                  static_cast<int>(of_day / 60 % 60), static_cast<int>(of_day % 60));
    return text;
}

namespace {

bool plain_argument(const std::string& a) {
    if (a.empty()) return false;
    for (const char c : a) {
        const bool fine = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '_' || c == '.' || c == '/' || c == ',' || c == ':' ||
                          c == '=' || c == '+' || c == '@';
        if (!fine) return false;
    }
    return true;
}

}  // namespace

std::string command_line_text(int argc, const char* const* argv) {
    std::string out;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i] != nullptr ? argv[i] : "";
        if (i > 0) out += ' ';
        if (plain_argument(a)) {
            out += a;
            continue;
        }
        out += '\'';
        for (const char c : a) {
            if (c == '\'') {
                out += "'\\''";
            } else {
                out += c;
            }
        }
        out += '\'';
    }
    return out;
}
