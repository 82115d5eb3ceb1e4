// Audio for sample recordings: 8 kHz mu-law (G.711) samples of a steady tone whose pitch tells
// the audio channel, continuous in phase across records so that joined records play cleanly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sample {

constexpr int kAudioSampleRate = 8000;

// G.711 mu-law of a 16-bit linear sample, and back (decoding gives the middle of the step).
uint8_t linear_to_mulaw(int16_t sample);
int16_t mulaw_to_linear(uint8_t code);

// The tone's frequency in hertz for an audio channel (0..3 on a recorder; any channel works).
int tone_frequency(int audio_channel);

// `count` mu-law samples of the channel's tone, the first one `offset` samples after the start
// of recorder second `time`.
std::vector<uint8_t> tone_samples(int audio_channel, uint32_t time, size_t count,
                                  uint32_t offset = 0);

}  // namespace sample
