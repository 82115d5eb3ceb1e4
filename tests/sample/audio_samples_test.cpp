#include "tools/sample/audio_samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

namespace {

using sample::linear_to_mulaw;
using sample::mulaw_to_linear;
using sample::tone_samples;

TEST(Mulaw, MatchesTheG711Table) {
    EXPECT_EQ(linear_to_mulaw(0), 0xFF);
    EXPECT_EQ(linear_to_mulaw(-1), 0x7F);
    EXPECT_EQ(linear_to_mulaw(32767), 0x80);
    EXPECT_EQ(linear_to_mulaw(-32768), 0x00);

    // Rows of the G.711 decoding table: the loudest segment in steps of 1024, the next in
    // steps of 512, the quietest in steps of 8 down to zero.
    EXPECT_EQ(mulaw_to_linear(0x00), -32124);
    EXPECT_EQ(mulaw_to_linear(0x01), -31100);
    EXPECT_EQ(mulaw_to_linear(0x0F), -16764);
    EXPECT_EQ(mulaw_to_linear(0x10), -15996);
    EXPECT_EQ(mulaw_to_linear(0x11), -15484);
    EXPECT_EQ(mulaw_to_linear(0x70), -120);
    EXPECT_EQ(mulaw_to_linear(0x7E), -8);
    EXPECT_EQ(mulaw_to_linear(0x7F), 0);
    EXPECT_EQ(mulaw_to_linear(0x80), 32124);
    EXPECT_EQ(mulaw_to_linear(0x8F), 16764);
    EXPECT_EQ(mulaw_to_linear(0xFE), 8);
    EXPECT_EQ(mulaw_to_linear(0xFF), 0);
}

TEST(Mulaw, EveryCodeSurvivesARoundTrip) {
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<uint8_t>(code);
        // 0x7F is minus zero, which encodes as plus zero.
        const uint8_t expected = c == 0x7F ? 0xFF : c;
        EXPECT_EQ(linear_to_mulaw(mulaw_to_linear(c)), expected) << code;
    }
}

TEST(Mulaw, EncodingIsMonotonicSymmetricAndWithinHalfAStep) {
    int previous = mulaw_to_linear(linear_to_mulaw(-32768));
    for (int x = -32768; x <= 32767; ++x) {
        const auto sample = static_cast<int16_t>(x);
        const uint8_t code = linear_to_mulaw(sample);
        const int back = mulaw_to_linear(code);
        ASSERT_GE(back, previous) << x;
        previous = back;
        const int magnitude = std::abs(x);
        if (magnitude <= 32635) {
            // Steps double per segment; a step is at most 1/16 of the biased magnitude.
            ASSERT_LE(std::abs(back - x), (magnitude + 132) / 32 + 1) << x;
        } else {
            ASSERT_EQ(std::abs(back), 32124) << x;  // clipped to the loudest code
        }
        if (x > 0) {
            ASSERT_EQ(linear_to_mulaw(static_cast<int16_t>(-x)), code ^ 0x80) << x;
        }
    }
}

std::vector<int> decoded(const std::vector<uint8_t>& codes) {
    std::vector<int> out;
    for (uint8_t c : codes) out.push_back(mulaw_to_linear(c));
    return out;
}

TEST(Tone, EachChannelHasItsOwnPitchAndALevelBelowClipping) {
    std::set<int> frequencies;
    for (int channel = 0; channel < 4; ++channel) {
        const std::vector<int> one_second =
            decoded(tone_samples(channel, 1000, sample::kAudioSampleRate));
        ASSERT_EQ(one_second.size(), size_t{sample::kAudioSampleRate});
        int crossings = 0;
        int peak = 0;
        for (size_t i = 1; i < one_second.size(); ++i) {
            crossings += (one_second[i - 1] < 0) != (one_second[i] < 0);
            peak = std::max(peak, std::abs(one_second[i]));
        }
        const int frequency = sample::tone_frequency(channel);
        EXPECT_LT(frequency, sample::kAudioSampleRate / 2);
        EXPECT_NEAR(crossings, 2 * frequency, 2) << "channel " << channel;
        EXPECT_GT(peak, 4000);
        EXPECT_LT(peak, 30000);
        frequencies.insert(frequency);
    }
    EXPECT_EQ(frequencies.size(), 4u);
}

TEST(Tone, ContinuesAcrossCallsSecondsAndTheEndOfTime) {
    for (uint32_t time : {uint32_t{1000}, uint32_t{0xFFFFFFFE}}) {
        const std::vector<uint8_t> two_seconds = tone_samples(2, time, 16000);
        std::vector<uint8_t> joined = tone_samples(2, time, 8000);
        const std::vector<uint8_t> next = tone_samples(2, time + 1, 8000);
        joined.insert(joined.end(), next.begin(), next.end());
        EXPECT_EQ(joined, two_seconds) << time;

        const std::vector<uint8_t> middle = tone_samples(2, time, 100, 4321);
        EXPECT_TRUE(std::equal(middle.begin(), middle.end(), two_seconds.begin() + 4321)) << time;
    }
    EXPECT_TRUE(tone_samples(0, 5, 0).empty());
}

}  // namespace
