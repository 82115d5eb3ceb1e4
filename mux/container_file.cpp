#include "mux/container_file.h"

#include <cstring>
#include <string>
#include <vector>

#include "mux/aac_track.h"
#include "mux/parameter_sets.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

namespace mux {

namespace {

constexpr AVRational kMillis{1, 1000};
constexpr AVRational kSamples{1, ContainerWriter::kAudioRate};
// The duration of a file's last frame, which no later frame bounds.
constexpr int64_t kLastFrameMs = 40;
constexpr const char* kClockNote =
    "All times are the recorder's own clock as recorded, not shifted to any time zone.";

// The text track's sample description: no scrolling, centred at the bottom, transparent
// background, default text box, one style (font 1, 18 pt, white), and a font table naming
// font 1 "Sans".
std::vector<uint8_t> timed_text_description() {
    std::vector<uint8_t> d;
    auto u8 = [&](unsigned v) { d.push_back(static_cast<uint8_t>(v)); };
    auto u16 = [&](unsigned v) {
        u8(v >> 8);
        u8(v & 0xFF);
    };
    auto u32 = [&](unsigned v) {
        u16(v >> 16);
        u16(v & 0xFFFF);
    };
    u32(0);                          // display flags
    u8(1);                           // horizontal justification: centre
    u8(0xFF);                        // vertical justification: bottom
    u32(0);                          // background colour
    u16(0), u16(0), u16(0), u16(0);  // text box
    u16(0), u16(0), u16(1);          // style: characters 0..0, font 1
    u8(0), u8(18), u32(0xFFFFFFFF);  // plain, 18 pt, white
    const char* font = "Sans";
    const unsigned font_length = static_cast<unsigned>(std::strlen(font));
    u32(8 + 2 + 2 + 1 + font_length);
    for (const char* c = "ftab"; *c != 0; ++c) u8(static_cast<unsigned char>(*c));
    u16(1), u16(1), u8(font_length);
    for (const char* c = font; *c != 0; ++c) u8(static_cast<unsigned char>(*c));
    return d;
}

bool set_extradata(AVCodecParameters* par, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return true;
    par->extradata = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr) return false;
    std::memcpy(par->extradata, bytes.data(), bytes.size());
    par->extradata_size = static_cast<int>(bytes.size());
    return true;
}

class ContainerFile final : public ContainerWriter {
  public:
    explicit ContainerFile(ExportFormat format) : format_(format) {}
    ~ContainerFile() override;

    int32_t open(const std::string& path, const ContainerHeader& header) override;
    int32_t write_video(int64_t pts_ms, const uint8_t* data, int32_t length, bool key) override;
    int32_t write_audio(int64_t pts_samples, const uint8_t* data, int32_t length) override;
    int32_t write_caption(int64_t start_ms, int64_t end_ms, const std::string& text) override;
    int32_t finish() override;
    std::vector<ExportStream> streams() const override { return streams_; }
    std::string error() const override { return error_; }

  private:
    bool mp4() const { return format_ == ExportFormat::Mp4; }
    int32_t fail(const std::string& why);
    bool add_video(const ContainerHeader& header);
    bool add_audio();
    bool add_captions();
    int write(AVPacket* packet, AVStream* stream, AVRational from);
    int write_held_video(int64_t next_pts);

    ExportFormat format_;
    AVFormatContext* oc_ = nullptr;
    AVStream* video_ = nullptr;
    AVStream* audio_ = nullptr;
    AVStream* text_ = nullptr;
    AVPacket* held_ = nullptr;  // the last frame, until the next one gives its duration
    int64_t last_duration_ = kLastFrameMs;
    AacTrack aac_;
    bool started_ = false;
    bool failed_ = false;
    std::string error_;
    std::vector<ExportStream> streams_;
};

ContainerFile::~ContainerFile() {
    av_packet_free(&held_);
    if (oc_ != nullptr) {
        if (oc_->pb != nullptr) avio_closep(&oc_->pb);
        avformat_free_context(oc_);
    }
}

int32_t ContainerFile::fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    failed_ = true;
    return -1;
}

bool ContainerFile::add_video(const ContainerHeader& h) {
    video_ = avformat_new_stream(oc_, nullptr);
    if (video_ == nullptr) return false;
    AVCodecParameters* par = video_->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = h.h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4;
    par->width = h.width;
    par->height = h.height;
    const size_t n = static_cast<size_t>(h.key_frame_length);
    if (!set_extradata(par, h.h264 ? h264_parameter_sets(h.key_frame, n)
                                   : mpeg4_sequence_header(h.key_frame, n))) {
        return false;
    }
    video_->time_base = kMillis;
    video_->disposition = AV_DISPOSITION_DEFAULT;
    streams_.push_back(ExportStream{"video", h.h264 ? "h264" : "mpeg4", h.width, h.height, "",
                                    "copied",
                                    "the stored frames unchanged, at their recorder times"});
    return true;
}

bool ContainerFile::add_audio() {
    audio_ = avformat_new_stream(oc_, nullptr);
    if (audio_ == nullptr) return false;
    audio_->time_base = kSamples;
    audio_->disposition = AV_DISPOSITION_DEFAULT;
    const std::string rate = std::to_string(kAudioRate) + " Hz";
    if (mp4()) {
        if (aac_.open((oc_->oformat->flags & AVFMT_GLOBALHEADER) != 0, &error_) != 0) return false;
        if (avcodec_parameters_from_context(audio_->codecpar, aac_.context()) < 0) return false;
        streams_.push_back(ExportStream{"audio", "aac", 0, 0, rate, "transcoded",
                                        "AAC-LC, mono, 8 kHz, from the recorded 8 kHz mu-law"});
        return true;
    }
    AVCodecParameters* par = audio_->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_PCM_MULAW;
    par->sample_rate = kAudioRate;
    av_channel_layout_default(&par->ch_layout, 1);
    par->bits_per_coded_sample = 8;
    par->block_align = 1;
    par->bit_rate = int64_t{kAudioRate} * 8;
    streams_.push_back(ExportStream{"audio", "pcm_mulaw", 0, 0, rate, "copied",
                                    "the recorded mu-law bytes unchanged"});
    return true;
}

bool ContainerFile::add_captions() {
    text_ = avformat_new_stream(oc_, nullptr);
    if (text_ == nullptr) return false;
    AVCodecParameters* par = text_->codecpar;
    par->codec_type = AVMEDIA_TYPE_SUBTITLE;
    par->codec_id = mp4() ? AV_CODEC_ID_MOV_TEXT : AV_CODEC_ID_SUBRIP;
    if (mp4() && !set_extradata(par, timed_text_description())) return false;
    text_->time_base = kMillis;
    // Shown with the picture without the viewer having to pick it.
    text_->disposition = AV_DISPOSITION_DEFAULT;
    av_dict_set(&text_->metadata, "title", "Recorder time", 0);
    streams_.push_back(ExportStream{"subtitle", mp4() ? "mov_text" : "subrip", 0, 0, "",
                                    "generated", "the recorder's date and time of every second"});
    return true;
}

int32_t ContainerFile::open(const std::string& path, const ContainerHeader& header) {
    if (oc_ != nullptr) return fail("the file is open already");
    if (header.key_frame == nullptr || header.key_frame_length <= 0 || header.width <= 0 ||
        header.height <= 0) {
        return fail("no key frame to start the file with");
    }
    // "file:" keeps a name with a colon from being taken for another protocol.
    const std::string url = "file:" + path;
    const char* muxer = mp4() ? "mp4" : "matroska";
    if (avformat_alloc_output_context2(&oc_, nullptr, muxer, url.c_str()) < 0 || oc_ == nullptr) {
        return fail("no " + std::string(mp4() ? "MP4" : "Matroska") + " writer");
    }
    if (!add_video(header) || !add_audio() || !add_captions())
        return fail("cannot describe the streams");
    av_dict_set(&oc_->metadata, "creation_time", header.creation_time.c_str(), 0);
    av_dict_set(&oc_->metadata, "comment", kClockNote, 0);
    held_ = av_packet_alloc();
    if (held_ == nullptr) return fail("out of memory");
    if (avio_open(&oc_->pb, url.c_str(), AVIO_FLAG_WRITE) < 0) return fail("cannot write " + path);
    AVDictionary* options = nullptr;
    // The index goes before the data, so that the file plays while it is still downloading.
    if (mp4()) av_dict_set(&options, "movflags", "+faststart", 0);
    const int rc = avformat_write_header(oc_, &options);
    av_dict_free(&options);
    if (rc < 0) return fail("cannot start " + path);
    started_ = true;
    return 0;
}

int ContainerFile::write(AVPacket* packet, AVStream* stream, AVRational from) {
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet, from, stream->time_base);
    const int rc = av_interleaved_write_frame(oc_, packet);
    return rc < 0 ? fail("a write failed") : 0;
}

int ContainerFile::write_held_video(int64_t next_pts) {
    if (held_->data == nullptr) return 0;
    if (next_pts > held_->pts) last_duration_ = next_pts - held_->pts;
    held_->duration = last_duration_;
    const int rc = write(held_, video_, kMillis);
    av_packet_unref(held_);
    return rc;
}

int32_t ContainerFile::write_video(int64_t pts_ms, const uint8_t* data, int32_t length, bool key) {
    if (!started_ || failed_ || data == nullptr || length <= 0) return -1;
    if (write_held_video(pts_ms) != 0) return -1;
    if (av_new_packet(held_, length) < 0) return fail("out of memory");
    std::memcpy(held_->data, data, static_cast<size_t>(length));
    held_->pts = held_->dts = pts_ms;
    if (key) held_->flags |= AV_PKT_FLAG_KEY;
    return 0;
}

int32_t ContainerFile::write_audio(int64_t pts_samples, const uint8_t* data, int32_t length) {
    if (!started_ || failed_ || data == nullptr || length <= 0) return -1;
    if (mp4()) {
        return aac_.push(pts_samples, data, length,
                         [this](AVPacket* p) { return write(p, audio_, kSamples); }) == 0
                   ? 0
                   : fail("the sound could not be encoded");
    }
    AVPacket* p = av_packet_alloc();
    if (p == nullptr || av_new_packet(p, length) < 0) {
        av_packet_free(&p);
        return fail("out of memory");
    }
    std::memcpy(p->data, data, static_cast<size_t>(length));
    p->pts = p->dts = pts_samples;
    p->duration = length;
    p->flags |= AV_PKT_FLAG_KEY;
    const int rc = write(p, audio_, kSamples);
    av_packet_free(&p);
    return rc;
}

int32_t ContainerFile::write_caption(int64_t start_ms, int64_t end_ms, const std::string& text) {
    if (!started_ || failed_ || end_ms <= start_ms) return -1;
    // A timed-text sample is the text's length (16 bits, big-endian) and the text.
    const size_t head = mp4() ? 2 : 0;
    const size_t n = std::min<size_t>(text.size(), 0xFFFF);
    AVPacket* p = av_packet_alloc();
    if (p == nullptr || av_new_packet(p, static_cast<int>(head + n)) < 0) {
        av_packet_free(&p);
        return fail("out of memory");
    }
    if (mp4()) {
        p->data[0] = static_cast<uint8_t>(n >> 8);
        p->data[1] = static_cast<uint8_t>(n & 0xFF);
    }
    std::memcpy(p->data + head, text.data(), n);
    p->pts = p->dts = start_ms;
    p->duration = end_ms - start_ms;
    p->flags |= AV_PKT_FLAG_KEY;
    const int rc = write(p, text_, kMillis);
    av_packet_free(&p);
    return rc;
}

int32_t ContainerFile::finish() {
    if (!started_) return -1;
    started_ = false;
    bool ok = !failed_;
    ok = write_held_video(AV_NOPTS_VALUE) == 0 && ok;
    if (mp4()) {
        ok = aac_.flush([this](AVPacket* p) { return write(p, audio_, kSamples); }) == 0 && ok;
    }
    ok = av_write_trailer(oc_) == 0 && ok;
    ok = avio_closep(&oc_->pb) == 0 && ok;
    return ok ? 0 : fail("the file could not be finished");
}

}  // namespace

std::unique_ptr<ContainerWriter> make_container_writer(ExportFormat format) {
    if (format == ExportFormat::Avi) return nullptr;
    return std::make_unique<ContainerFile>(format);
}

void quiet_library_notes() {
    av_log_set_level(AV_LOG_ERROR);
}

}  // namespace mux
