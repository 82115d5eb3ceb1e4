// The sound of the heard channel: one long-lived QAudioSink (8000 Hz, mono, 16-bit) in push
// mode, fed from the jitter buffer no faster than it drains. Without a sound device, or when
// the sink does not start, the display stays silent and says so once in the trace.
#pragma once

#include <QObject>

#include <array>
#include <cstdint>
#include <memory>

#include "display/audio_jitter.h"

class QAudioSink;
class QIODevice;

namespace display {

enum class AudioState {
    Playing,   // the sink took the stream
    NoDevice,  // the system has no audio output
    Failed,    // the device is there but the sink did not start
};

// Bytes the sink buffers: 250 ms of 8 kHz 16-bit mono.
inline constexpr qsizetype kSinkBufferBytes = 4000;

// Gain of a volume step 0..15: 0 mutes, 15 is unity, steps in between follow the ear.
double volume_gain(int volume);

class AudioOutput : public QObject {
    Q_OBJECT
public:
    explicit AudioOutput(AudioJitter* jitter, QObject* parent = nullptr);
    ~AudioOutput() override;

    void set_volume(int volume);
    int volume() const { return volume_; }
    // Moves what the sink can take now from the jitter buffer; what cannot be heard (no
    // device) is discarded so that the buffer never holds stale sound.
    void pump();

    AudioState state() const { return state_; }
    // Bytes of 16-bit samples written to the sink.
    uint64_t written() const { return written_; }

private:
    void open();

    AudioJitter* jitter_;
    std::unique_ptr<QAudioSink> sink_;
    QIODevice* device_ = nullptr;
    AudioState state_ = AudioState::NoDevice;
    int volume_ = 0;
    uint64_t written_ = 0;
    std::array<uint8_t, 1024> codes_{};
    std::array<int16_t, 1024> samples_{};
};

}  // namespace display
