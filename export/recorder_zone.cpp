#include "export/recorder_zone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

namespace {

constexpr size_t kHeader = 44;
// No zone file comes near this; a larger one is not a zone file.
constexpr size_t kMaxZoneFile = 1 << 20;

uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
int64_t be64(const uint8_t* p) {
    return static_cast<int64_t>(uint64_t{be32(p)} << 32 | be32(p + 4));
}

struct Counts {
    uint32_t isut = 0, isstd = 0, leap = 0, time = 0, type = 0, chars = 0;
};

Counts counts_at(const uint8_t* p) {
    return Counts{be32(p + 20), be32(p + 24), be32(p + 28), be32(p + 32), be32(p + 36), be32(p + 40)};
}

// Bytes of one data block with times of `width` bytes; 0 when the counts cannot be a zone's.
uint64_t block_size(const Counts& c, uint64_t width) {
    if (c.type == 0 || c.type > 256 || c.time > 100000 || c.leap > 10000 || c.chars > 10000) return 0;
    return c.time * width + c.time + uint64_t{c.type} * 6 + c.chars + c.leap * (width + 4) + c.isstd +
           c.isut;
}

bool read_whole(const std::string& path, std::vector<uint8_t>* out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st{};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
              static_cast<uint64_t>(st.st_size) <= kMaxZoneFile;
    if (ok) {
        out->assign(static_cast<size_t>(st.st_size), 0);
        size_t got = 0;
        while (got < out->size()) {
            const ssize_t n = ::read(fd, out->data() + got, out->size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        ok = got == out->size();
    }
    ::close(fd);
    return ok;
}

}  // namespace

bool zone_name_acceptable(const std::string& name) {
    if (name.empty() || name.size() > 255 || name.front() == '/') return false;
    size_t part_start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '/') {
            const std::string part = name.substr(part_start, i - part_start);
            if (part.empty() || part == "." || part == "..") return false;
            part_start = i + 1;
            continue;
        }
        const char c = name[i];
        const bool fine = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '_' || c == '+' || c == '-' || c == '.';
        if (!fine) return false;
    }
    return true;
}

int RecorderZone::load(const std::string& name, std::string* error, const std::string& folder) {
    if (!zone_name_acceptable(name)) {
        if (error != nullptr) *error = "\"" + name + "\" is not a time zone name (AREA/CITY)";
        return -1;
    }
    std::vector<uint8_t> bytes;
    if (!read_whole(folder + "/" + name, &bytes)) {
        if (error != nullptr) *error = "unknown time zone \"" + name + "\"";
        return -1;
    }
    if (parse(bytes, error) != 0) {
        if (error != nullptr) *error = "time zone \"" + name + "\": " + *error;
        return -1;
    }
    name_ = name;
    return 0;
}

// Version 1 data holds 32-bit times; files of version 2 and later repeat everything with 64-bit
// times after it, which are the ones used then.
int RecorderZone::parse(const std::vector<uint8_t>& bytes, std::string* error) {
    auto fail = [&](const char* why) {
        if (error != nullptr) *error = why;
        return -1;
    };
    if (bytes.size() < kHeader || bytes[0] != 'T' || bytes[1] != 'Z' || bytes[2] != 'i' || bytes[3] != 'f') {
        return fail("not a zone file");
    }
    const uint8_t* p = bytes.data();
    Counts c = counts_at(p);
    uint64_t width = 4;
    uint64_t at = kHeader;
    const uint64_t v1 = block_size(c, 4);
    if (v1 == 0 || at + v1 > bytes.size()) return fail("zone file too short or damaged");
    if (bytes[4] >= '2') {
        at += v1;
        if (at + kHeader > bytes.size() || p[at] != 'T' || p[at + 1] != 'Z') {
            return fail("zone file too short or damaged");
        }
        c = counts_at(p + at);
        at += kHeader;
        width = 8;
        const uint64_t v2 = block_size(c, 8);
        if (v2 == 0 || at + v2 > bytes.size()) return fail("zone file too short or damaged");
    }
    const uint8_t* times = p + at;
    const uint8_t* indices = times + c.time * width;
    const uint8_t* types = indices + c.time;
    std::vector<int32_t> offsets(c.type);
    for (uint32_t i = 0; i < c.type; ++i) offsets[i] = static_cast<int32_t>(be32(types + 6 * i));
    std::vector<int64_t> transitions(c.time);
    std::vector<int32_t> after(c.time);
    for (uint32_t i = 0; i < c.time; ++i) {
        transitions[i] = width == 8 ? be64(times + 8 * i)
                                    : static_cast<int64_t>(static_cast<int32_t>(be32(times + 4 * i)));
        if (indices[i] >= c.type) return fail("zone file names a type it lacks");
        if (i > 0 && transitions[i] <= transitions[i - 1]) return fail("zone file out of order");
        after[i] = offsets[indices[i]];
    }
    transitions_ = std::move(transitions);
    offset_after_ = std::move(after);
    initial_offset_ = offsets[0];
    return 0;
}

int32_t RecorderZone::offset_at(int64_t utc) const {
    const auto it = std::upper_bound(transitions_.begin(), transitions_.end(), utc);
    if (it == transitions_.begin()) return initial_offset_;
    return offset_after_[static_cast<size_t>(it - transitions_.begin() - 1)];
}

std::vector<int64_t> RecorderZone::to_utc(int64_t local) const {
    std::set<int32_t> candidates(offset_after_.begin(), offset_after_.end());
    candidates.insert(initial_offset_);
    std::vector<int64_t> out;
    for (const int32_t o : candidates) {
        const int64_t utc = local - o;
        if (offset_at(utc) == o) out.push_back(utc);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// A change to a smaller offset at UTC instant t turns the wall clock back: the wall times from
// t + new offset up to t + old offset pass twice.
std::vector<RecorderZone::Repeat> RecorderZone::repeats_within(int64_t local_from,
                                                               int64_t local_to) const {
    std::vector<Repeat> out;
    for (size_t i = 0; i < transitions_.size(); ++i) {
        const int32_t before = i == 0 ? initial_offset_ : offset_after_[i - 1];
        const int32_t after = offset_after_[i];
        if (after >= before) continue;
        Repeat r{transitions_[i] + after, transitions_[i] + before, before, after};
        if (r.local_to > local_from && r.local_from <= local_to) out.push_back(r);
    }
    return out;
}
