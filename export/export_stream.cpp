#include "export/export_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <algorithm>
#include <cstring>

namespace {

// The header lists of an AVI file lie within its first bytes; more is never read.
constexpr size_t kHeaderRead = 64 * 1024;

uint32_t u32_at(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t u16_at(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
bool tag_is(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

std::string video_codec(const uint8_t* fourcc) {
    std::string f(reinterpret_cast<const char*>(fourcc), 4);
    for (char& c : f) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (f == "h264" || f == "avc1" || f == "x264") return "h264";
    if (f == "xvid" || f == "divx" || f == "fmp4" || f == "mp4v") return "mpeg4";
    std::string shown(reinterpret_cast<const char*>(fourcc), 4);
    for (char& c : shown) {
        if (c < 0x20 || c > 0x7E) c = '?';
    }
    return shown;
}

std::string audio_codec(uint16_t tag, uint16_t bits) {
    switch (tag) {
        case 1: return bits == 8 ? "pcm_u8" : bits == 16 ? "pcm_s16le" : "pcm";
        case 6: return "pcm_alaw";
        case 7: return "pcm_mulaw";
        default: return "wave format " + std::to_string(tag);
    }
}

std::string rate_text(uint32_t rate, uint32_t scale) {
    if (scale == 0) return "0";
    if (rate % scale == 0) return std::to_string(rate / scale);
    return std::to_string(rate) + "/" + std::to_string(scale);
}

// One "strl" list: its "strh" and "strf" chunks.
bool read_strl(const uint8_t* p, size_t size, ExportStream* s) {
    const uint8_t* strh = nullptr;
    const uint8_t* strf = nullptr;
    uint32_t strh_size = 0, strf_size = 0;
    for (size_t at = 0; at + 8 <= size;) {
        const uint32_t n = u32_at(p + at + 4);
        if (n > size - at - 8) return false;
        if (tag_is(p + at, "strh")) {
            strh = p + at + 8;
            strh_size = n;
        } else if (tag_is(p + at, "strf")) {
            strf = p + at + 8;
            strf_size = n;
        }
        at += 8 + n + (n & 1);
    }
    if (strh == nullptr || strf == nullptr || strh_size < 24) return false;
    const uint32_t scale = u32_at(strh + 20);
    const uint32_t rate = strh_size >= 28 ? u32_at(strh + 24) : 0;
    if (tag_is(strh, "vids") && strf_size >= 20) {
        s->kind = "video";
        s->codec = video_codec(strf + 16);
        s->width = static_cast<int>(u32_at(strf + 4));
        s->height = static_cast<int>(static_cast<int32_t>(u32_at(strf + 8)));
        if (s->height < 0) s->height = -s->height;
        s->rate = rate_text(rate, scale);
        s->handling = "copied";
        s->detail = "frames as recorded; empty frames keep the rate";
        return true;
    }
    if (tag_is(strh, "auds") && strf_size >= 16) {
        const uint16_t channels = u16_at(strf + 2);
        const uint32_t hz = u32_at(strf + 4);
        const uint32_t bytes_per_second = u32_at(strf + 8);
        const uint16_t bits = u16_at(strf + 14);
        s->kind = "audio";
        s->codec = audio_codec(u16_at(strf), bits);
        s->rate = std::to_string(hz);
        s->handling = "copied";
        s->detail = (channels == 1 ? std::string("mono") : std::to_string(channels) + " channels") +
                    ", " + std::to_string(bits) + " bit, " +
                    std::to_string(bytes_per_second * 8 / 1000) + " kbit/s";
        return true;
    }
    return false;
}

int parse_header(const uint8_t* p, size_t size, std::vector<ExportStream>* out) {
    if (size < 24 || !tag_is(p, "RIFF") || !tag_is(p + 8, "AVI ") || !tag_is(p + 12, "LIST") ||
        !tag_is(p + 20, "hdrl")) {
        return -1;
    }
    const size_t hdrl_end = std::min<size_t>(size, size_t{20} + u32_at(p + 16));
    std::vector<ExportStream> found;
    for (size_t at = 24; at + 8 <= hdrl_end;) {
        const uint32_t n = u32_at(p + at + 4);
        if (n > hdrl_end - at - 8) return -1;
        if (tag_is(p + at, "LIST") && n >= 4 && tag_is(p + at + 8, "strl")) {
            ExportStream s;
            if (!read_strl(p + at + 12, n - 4, &s)) return -1;
            found.push_back(std::move(s));
        }
        at += 8 + n + (n & 1);
    }
    if (found.empty()) return -1;
    out->insert(out->end(), found.begin(), found.end());
    return 0;
}

}  // namespace

int read_avi_streams(const std::string& path, std::vector<ExportStream>* out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    std::vector<uint8_t> head(kHeaderRead);
    size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    return parse_header(head.data(), got, out);
}

ExportStream sami_stream() {
    return ExportStream{"subtitle", "sami", 0, 0, "1", "generated",
                        "recorder date and time for every second"};
}
