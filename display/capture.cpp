#include "display/capture.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <cstring>
#include <vector>

#include "decode/av_handles.h"
#include "decode/rgb_converter.h"
#include "display/channel_state.h"
#include "export/still_capture.h"

namespace display {

int32_t capture_channel(const ChannelState& channel, const std::string& path) {
    decode::FramePtr frame(av_frame_alloc());
    decode::FrameTime time;
    if (!frame || !channel.last_frame(frame.get(), &time)) return kCaptureNoPicture;
    decode::DecodedPicture picture;
    picture.width = frame->width;
    picture.height = frame->height;
    picture.time = time;
    picture.frame = frame.get();
    // Exact scaling at the decoded size: what is saved is never the tile's cheap picture.
    decode::RgbConverter converter;
    decode::RgbImage image;
    if (converter.convert(picture, &image, 0, 0, decode::RgbFormat::Rgb24,
                          decode::Scaling::Exact) != 0) {
        return kCaptureConvert;
    }
    const size_t row = static_cast<size_t>(image.width()) * 3;
    std::vector<uint8_t> rows(row * static_cast<size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(&rows[row * static_cast<size_t>(y)],
                    image.pixels() + static_cast<size_t>(image.stride()) * static_cast<size_t>(y),
                    row);
    }
    return still_write_bmp(path, rows.data(), image.width(), image.height(), nullptr);
}

}  // namespace display
