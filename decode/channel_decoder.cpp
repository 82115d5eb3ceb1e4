// The channel's state machine: refuse what cannot be a frame, wait for a key frame, reopen on a
// change of codec or size, then hand the frame to libavcodec and keep the picture it gives.
#include "decode/channel_decoder.h"

#include <array>
#include <cstring>
#include <vector>

#include "decode/av_handles.h"
#include "decode/decode_errors.h"
#include "decode/decoder_open_i.h"

namespace decode {
namespace {

// Frames a decoder may hold back before their picture comes out, with room to spare.
constexpr size_t kTimeSlots = 64;

}  // namespace

struct ChannelDecoder::Impl {
    DecoderOptions options;
    DecoderCounters counters;
    CodecContextPtr context;
    FramePtr received{av_frame_alloc()};
    FramePtr shown{av_frame_alloc()};
    PacketPtr packet{av_packet_alloc()};
    std::vector<uint8_t> padded;  // the frame and the zeros decoders may read past its end
    VideoCodec codec = VideoCodec::None;
    PictureSize size;
    bool waiting_for_key = true;
    bool has_picture = false;
    DecodedPicture picture;
    // Frame times by packet number: a picture comes out with its packet's number even when the
    // decoder reorders.
    std::array<FrameTime, kTimeSlots> times{};
    int64_t next_number = 0;

    int accept_key_frame(const uint8_t* data, size_t length, uint32_t picture_size);
    int send(const uint8_t* data, size_t length, bool key, FrameTime time);
    int receive(FrameTime fallback);
    void forget_picture();
};

int ChannelDecoder::Impl::accept_key_frame(const uint8_t* data, size_t length,
                                           uint32_t picture_size) {
    PictureSize wanted;
    if (parse_picture_size(picture_size, &wanted) < 0) {
        ++counters.refused;
        waiting_for_key = true;
        return DECODE_E_PICTURE_SIZE;
    }
    const VideoCodec wanted_codec = codec_of(data, length);
    if (!context || wanted_codec != codec || !(wanted == size)) {
        context.reset();
        codec = VideoCodec::None;
        const int rc = open_decoder(wanted_codec, wanted, options, &context);
        if (rc < 0) {
            ++counters.failed;
            waiting_for_key = true;
            return rc;
        }
        ++counters.opens;
        codec = wanted_codec;
        size = wanted;
    }
    waiting_for_key = false;
    return 0;
}

int ChannelDecoder::Impl::send(const uint8_t* data, size_t length, bool key, FrameTime time) {
    const size_t needed = length + AV_INPUT_BUFFER_PADDING_SIZE;
    if (padded.size() < needed) padded.resize(needed);
    std::memcpy(padded.data(), data, length);
    std::memset(padded.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);

    const int64_t number = next_number++;
    times[static_cast<size_t>(number) % kTimeSlots] = time;
    av_packet_unref(packet.get());
    packet->data = padded.data();
    packet->size = static_cast<int>(length);  // at most kMaxFrameBytes
    packet->pts = number;
    packet->dts = number;
    packet->flags = key ? AV_PKT_FLAG_KEY : 0;
    const int rc = avcodec_send_packet(context.get(), packet.get());
    packet->data = nullptr;
    packet->size = 0;
    if (rc < 0) {
        ++counters.failed;
        return DECODE_E_DATA;
    }
    return receive(time);
}

int ChannelDecoder::Impl::receive(FrameTime fallback) {
    bool got = false;
    for (;;) {
        const int rc = avcodec_receive_frame(context.get(), received.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
        if (rc < 0) {
            ++counters.failed;
            return DECODE_E_DATA;
        }
        if (received->width <= 0 || received->height <= 0) {
            av_frame_unref(received.get());
            continue;
        }
        const int64_t number = received->pts;
        const bool known = number != AV_NOPTS_VALUE && number >= 0 && number < next_number &&
                           next_number - number <= static_cast<int64_t>(kTimeSlots);
        av_frame_unref(shown.get());
        av_frame_move_ref(shown.get(), received.get());
        picture = {shown->width, shown->height,
                   known ? times[static_cast<size_t>(number) % kTimeSlots] : fallback,
                   shown.get()};
        has_picture = true;
        ++counters.pictures;
        got = true;
    }
    // A decoder that holds no frames back owes a picture for every frame: none means the frame
    // was damaged beyond use, even where the decoder hid its errors.
    if (!got && context->has_b_frames == 0) {
        ++counters.failed;
        return DECODE_E_DATA;
    }
    return got ? 1 : 0;
}

void ChannelDecoder::Impl::forget_picture() {
    av_frame_unref(shown.get());
    picture = {};
    has_picture = false;
}

ChannelDecoder::ChannelDecoder(DecoderOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = options;
}

ChannelDecoder::~ChannelDecoder() = default;

int ChannelDecoder::decode(const uint8_t* data, size_t length, uint32_t picture_size,
                           FrameTime time) {
    Impl& d = *impl_;
    ++d.counters.frames;
    if (!d.received || !d.shown || !d.packet) return DECODE_E_MEMORY;
    if (data == nullptr || length == 0 || length > kMaxFrameBytes) {
        ++d.counters.refused;
        return DECODE_E_ARGUMENT;
    }
    const bool key = picture_size != 0;
    if (key) {
        const int rc = d.accept_key_frame(data, length, picture_size);
        if (rc < 0) return rc;
    } else if (d.waiting_for_key) {
        ++d.counters.before_key_frame;
        return DECODE_E_NO_KEY_FRAME;
    }
    return d.send(data, length, key, time);
}

const DecodedPicture* ChannelDecoder::picture() const {
    return impl_->has_picture ? &impl_->picture : nullptr;
}

void ChannelDecoder::reset() {
    if (impl_->context) avcodec_flush_buffers(impl_->context.get());
    impl_->waiting_for_key = true;
    impl_->forget_picture();
}

void ChannelDecoder::set_skip_loop_filter(bool skip) {
    impl_->options.skip_loop_filter = skip;
    if (impl_->context) apply_options(impl_->options, impl_->context.get());
}

const DecoderCounters& ChannelDecoder::counters() const { return impl_->counters; }
VideoCodec ChannelDecoder::codec() const { return impl_->codec; }
PictureSize ChannelDecoder::picture_size() const { return impl_->size; }

}  // namespace decode
