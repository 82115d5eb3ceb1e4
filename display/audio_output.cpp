#include "display/audio_output.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>

#include "decode/mulaw.h"
#include "disk/disk.h"
#include "playback/display_control.h"

namespace display {

double volume_gain(int volume) {
    const int v = std::clamp(volume, 0, kDisplayVolumeMax);
    if (v == 0) return 0.0;
    // About 2.5 dB a step below full volume.
    return std::pow(10.0, -2.5 * (kDisplayVolumeMax - v) / 20.0);
}

AudioOutput::AudioOutput(AudioJitter* jitter, QObject* parent)
    : QObject(parent), jitter_(jitter) {
    open();
}

AudioOutput::~AudioOutput() {
    if (sink_) sink_->stop();
}

void AudioOutput::open() {
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        state_ = AudioState::NoDevice;
        dvrfs_trace("display: no audio output device, playing silently\n");
        return;
    }
    QAudioFormat format;
    format.setSampleRate(8000);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    sink_ = std::make_unique<QAudioSink>(device, format);
    // A quarter second: several refreshes' worth, so that the pump on the refresh timer keeps
    // it from running dry, and little enough that the sound stays with the picture.
    sink_->setBufferSize(kSinkBufferBytes);
    device_ = sink_->start();
    if (device_ == nullptr || sink_->error() != QAudio::NoError) {
        state_ = AudioState::Failed;
        dvrfs_trace("display: the audio output did not start (error %d), playing silently\n",
                    static_cast<int>(sink_->error()));
        sink_->stop();
        sink_.reset();
        device_ = nullptr;
        return;
    }
    state_ = AudioState::Playing;
}

void AudioOutput::set_volume(int volume) { volume_ = std::clamp(volume, 0, kDisplayVolumeMax); }

void AudioOutput::pump() {
    if (state_ != AudioState::Playing) {
        while (jitter_->pop(codes_.data(), codes_.size()) > 0) {
        }
        return;
    }
    const double gain = volume_gain(volume_);
    qsizetype room = sink_->bytesFree() / 2;
    while (room > 0) {
        const size_t want = std::min(codes_.size(), static_cast<size_t>(room));
        const size_t n = jitter_->pop(codes_.data(), want);
        if (n == 0) break;
        decode::mulaw_decode(codes_.data(), n, samples_.data());
        for (size_t i = 0; i < n; ++i) {
            samples_[i] = static_cast<int16_t>(std::lround(samples_[i] * gain));
        }
        const qint64 bytes = static_cast<qint64>(n * 2);
        const qint64 put = device_->write(reinterpret_cast<const char*>(samples_.data()), bytes);
        if (put > 0) written_ += static_cast<uint64_t>(put);
        if (put < bytes) break;
        room -= static_cast<qsizetype>(n);
    }
}

}  // namespace display
