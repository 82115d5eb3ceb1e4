#include "tests/mux/media_probe.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace muxtest {

namespace {

void describe(Track& t, const AVCodecParameters* par) {
    t.present = true;
    t.codec = avcodec_get_name(par->codec_id);
    t.width = par->width;
    t.height = par->height;
    t.sample_rate = par->sample_rate;
    t.channels = par->ch_layout.nb_channels;
    t.profile = par->profile;
}

std::string tag(AVDictionary* d, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);
    return e != nullptr ? e->value : "";
}

}  // namespace

Media read_media(const std::string& path) {
    Media m;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return m;
    if (avformat_find_stream_info(ic, nullptr) < 0) {
        avformat_close_input(&ic);
        return m;
    }
    m.opened = true;
    m.creation_time = tag(ic->metadata, "creation_time");
    m.comment = tag(ic->metadata, "comment");
    int index[3] = {-1, -1, -1};
    Track* tracks[3] = {&m.video, &m.audio, &m.text};
    const AVMediaType kinds[3] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE};
    for (int k = 0; k < 3; ++k) {
        for (unsigned i = 0; i < ic->nb_streams; ++i) {
            if (ic->streams[i]->codecpar->codec_type != kinds[k]) continue;
            index[k] = static_cast<int>(i);
            describe(*tracks[k], ic->streams[i]->codecpar);
            tracks[k]->shown_by_default =
                (ic->streams[i]->disposition & AV_DISPOSITION_DEFAULT) != 0;
            break;
        }
    }
    AVPacket* p = av_packet_alloc();
    while (av_read_frame(ic, p) >= 0) {
        for (int k = 0; k < 3; ++k) {
            if (p->stream_index != index[k]) continue;
            const AVRational tb = ic->streams[p->stream_index]->time_base;
            Track& t = *tracks[k];
            t.packets.emplace_back(p->data, p->data + p->size);
            const int64_t pts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
            t.pts_ms.push_back(av_rescale_q(pts, tb, AVRational{1, 1000}));
            t.end_ms.push_back(av_rescale_q(pts + p->duration, tb, AVRational{1, 1000}));
            t.key.push_back((p->flags & AV_PKT_FLAG_KEY) != 0);
        }
        av_packet_unref(p);
    }
    av_packet_free(&p);
    avformat_close_input(&ic);
    return m;
}

std::vector<std::vector<uint8_t>> length_prefixed_units(const std::vector<uint8_t>& packet) {
    std::vector<std::vector<uint8_t>> units;
    size_t at = 0;
    while (at + 4 <= packet.size()) {
        const size_t n = (size_t{packet[at]} << 24) | (size_t{packet[at + 1]} << 16) |
                         (size_t{packet[at + 2]} << 8) | packet[at + 3];
        at += 4;
        if (n > packet.size() - at) {
            units.push_back({});  // a length past the packet: never equal to a stored unit
            break;
        }
        units.emplace_back(packet.begin() + static_cast<long>(at),
                           packet.begin() + static_cast<long>(at + n));
        at += n;
    }
    for (auto& u : units) {
        while (!u.empty() && u.back() == 0) u.pop_back();
    }
    return units;
}

std::vector<std::vector<uint8_t>> start_code_units(const std::vector<uint8_t>& frame) {
    std::vector<size_t> starts;  // first byte after each 00 00 01
    for (size_t i = 0; i + 3 <= frame.size(); ++i) {
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1) starts.push_back(i + 3);
    }
    std::vector<std::vector<uint8_t>> units;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : frame.size();
        while (end > starts[k] && frame[end - 1] == 0) --end;
        units.emplace_back(frame.begin() + static_cast<long>(starts[k]),
                           frame.begin() + static_cast<long>(end));
    }
    return units;
}

}  // namespace muxtest
