#include "tools/sample/audio_samples.h"

#include <cmath>
#include <numbers>

namespace sample {
namespace {

constexpr int kBias = 0x84;   // added before the segment search so that segment 0 is linear
constexpr int kClip = 32635;  // largest magnitude that still fits after the bias
constexpr double kAmplitude = 8000.0;  // about -12 dB below full scale

}  // namespace

uint8_t linear_to_mulaw(int16_t sample) {
    int magnitude = sample;
    uint8_t sign = 0;
    if (magnitude < 0) {
        magnitude = -magnitude;  // int, so -32768 does not overflow
        sign = 0x80;
    }
    if (magnitude > kClip) magnitude = kClip;
    magnitude += kBias;
    // Segment: position of the highest set bit above bit 7 (the bias keeps bit 7 or higher set).
    int segment = 0;
    for (int v = magnitude >> 8; v != 0; v >>= 1) ++segment;
    const int mantissa = (magnitude >> (segment + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | (segment << 4) | mantissa));
}

int16_t mulaw_to_linear(uint8_t code) {
    const int bits = static_cast<uint8_t>(~code);
    const int segment = (bits >> 4) & 0x07;
    const int magnitude = (((bits & 0x0F) << 3) + kBias) << segment;
    return static_cast<int16_t>((bits & 0x80) ? kBias - magnitude : magnitude - kBias);
}

int tone_frequency(int audio_channel) {
    const int index = ((audio_channel % 16) + 16) % 16;
    return 400 + 200 * index;  // 400 .. 3,400 Hz, below the 4 kHz limit of 8 kHz sampling
}

std::vector<uint8_t> tone_samples(int audio_channel, uint32_t time, size_t count, uint32_t offset) {
    const uint64_t frequency = static_cast<uint64_t>(tone_frequency(audio_channel));
    // The phase is worked out in whole samples modulo one second, so it stays exact for any
    // recorder time and continues across calls.
    uint64_t n = (static_cast<uint64_t>(time) * kAudioSampleRate + offset) % kAudioSampleRate;
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i) {
        const uint64_t step = (frequency * n) % kAudioSampleRate;
        const double angle = 2.0 * std::numbers::pi * static_cast<double>(step) / kAudioSampleRate;
        const auto value = static_cast<int16_t>(std::lround(kAmplitude * std::sin(angle)));
        out[i] = linear_to_mulaw(value);
        n = (n + 1) % kAudioSampleRate;
    }
    return out;
}

}  // namespace sample
