// The MP4 file's sound: the recorder's 8 kHz mu-law transcoded to AAC-LC, mono, at 8 kHz,
// because MP4 players commonly play no mu-law. A gap in the sound is encoded as silence so that
// the sound stays in step with the pictures after it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace mux {

class AacTrack {
  public:
    static constexpr int32_t kSampleRate = 8000;
    static constexpr int64_t kBitRate = 24000;

    // Receives each encoded packet, timed in 1/kSampleRate; nonzero stops the encoding.
    using PacketSink = std::function<int(AVPacket*)>;

    AacTrack() = default;
    ~AacTrack();
    AacTrack(const AacTrack&) = delete;
    AacTrack& operator=(const AacTrack&) = delete;

    // global_header: the container wants the decoder configuration in its header. 0, or -1
    // with a message.
    int open(bool global_header, std::string* error);
    const AVCodecContext* context() const { return ctx_; }

    // mu-law samples starting at sample pts; samples before pts that nothing covered are
    // silence. 0, or -1 when the encoder or the sink failed.
    int push(int64_t pts, const uint8_t* mulaw, int32_t count, const PacketSink& sink);
    // Encodes what is held and drains the encoder.
    int flush(const PacketSink& sink);

  private:
    int append(const float* samples, int64_t count, const PacketSink& sink);
    int encode(int nb_samples, const PacketSink& sink);
    int drain(const PacketSink& sink);

    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<float> held_;  // fewer samples than one frame
    int64_t next_pts_ = 0;     // of held_[0]
    bool started_ = false;
};

}  // namespace mux
