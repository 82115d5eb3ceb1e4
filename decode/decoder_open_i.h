// Opening a decoder context for a channel.
#pragma once

#include "decode/av_handles.h"
#include "decode/channel_decoder.h"

namespace decode {

// A context for `codec` expecting pictures of about `size`, on one thread. 0 and the context in
// *out, or DECODE_E_CODEC / DECODE_E_MEMORY with *out untouched.
int open_decoder(VideoCodec codec, PictureSize size, const DecoderOptions& options,
                 CodecContextPtr* out);

// The options that may change on an open context.
void apply_options(const DecoderOptions& options, AVCodecContext* context);

}  // namespace decode
