// The list is made by libavformat's own framehash muxer, fed as a stream copy feeds it: the
// packets of the video streams in file order, from the first key frame on, with the streams'
// own time bases and the input's start time taken off, so that the bytes equal what the
// command line tool prints.
#include "verify/frame_hash.h"

#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mathematics.h>
}

#include "verify/media_input.h"

namespace verify {
namespace {

struct OutputContext {
    AVFormatContext* ctx = nullptr;
    ~OutputContext() {
        if (ctx == nullptr) return;
        if (ctx->pb != nullptr) {
            uint8_t* left = nullptr;
            avio_close_dyn_buf(ctx->pb, &left);
            av_free(left);
        }
        avformat_free_context(ctx);
    }
};

struct Copied {
    int out_index = -1;        // -1: not a video stream
    bool started = false;      // a key frame has passed
    int64_t offset = 0;        // the input's start time in the stream's time base, taken off
    bool no_reorder = false;   // frames are stored in the order they are shown
};

std::string av_message(int rc) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, text, sizeof text);
    return text;
}

// One output stream per video stream of the input, in order, as "-map 0:v -c copy" makes them.
int add_streams(const MediaInput& in, AVFormatContext* out, std::vector<Copied>* copied,
                std::string* error) {
    AVFormatContext* ic = in.context();
    copied->assign(ic->nb_streams, Copied{});
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* ist = ic->streams[i];
        if (ist->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        AVStream* ost = avformat_new_stream(out, nullptr);
        if (ost == nullptr || avcodec_parameters_copy(ost->codecpar, ist->codecpar) < 0) {
            *error = "out of memory";
            return -1;
        }
        ost->codecpar->codec_tag = 0;
        ost->time_base = ist->time_base;
        const AVRational sar = ist->sample_aspect_ratio.num != 0 ? ist->sample_aspect_ratio
                                                                 : ist->codecpar->sample_aspect_ratio;
        ost->sample_aspect_ratio = sar;
        ost->codecpar->sample_aspect_ratio = sar;
        Copied& c = (*copied)[i];
        c.out_index = ost->index;
        c.no_reorder = ist->codecpar->video_delay == 0;
        if (ic->start_time != AV_NOPTS_VALUE) {
            c.offset = av_rescale_q(ic->start_time, AV_TIME_BASE_Q, ist->time_base);
        }
    }
    if (out->nb_streams == 0) {
        *error = "no video stream";
        return -1;
    }
    return 0;
}

int copy_packets(const MediaInput& in, AVFormatContext* out, std::vector<Copied>& copied,
                 std::string* error) {
    AVPacket* pkt = av_packet_alloc();
    if (pkt == nullptr) {
        *error = "out of memory";
        return -1;
    }
    int rc = 0;
    while ((rc = av_read_frame(in.context(), pkt)) >= 0) {
        const auto index = static_cast<size_t>(pkt->stream_index);
        if (index < copied.size() && copied[index].out_index >= 0) {
            Copied& c = copied[index];
            // A copy starts at the first key frame: what comes before it cannot be decoded.
            c.started = c.started || (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            if (c.started) {
                if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= c.offset;
                if (pkt->dts != AV_NOPTS_VALUE) pkt->dts -= c.offset;
                // Without reordering the writer would take the decoding time as the
                // presentation time itself; given here, it needs no warning.
                if (pkt->pts == AV_NOPTS_VALUE && pkt->dts != AV_NOPTS_VALUE && c.no_reorder) pkt->pts = pkt->dts;
                pkt->stream_index = c.out_index;
                pkt->pos = -1;
                rc = av_interleaved_write_frame(out, pkt);
                if (rc < 0) break;
            }
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    if (rc < 0 && rc != AVERROR_EOF) {
        *error = "reading the packets failed: " + av_message(rc);
        return -1;
    }
    return 0;
}

}  // namespace

int frame_hash_list(const std::string& media, std::string* text, std::string* error) {
    std::string local;
    if (error == nullptr) error = &local;
    MediaInput in;
    if (in.open(media, error) != 0) return -1;
    OutputContext out;
    if (avformat_alloc_output_context2(&out.ctx, nullptr, "framehash", nullptr) < 0 ||
        avio_open_dyn_buf(&out.ctx->pb) < 0) {
        *error = "the frame hash writer is missing";
        return -1;
    }
    std::vector<Copied> copied;
    if (add_streams(in, out.ctx, &copied, error) != 0) return -1;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "hash", "sha256", 0);
    const int rc = avformat_write_header(out.ctx, &options);
    av_dict_free(&options);
    if (rc < 0) {
        *error = "the frame hash writer refused the streams: " + av_message(rc);
        return -1;
    }
    if (copy_packets(in, out.ctx, copied, error) != 0) return -1;
    if (av_write_trailer(out.ctx) < 0) {
        *error = "the frame hash list could not be finished";
        return -1;
    }
    uint8_t* bytes = nullptr;
    const int size = avio_close_dyn_buf(out.ctx->pb, &bytes);
    out.ctx->pb = nullptr;
    text->assign(reinterpret_cast<const char*>(bytes), size > 0 ? static_cast<size_t>(size) : 0);
    av_free(bytes);
    return 0;
}

int write_frame_hash_list(const std::string& media, std::string* written, std::string* error) {
    std::string local;
    if (error == nullptr) error = &local;
    std::string text;
    if (frame_hash_list(media, &text, error) != 0) return -1;
    const std::string path = media + kFrameHashSuffix;
    if (write_side_file(path, text, error) != 0) return -1;
    if (written != nullptr) *written = path;
    return 0;
}

}  // namespace verify

namespace verify {

std::vector<ExportSideFile> FrameHashSideFiles::make(const std::string& media, std::string* error) {
    std::string written;
    if (write_frame_hash_list(media, &written, error) != 0) return {};
    return {ExportSideFile{"framehash", written}};
}

}  // namespace verify
