// Compressed video for sample recordings: test-pattern pictures encoded one GOP at a time as a
// recorder's encoder would deliver them. Each GOP opens with a key frame that a decoder can start
// from (H.264: SPS, PPS and an IDR slice; MPEG-4 part 2: the VOL header and an I-VOP), followed
// by P-frames only. H.264 frames are Annex B and always start with 00 00 00 01, which is how the
// rest of the program tells them from MPEG-4 frames.
//
// Encoding is slow under the sanitizers: tests should encode a short clip once (per suite) and
// reuse its frames rather than encode per test.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sample {

enum class Codec { H264, Mpeg4 };

struct EncodedFrame {
    std::vector<uint8_t> bytes;
    bool key = false;
};

class VideoEncoder {
  public:
    // nullptr, with a message in *error (when given), if the size or rate is unusable or the
    // codec cannot be opened. Width and height must be even.
    static std::unique_ptr<VideoEncoder> create(Codec codec, int width, int height, int fps,
                                                std::string* error);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // One GOP of `frames` frames showing the channel and recorder time, frame i at
    // time + i / fps seconds; the caption also carries the frame's number within its second.
    // Empty, with a message in *error, on failure.
    std::vector<EncodedFrame> encode_gop(int video_channel, uint32_t time, int frames,
                                         std::string* error = nullptr);

    Codec codec() const;
    int width() const;
    int height() const;
    int fps() const;

  private:
    struct Impl;
    explicit VideoEncoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Makes an Annex B frame start with a 4-byte start code: a leading 00 00 01 becomes
// 00 00 00 01. False when the frame does not start with a start code at all.
bool ensure_long_start_code(std::vector<uint8_t>& frame);

}  // namespace sample
