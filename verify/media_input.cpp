#include "verify/media_input.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace verify {

MediaInput::~MediaInput() {
    if (ctx_ != nullptr) avformat_close_input(&ctx_);
}

int MediaInput::open(const std::string& path, std::string* error) {
    if (ctx_ != nullptr) avformat_close_input(&ctx_);
    if (avformat_open_input(&ctx_, path.c_str(), nullptr, nullptr) < 0) {
        ctx_ = nullptr;
        *error = "cannot open " + path + " as a media file";
        return -1;
    }
    if (avformat_find_stream_info(ctx_, nullptr) < 0) {
        avformat_close_input(&ctx_);
        *error = "cannot read the streams of " + path;
        return -1;
    }
    return 0;
}

}  // namespace verify
