#include "verify/sources_list.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "export/gop_sources.h"

namespace verify {
namespace {

template <typename T>
bool number(const std::string& text, T* out) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, *out);
    return ec == std::errc() && p == end && !text.empty();
}

std::vector<std::string> split(const std::string& text, char at) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, at)) parts.push_back(part);
    if (!text.empty() && text.back() == at) parts.emplace_back();
    return parts;
}

bool parse_ranges(const std::string& text, std::vector<ImageRange>* out) {
    for (const std::string& r : split(text, ';')) {
        const size_t plus = r.find('+');
        ImageRange range{};
        if (plus == std::string::npos || !number(r.substr(0, plus), &range.offset) ||
            !number(r.substr(plus + 1), &range.length) || range.length == 0) {
            return false;
        }
        out->push_back(range);
    }
    return !out->empty();
}

bool parse_line(const std::string& text, SourceLine* s) {
    const std::vector<std::string> f = split(text, ',');
    if (f.size() != 6) return false;
    s->time_text = f[0];
    return number(f[1], &s->milliseconds) && number(f[2], &s->channel) &&
           number(f[3], &s->gop_length) && number(f[4], &s->frame_count) &&
           parse_ranges(f[5], &s->ranges);
}

}  // namespace

int read_sources_list(const std::string& path, std::vector<SourceLine>* out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return -1;
    }
    std::string text;
    int line = 0;
    out->clear();
    while (std::getline(in, text)) {
        ++line;
        if (line == 1) {
            if (text != kSourcesHeader) {
                *error = "line 1 is not the header";
                return -1;
            }
            continue;
        }
        SourceLine s;
        s.line = line;
        if (!parse_line(text, &s)) {
            *error = "line " + std::to_string(line) + " cannot be read";
            return -1;
        }
        out->push_back(std::move(s));
    }
    return 0;
}

}  // namespace verify
