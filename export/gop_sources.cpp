#include "export/gop_sources.h"

#include <cstdio>

#include "export/export_report.h"

namespace {

bool before(const FrameTime& a, const FrameTime& b) {
    return a.time_stamp != b.time_stamp ? a.time_stamp < b.time_stamp : a.milliseconds < b.milliseconds;
}

}  // namespace

void GopSources::note(int channel, int32_t slot, uint32_t time, int32_t msec) {
    if (channel < 0 || channel >= kVideoChannels) return;
    GopSource s{};
    if (api_gop_source(slot, &s) != 0) return;
    note(channel, s, FrameTime{time, static_cast<uint16_t>(msec < 0 ? 0 : msec % 1000)});
}

void GopSources::note(int channel, const GopSource& s, FrameTime at) {
    if (channel < 0 || channel >= kVideoChannels || s.range_count <= 0 || s.range_count > kGopSourceRanges) {
        return;
    }
    auto [it, added] = known_[channel].try_emplace(s.ranges[0].offset, gops_[channel].size());
    if (added) {
        gops_[channel].push_back(GopTrace{s, at, at});
        return;
    }
    GopTrace& g = gops_[channel][it->second];
    if (before(at, g.first)) g.first = at;
    if (before(g.last, at)) g.last = at;
}

void GopSources::clear() {
    for (auto& g : gops_) g.clear();
    for (auto& k : known_) k.clear();
}

std::vector<GopTrace> GopSources::within(int channel, FrameTime first, FrameTime last) const {
    std::vector<GopTrace> out;
    if (channel < 0 || channel >= kVideoChannels) return out;
    for (const GopTrace& g : gops_[channel]) {
        if (!before(g.last, first) && !before(last, g.first)) out.push_back(g);
    }
    return out;
}

std::string gop_sources_line(const GopTrace& gop, int channel) {
    const GopSource& s = gop.source;
    std::string line = export_time_text(s.time) + "," + std::to_string(s.milliseconds) + "," +
                       std::to_string(channel) + "," + std::to_string(s.gop_length) + "," +
                       std::to_string(s.frame_count) + ",";
    for (int32_t i = 0; i < s.range_count && i < kGopSourceRanges; ++i) {
        if (i > 0) line += ';';
        line += std::to_string(s.ranges[i].offset) + "+" + std::to_string(s.ranges[i].length);
    }
    return line;
}

int32_t write_gop_sources(const std::string& path, const std::vector<GopTrace>& gops, int channel,
                          std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        if (error != nullptr) *error = "cannot create " + path;
        return -1;
    }
    std::string text = std::string(kSourcesHeader) + "\n";
    for (const GopTrace& g : gops) text += gop_sources_line(g, channel) + "\n";
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok) {
        std::remove(path.c_str());
        if (error != nullptr) *error = "cannot write " + path;
        return -1;
    }
    return 0;
}
