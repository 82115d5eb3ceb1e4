#include "export/gop_sources.h"

#include "export/export_report.h"
#include "export/export_side_files.h"

namespace {

bool before(const FrameTime& a, const FrameTime& b) {
    return a.time_stamp != b.time_stamp ? a.time_stamp < b.time_stamp : a.milliseconds < b.milliseconds;
}

}  // namespace

void GopSources::note(int channel, int32_t slot, uint32_t time, int32_t msec) {
    if (channel < 0 || channel >= kVideoChannels) return;
    GopSource s{};
    if (api_gop_source(slot, &s) != 0 || s.range_count <= 0) {
        ++unplaced_[channel];
        return;
    }
    note(channel, s, FrameTime{time, static_cast<uint16_t>(msec < 0 ? 0 : msec % 1000)});
}

void GopSources::note(int channel, const GopSource& s, FrameTime at) {
    if (channel < 0 || channel >= kVideoChannels || s.range_count <= 0 || s.range_count > kGopSourceRanges) {
        return;
    }
    auto [it, added] = known_[channel].try_emplace(s.ranges[0].offset, gops_[channel].size());
    if (added) {
        GopTrace g;
        g.time = s.time;
        g.milliseconds = s.milliseconds;
        g.gop_length = s.gop_length;
        g.frame_count = s.frame_count;
        g.ranges.assign(s.ranges, s.ranges + s.range_count);
        g.first = g.last = at;
        gops_[channel].push_back(std::move(g));
        return;
    }
    GopTrace& g = gops_[channel][it->second];
    if (before(at, g.first)) g.first = at;
    if (before(g.last, at)) g.last = at;
}

void GopSources::clear() {
    for (auto& g : gops_) g.clear();
    for (auto& k : known_) k.clear();
    for (auto& u : unplaced_) u = 0;
}

uint64_t GopSources::unplaced(int channel) const {
    return channel >= 0 && channel < kVideoChannels ? unplaced_[channel] : 0;
}

void GopSources::drop_before(int channel, FrameTime t) {
    if (channel < 0 || channel >= kVideoChannels) return;
    std::vector<GopTrace>& gops = gops_[channel];
    std::erase_if(gops, [&](const GopTrace& g) { return before(g.last, t); });
    known_[channel].clear();
    for (size_t i = 0; i < gops.size(); ++i) known_[channel].emplace(gops[i].ranges.front().offset, i);
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
    std::string line = export_time_text(gop.time) + "," + std::to_string(gop.milliseconds) + "," +
                       std::to_string(channel) + "," + std::to_string(gop.gop_length) + "," +
                       std::to_string(gop.frame_count) + ",";
    for (size_t i = 0; i < gop.ranges.size(); ++i) {
        if (i > 0) line += ';';
        line += std::to_string(gop.ranges[i].offset) + "+" + std::to_string(gop.ranges[i].length);
    }
    return line;
}

int32_t write_gop_sources(const std::string& path, const std::vector<GopTrace>& gops, int channel,
                          std::string* error) {
    std::string text = std::string(kSourcesHeader) + "\n";
    for (const GopTrace& g : gops) text += gop_sources_line(g, channel) + "\n";
    return write_side_file(path, text, error);
}
