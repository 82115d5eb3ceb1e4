#include "decode/decoder_open_i.h"

extern "C" {
#include <libavutil/log.h>
}

#include "decode/decode_errors.h"

namespace decode {
namespace {

// The decoder's buffers are larger than the picture (edges, alignment), and the stream may code
// a somewhat larger picture than the recorder states; but never one that has the decoder
// allocate far beyond it.
int64_t pixel_limit(PictureSize size) {
    return 4 * (int64_t{size.width} + 64) * (int64_t{size.height} + 64);
}

}  // namespace

void apply_options(const DecoderOptions& options, AVCodecContext* context) {
    context->skip_loop_filter = options.skip_loop_filter ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
}

int open_decoder(VideoCodec codec, PictureSize size, const DecoderOptions& options,
                 CodecContextPtr* out) {
    if (codec == VideoCodec::None) return DECODE_E_CODEC;
    const AVCodec* decoder =
        avcodec_find_decoder(codec == VideoCodec::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MPEG4);
    if (decoder == nullptr) return DECODE_E_CODEC;
    CodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context) return DECODE_E_MEMORY;
    // Frame threads would hold several pictures and their memory per channel for nothing: the
    // channels themselves are decoded in parallel.
    context->thread_count = 1;
    context->max_pixels = pixel_limit(size);
    // MPEG-4 part 2 streams without a VOL header need the size from outside.
    context->width = size.width;
    context->height = size.height;
    // Damaged frames are counted by the channel; the decoder's own report of each would flood
    // standard error, where the trace goes.
    context->log_level_offset = AV_LOG_DEBUG - AV_LOG_ERROR;
    apply_options(options, context.get());
    if (avcodec_open2(context.get(), decoder, nullptr) < 0) return DECODE_E_CODEC;
    *out = std::move(context);
    return 0;
}

}  // namespace decode
