// The stream formats a caller sets and the final header they become: one typed record per
// header structure, each written field by field in file order, in lists whose sizes are filled
// in when they end.
#include <cmath>
#include <cstring>

#include "export/avi_writer.h"

namespace {

constexpr uint32_t kFlagHasIndex = 0x10;
constexpr uint32_t kFlagInterleaved = 0x100;
// The JUNK chunk fills up to here, where the movi list header starts.
constexpr size_t kMoviListAt = kAviHeaderSize - 12;
constexpr double kMicroseconds = 1000000.0;

// Little-endian writer over the header area. Sizes of chunks and lists are written when they
// end, from where the writer then stands; nothing is written past the area.
class HeaderWriter {
public:
    HeaderWriter(uint8_t* out, size_t size) : out_(out), size_(size) {}

    size_t tell() const { return at_; }
    bool overflowed() const { return overflowed_; }

    void u8(uint32_t v) {
        if (at_ >= size_) {
            overflowed_ = true;
            return;
        }
        out_[at_++] = static_cast<uint8_t>(v);
    }
    void u16(uint32_t v) {
        u8(v & 0xFF);
        u8(v >> 8);
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void tag(const char* t) {
        for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(t[i]));
    }
    void zeros(size_t n) {
        for (size_t i = 0; i < n; ++i) u8(0);
    }

    // A chunk: tag, size to be filled in by end(); returns where the size goes.
    size_t start_chunk(const char* t) {
        tag(t);
        size_t at = at_;
        u32(0);
        return at;
    }
    // A list: "LIST", size to be filled in by end(), list type.
    size_t start_list(const char* type) {
        size_t at = start_chunk("LIST");
        tag(type);
        return at;
    }
    // Size of the chunk or list whose size field is at `size_at`: everything after that field.
    void end(size_t size_at) {
        if (overflowed_) return;
        size_t back = at_;
        at_ = size_at;
        u32(static_cast<uint32_t>(back - size_at - 4));
        at_ = back;
    }

private:
    uint8_t* out_;
    size_t size_;
    size_t at_ = 0;
    bool overflowed_ = false;
};

// "avih": the main header.
struct MainHeader {
    uint32_t micro_sec_per_frame = 0;    // 1,000,000 / fps, rounded
    uint32_t max_bytes_per_sec = 0;      // not known to the writer
    uint32_t padding_granularity = 0;
    uint32_t flags = 0;                  // has index (when idx1 was written) | interleaved
    uint32_t total_frames = 0;           // video chunks written
    uint32_t initial_frames = 0;
    uint32_t streams = 0;                // the video stream and each audio track
    uint32_t suggested_buffer_size = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    // followed by 16 reserved bytes of zero
};

// "strh": one per stream.
struct StreamHeader {
    char type[4] = {};                   // "vids" or "auds"
    char handler[4] = {};                // video: the FourCC; audio: none
    uint32_t flags = 0;
    uint16_t priority = 0;
    uint16_t language = 0;
    uint32_t initial_frames = 0;
    uint32_t scale = 0;                  // rate / scale = units per second
    uint32_t rate = 0;
    uint32_t start = 0;
    uint32_t length = 0;                 // in units of scale / rate
    uint32_t suggested_buffer_size = 0;
    uint32_t quality = 0;                // audio: -1, "default"
    uint32_t sample_size = 0;            // 0 for video: frames vary in size
    // followed by the frame rectangle, 4 x 16 bits of zero
};

// "strf" of the video stream.
struct BitmapInfo {
    uint32_t header_size = 40;           // of this structure
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bit_count = 24;
    char compression[4] = {};            // the FourCC
    uint32_t image_size = 0;             // width x height x 3
    // followed by pixels per metre x and y, colours used, colours important: zero
};

// "strf" of an audio stream.
struct WaveFormat {
    uint16_t format_tag = 0;
    uint16_t channels = 0;
    uint32_t samples_per_sec = 0;
    uint32_t avg_bytes_per_sec = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
    uint16_t extra_size = 0;             // no format-specific bytes follow
};

struct FrameRate {
    uint32_t rate = 0;                   // per 1,000,000 units of scale
    uint32_t micro_sec_per_frame = 0;
};

FrameRate frame_rate(double fps) {
    FrameRate r;
    if (!(fps >= 0.001)) return r;
    r.rate = static_cast<uint32_t>(fps * kMicroseconds + 0.5);
    r.micro_sec_per_frame = static_cast<uint32_t>(kMicroseconds / fps + 0.5);
    return r;
}

// Bytes per sample frame, at least 4: the header fields below use a quarter of it.
uint64_t sample_size(int64_t channels, int64_t bits) {
    uint64_t size = static_cast<uint64_t>((bits + 7) / 8 * channels);
    return size < 4 ? 4 : size;
}

uint64_t bytes_per_second(int64_t kbit_rate) { return 1000 * static_cast<uint64_t>(kbit_rate) / 8; }

void put(HeaderWriter& w, const MainHeader& h) {
    size_t at = w.start_chunk("avih");
    w.u32(h.micro_sec_per_frame);
    w.u32(h.max_bytes_per_sec);
    w.u32(h.padding_granularity);
    w.u32(h.flags);
    w.u32(h.total_frames);
    w.u32(h.initial_frames);
    w.u32(h.streams);
    w.u32(h.suggested_buffer_size);
    w.u32(h.width);
    w.u32(h.height);
    w.zeros(16);
    w.end(at);
}

void put(HeaderWriter& w, const StreamHeader& h) {
    size_t at = w.start_chunk("strh");
    w.tag(h.type);
    w.tag(h.handler);
    w.u32(h.flags);
    w.u16(h.priority);
    w.u16(h.language);
    w.u32(h.initial_frames);
    w.u32(h.scale);
    w.u32(h.rate);
    w.u32(h.start);
    w.u32(h.length);
    w.u32(h.suggested_buffer_size);
    w.u32(h.quality);
    w.u32(h.sample_size);
    w.zeros(8);
    w.end(at);
}

void put(HeaderWriter& w, const BitmapInfo& f) {
    size_t at = w.start_chunk("strf");
    w.u32(f.header_size);
    w.u32(static_cast<uint32_t>(f.width));
    w.u32(static_cast<uint32_t>(f.height));
    w.u16(f.planes);
    w.u16(f.bit_count);
    w.tag(f.compression);
    w.u32(f.image_size);
    w.zeros(16);
    w.end(at);
}

void put(HeaderWriter& w, const WaveFormat& f) {
    size_t at = w.start_chunk("strf");
    w.u16(f.format_tag);
    w.u16(f.channels);
    w.u32(f.samples_per_sec);
    w.u32(f.avg_bytes_per_sec);
    w.u16(f.block_align);
    w.u16(f.bits_per_sample);
    w.u16(f.extra_size);
    w.end(at);
}

MainHeader main_header(const avi_out& avi, const FrameRate& fr, bool has_index) {
    MainHeader h;
    h.micro_sec_per_frame = fr.micro_sec_per_frame;
    h.flags = has_index ? (kFlagHasIndex | kFlagInterleaved) : kFlagInterleaved;
    h.total_frames = avi.video_frames;
    h.streams = static_cast<uint32_t>(avi.track_count) + 1;
    h.width = static_cast<uint32_t>(avi.width);
    h.height = static_cast<uint32_t>(avi.height);
    return h;
}

StreamHeader video_stream_header(const avi_out& avi, const FrameRate& fr) {
    StreamHeader h;
    std::memcpy(h.type, "vids", 4);
    std::memcpy(h.handler, avi.compressor, 4);
    h.scale = static_cast<uint32_t>(kMicroseconds);
    h.rate = fr.rate;
    h.length = avi.video_frames;
    return h;
}

BitmapInfo video_format(const avi_out& avi) {
    BitmapInfo f;
    f.width = avi.width;
    f.height = avi.height;
    std::memcpy(f.compression, avi.compressor, 4);
    // The format setter refused sizes whose product does not fit.
    f.image_size = static_cast<uint32_t>(static_cast<uint64_t>(avi.width) *
                                         static_cast<uint64_t>(avi.height) * 3);
    return f;
}

StreamHeader audio_stream_header(const avi_out_track& t) {
    uint64_t size = sample_size(t.channels, t.bits);
    StreamHeader h;
    std::memcpy(h.type, "auds", 4);
    h.scale = static_cast<uint32_t>(size / 4);
    h.rate = static_cast<uint32_t>(bytes_per_second(t.kbit_rate));
    // 64-bit: four times the bytes of a long track would not fit 32 bits.
    h.length = static_cast<uint32_t>(4 * static_cast<uint64_t>(t.bytes_written) / size);
    h.quality = 0xFFFFFFFF;
    h.sample_size = static_cast<uint32_t>(size / 4);
    return h;
}

WaveFormat audio_format(const avi_out_track& t) {
    WaveFormat f;
    f.format_tag = static_cast<uint16_t>(t.format_tag);
    f.channels = static_cast<uint16_t>(t.channels);
    f.samples_per_sec = static_cast<uint32_t>(t.rate);
    f.avg_bytes_per_sec = static_cast<uint32_t>(bytes_per_second(t.kbit_rate));
    f.block_align = static_cast<uint16_t>(sample_size(t.channels, t.bits) / 4);
    f.bits_per_sample = static_cast<uint16_t>(t.bits);
    return f;
}

bool writable_record(const avi_out* avi) { return avi != nullptr && avi->mode == AVI_OUT_WRITING; }

}  // namespace

int avi_out_video_format(avi_out* avi, int32_t width, int32_t height, double fps,
                         std::string_view fourcc) {
    if (!writable_record(avi)) return 0;
    if (width < 0 || height < 0) return 0;
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3 > UINT32_MAX) return 0;
    // The header's rate is fps x 1,000,000 in 32 bits; converting a larger value is undefined.
    if (std::isnan(fps) || fps * kMicroseconds + 0.5 >= 4294967296.0) return 0;
    if (!fourcc.empty() && fourcc.size() != 4) return 0;
    avi->width = width;
    avi->height = height;
    avi->fps = fps;
    if (fourcc.empty() || fourcc == "RGB ")
        std::memset(avi->compressor, 0, 4);
    else
        std::memcpy(avi->compressor, fourcc.data(), 4);
    return 1;
}

int avi_out_audio_format(avi_out* avi, int32_t channels, int32_t rate, int32_t bits,
                         uint32_t format_tag, int32_t kbit_rate) {
    if (!writable_record(avi)) return 0;
    if (avi->track_count < 0 || avi->track_count >= kAviMaxTracks) return 0;
    // Values the 16- and 32-bit header fields could only hold cut are refused.
    if (channels < 1 || channels > 0xFFFF || bits < 1 || bits > 0xFFFF || rate < 1) return 0;
    if (format_tag > 0xFFFF || kbit_rate < 0 || bytes_per_second(kbit_rate) > UINT32_MAX) return 0;
    if (sample_size(channels, bits) / 4 > 0xFFFF) return 0;
    avi_out_track& t = avi->tracks[avi->track_count];
    t = avi_out_track{};
    t.format_tag = format_tag;
    t.channels = channels;
    t.rate = rate;
    t.bits = bits;
    t.kbit_rate = kbit_rate;
    avi->current_track = avi->track_count;
    avi->track_count += 1;
    return 1;
}

int avi_out_build_header(const avi_out* avi, uint32_t movi_length, bool has_index,
                         uint8_t* header) {
    if (avi == nullptr || header == nullptr) return -1;
    if (avi->track_count < 0 || avi->track_count > kAviMaxTracks) return -1;
    std::memset(header, 0, kAviHeaderSize);
    FrameRate fr = frame_rate(avi->fps);
    HeaderWriter w(header, kAviHeaderSize);

    w.tag("RIFF");
    w.u32(avi->pos - 8);  // the whole file after this field
    w.tag("AVI ");
    size_t hdrl = w.start_list("hdrl");
    put(w, main_header(*avi, fr, has_index));

    size_t video = w.start_list("strl");
    put(w, video_stream_header(*avi, fr));
    put(w, video_format(*avi));
    w.end(video);

    for (int32_t i = 0; i < avi->track_count; ++i) {
        size_t audio = w.start_list("strl");
        put(w, audio_stream_header(avi->tracks[i]));
        put(w, audio_format(avi->tracks[i]));
        w.end(audio);
    }
    w.end(hdrl);

    // The JUNK chunk pads the stream lists out to the movi list at the end of the area.
    if (w.overflowed() || w.tell() + 8 >= kMoviListAt) return -1;
    size_t junk_length = kMoviListAt - 8 - w.tell();
    w.tag("JUNK");
    w.u32(static_cast<uint32_t>(junk_length));
    w.zeros(junk_length);

    w.tag("LIST");
    w.u32(movi_length);
    w.tag("movi");
    return w.overflowed() || w.tell() != kAviHeaderSize ? -1 : 0;
}
