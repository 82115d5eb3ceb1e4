#include "mux/aac_track.h"

#include <algorithm>
#include <cstring>

#include "decode/mulaw.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace mux {

namespace {

constexpr float kFullScale = 32768.0f;
constexpr int64_t kSilenceChunk = 4096;

}  // namespace

AacTrack::~AacTrack() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&ctx_);
}

int AacTrack::open(bool global_header, std::string* error) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    ctx_ = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (ctx_ == nullptr || frame_ == nullptr || packet_ == nullptr) {
        if (error != nullptr) *error = "no AAC encoder";
        return -1;
    }
    ctx_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx_->sample_rate = kSampleRate;
    av_channel_layout_default(&ctx_->ch_layout, 1);
    ctx_->bit_rate = kBitRate;
    ctx_->profile = FF_PROFILE_AAC_LOW;
    ctx_->time_base = AVRational{1, kSampleRate};
    if (global_header) ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(ctx_, codec, nullptr) < 0) {
        if (error != nullptr) *error = "the AAC encoder refused 8 kHz mono";
        return -1;
    }
    held_.reserve(static_cast<size_t>(ctx_->frame_size));
    return 0;
}

int AacTrack::drain(const PacketSink& sink) {
    for (;;) {
        const int rc = avcodec_receive_packet(ctx_, packet_);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
        if (rc < 0) return -1;
        const int sunk = sink(packet_);
        av_packet_unref(packet_);
        if (sunk != 0) return -1;
    }
}

// One frame of the held samples (all of them at the end of the sound).
int AacTrack::encode(int nb_samples, const PacketSink& sink) {
    av_frame_unref(frame_);
    frame_->format = ctx_->sample_fmt;
    frame_->sample_rate = ctx_->sample_rate;
    frame_->nb_samples = nb_samples;
    if (av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout) < 0 ||
        av_frame_get_buffer(frame_, 0) < 0) {
        return -1;
    }
    std::memcpy(frame_->data[0], held_.data(), sizeof(float) * static_cast<size_t>(nb_samples));
    frame_->pts = next_pts_;
    held_.erase(held_.begin(), held_.begin() + nb_samples);
    next_pts_ += nb_samples;
    if (avcodec_send_frame(ctx_, frame_) < 0) return -1;
    return drain(sink);
}

// Samples after the held ones; null samples are silence.
int AacTrack::append(const float* samples, int64_t count, const PacketSink& sink) {
    const int64_t frame = ctx_->frame_size;
    while (count > 0) {
        const int64_t room = frame - static_cast<int64_t>(held_.size());
        const int64_t n = std::min(room, count);
        if (samples != nullptr) {
            held_.insert(held_.end(), samples, samples + n);
            samples += n;
        } else {
            held_.insert(held_.end(), static_cast<size_t>(n), 0.0f);
        }
        count -= n;
        if (static_cast<int64_t>(held_.size()) == frame &&
            encode(static_cast<int>(frame), sink) != 0) {
            return -1;
        }
    }
    return 0;
}

int AacTrack::push(int64_t pts, const uint8_t* mulaw, int32_t count, const PacketSink& sink) {
    if (ctx_ == nullptr || mulaw == nullptr || count <= 0) return 0;
    if (!started_) {
        next_pts_ = pts;
        started_ = true;
    }
    int64_t gap = pts - (next_pts_ + static_cast<int64_t>(held_.size()));
    while (gap > 0) {
        const int64_t n = std::min(gap, kSilenceChunk);
        if (append(nullptr, n, sink) != 0) return -1;
        gap -= n;
    }
    std::vector<float> samples(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        samples[static_cast<size_t>(i)] = decode::mulaw_expand(mulaw[i]) / kFullScale;
    }
    return append(samples.data(), count, sink);
}

int AacTrack::flush(const PacketSink& sink) {
    if (ctx_ == nullptr) return 0;
    if (!held_.empty() && encode(static_cast<int>(held_.size()), sink) != 0) return -1;
    if (avcodec_send_frame(ctx_, nullptr) < 0) return -1;
    return drain(sink);
}

}  // namespace mux
