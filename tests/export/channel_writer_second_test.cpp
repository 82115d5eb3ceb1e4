// The writer thread's seconds without the thread: records go through the group slots into the
// placer, whose frames, audio chunks and subtitle lines a recording sink keeps in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "export/placement.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Event {
    char type;  // 'V' video frame, 'A' audio chunk, 'S' subtitle line
    Bytes bytes;
    std::string text;
};

class RecordingSink : public StreamSink {
  public:
    void video_frame(const uint8_t* data, int32_t length, bool key) override {
        EXPECT_TRUE(length > 0 || !key) << "an empty frame is never a key frame";
        events.push_back({'V', Bytes(data, data + length), {}});
    }
    void audio_chunk(const uint8_t* data, int32_t length) override {
        events.push_back({'A', Bytes(data, data + length), {}});
    }
    void subtitle(std::string_view line) override {
        events.push_back({'S', {}, std::string(line)});
    }

    std::vector<Bytes> of(char type) const {
        std::vector<Bytes> r;
        for (const Event& e : events) {
            if (e.type == type) r.push_back(e.bytes);
        }
        return r;
    }
    std::string text() const {
        std::string s;
        for (const Event& e : events) s += e.text;
        return s;
    }
    std::string types() const {
        std::string s;
        for (const Event& e : events) s += e.type;
        return s;
    }
    // Positions of the frames with data within the first `fps` frames.
    std::vector<size_t> positions(size_t fps) const {
        std::vector<size_t> p;
        const auto v = of('V');
        for (size_t i = 0; i < v.size() && i < fps; ++i) {
            if (!v[i].empty()) p.push_back(i);
        }
        return p;
    }

    std::vector<Event> events;
};

// Four bytes naming a frame, so that every frame written can be traced back.
Bytes payload(uint32_t id) {
    return {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8), 0xAB, 0xCD};
}

Bytes ramp(size_t n, uint8_t start) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(start + i * 7);
    return v;
}

Bytes silence(size_t n) {
    return Bytes(n, kSilenceByte);
}

class SecondTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(collector.allocate());
        DateTime t{};
        t.year = 2026, t.month = 3, t.day = 14, t.hour = 7;  // 07:00:00
        systemtime_to_time(&t, &base);
    }
    void start(bool pal = false) { placer = std::make_unique<SecondPlacer>(pal, sink, &cancel); }

    void video(uint32_t second, uint16_t ms, const Bytes& data, bool key = false) {
        QueuedHeader h{};
        h.kind = kRecordVideo;
        h.time_stamp = base + second;
        time_to_systemtime(h.time_stamp, &h.time);
        h.time.milliseconds = ms;
        h.key = key ? 1 : 0;
        h.length = static_cast<int32_t>(data.size());
        collector.add(h, data.data(), *placer);
    }
    void audio(uint32_t second, const Bytes& data) {
        QueuedHeader h{};
        h.kind = kRecordAudio;
        time_to_systemtime(base + second, &h.time);
        h.length = static_cast<int32_t>(data.size());
        collector.add(h, data.data(), *placer);
    }

    uint32_t base = 0;
    std::atomic<bool> cancel{false};
    RecordingSink sink;
    GroupCollector collector;
    std::unique_ptr<SecondPlacer> placer;
};

TEST_F(SecondTest, SubtitlesAndStreamsOfSecondsWithAHole) {
    start();
    // 05: two frames and audio; 06: one frame; nothing until 09 (d = 3); 09: three frames
    // and audio; 10 opens and stays open.
    video(5, 0, payload(1), true);
    audio(5, Bytes(1600, 0x11));
    video(5, 0, payload(2));
    video(6, 0, payload(3), true);
    video(9, 0, payload(4), true);
    audio(9, Bytes(1600, 0x22));
    video(9, 0, payload(5));
    video(9, 0, payload(6));
    video(10, 0, payload(7), true);

    // The hole's caption stands where it starts, right after second 06, and every later
    // caption stands under the pictures of the second it names.
    EXPECT_EQ(sink.text(),
              "<SYNC Start=0000><P>2026/03/14 07:00:05\r\n"
              "<SYNC Start=1000><P>2026/03/14 07:00:06<font color=#6699FF>  02FPS  Audio[Y]\r\n"
              "<SYNC Start=2000><P><FONT color=#FF66FF>No video data. Within 2 seconds.\r\n"
              "<SYNC Start=4000><P>2026/03/14 07:00:09<font color=#6699FF>  01FPS  Audio[N]\r\n"
              "<SYNC Start=5000><P>2026/03/14 07:00:10<font color=#6699FF>  03FPS  Audio[Y]\r\n");
    // Second 05, second 06, the two filler seconds 07 and 08, then second 09.
    const std::string V30(30, 'V');
    std::string expected = "S";
    for (const char* tail : {"AS", "AS", "A", "AS", "AS"}) expected.append(V30).append(tail);
    EXPECT_EQ(sink.types(), expected);
    const auto frames = sink.of('V');
    EXPECT_EQ(frames[0], payload(1));
    EXPECT_EQ(frames[15], payload(2));  // even spread of two: G = 14
    EXPECT_EQ(frames[30], payload(3));
    for (size_t i = 31; i < 120; ++i) EXPECT_TRUE(frames[i].empty()) << i;
    EXPECT_EQ(frames[120], payload(4));
    Bytes s05(1600, 0x11), s09(1600, 0x22);
    s05.resize(8000, kSilenceByte);
    s09.resize(8000, kSilenceByte);
    // Exactly one second of audio under every second of pictures: no lead-in moves it.
    EXPECT_EQ(sink.of('A'), (std::vector<Bytes>{s05, silence(8000), silence(8000), silence(8000), s09}));
    EXPECT_EQ(placer->stats().seconds, 5u);
    EXPECT_EQ(placer->stats().hole_seconds, 2u);
    EXPECT_EQ(placer->stats().frames_written, 6u);
    EXPECT_EQ(placer->stats().empty_frames, 5u * 30 - 6);
    EXPECT_EQ(collector.count(), 1);  // second 10's frame waits in slot 0
}

TEST_F(SecondTest, AHoleAtTwentyFiveFramesPerSecondAndClosingCutsALongOneShort) {
    start(true);
    video(10, 0, payload(1), true);
    video(12, 0, payload(2), true);  // d = 2: second 10 and one filler second
    EXPECT_EQ(sink.of('V').size(), 25u * 2);
    EXPECT_EQ(sink.of('A').size(), 2u);
    cancel = true;
    video(86412, 0, payload(3), true);  // a day without data, while the file is closing
    EXPECT_EQ(sink.of('V').size(), 25u * 3);  // second 12 itself, no filler
}

// The second still being collected when the file ends is written as its last second.
TEST_F(SecondTest, TheLastSecondIsWrittenWhenTheFileEnds) {
    start();
    video(3, 100, payload(1), true);
    video(4, 100, payload(2), true);
    video(4, 500, payload(3));
    audio(4, Bytes(800, 0x44));
    collector.flush(*placer);
    EXPECT_EQ(collector.count(), 0);
    const auto frames = sink.of('V');
    ASSERT_EQ(frames.size(), 60u);
    EXPECT_EQ(sink.positions(60), (std::vector<size_t>{3, 33, 45}));
    EXPECT_EQ(frames[45], payload(3));
    Bytes s04(8000, kSilenceByte);
    std::fill_n(s04.begin(), 800, uint8_t{0x44});
    EXPECT_EQ(sink.of('A'), (std::vector<Bytes>{silence(8000), s04}));
    // No caption follows the last second: nothing comes after it.
    EXPECT_TRUE(sink.text().ends_with("07:00:04<font color=#6699FF>  01FPS  Audio[N]\r\n"));
    EXPECT_EQ(placer->stats().first_frame.time_stamp, base + 3);
    EXPECT_EQ(placer->stats().last_frame.time_stamp, base + 4);
    EXPECT_EQ(placer->stats().last_frame.milliseconds, 500);
    collector.flush(*placer);  // nothing left: nothing more written
    EXPECT_EQ(sink.of('V').size(), 60u);
}

// Audio that comes and goes: each second's audio lies under that second's pictures, however
// often it resumes.
TEST_F(SecondTest, IntermittentAudioStaysUnderItsOwnSecond) {
    start();
    const std::vector<bool> has_audio{true, false, true, true, false, false, true, false, true};
    for (uint32_t t = 0; t < has_audio.size(); ++t) {
        video(t, 0, payload(t), true);
        if (has_audio[t]) {
            for (int b = 0; b < 10; ++b) audio(t, Bytes(800, static_cast<uint8_t>(0x10 + t)));
        }
    }
    video(static_cast<uint32_t>(has_audio.size()), 0, payload(99), true);
    const auto chunks = sink.of('A');
    ASSERT_EQ(chunks.size(), has_audio.size());
    for (size_t t = 0; t < has_audio.size(); ++t) {
        const Bytes expected = has_audio[t] ? Bytes(8000, static_cast<uint8_t>(0x10 + t)) : silence(8000);
        EXPECT_EQ(chunks[t], expected) << "second " << t;
    }
    EXPECT_EQ(placer->stats().audio_bytes, 5u * 8000);
}

TEST_F(SecondTest, AudioBeyondOneSecondCarriesOverAndTheRestIsSilence) {
    start();
    const Bytes first = ramp(9000, 1), second = ramp(100, 200);
    video(0, 0, payload(0), true);
    audio(0, first);
    video(1, 0, payload(1));
    audio(1, second);
    video(2, 0, payload(2));
    video(3, 0, payload(3));

    Bytes carried(first.begin() + 8000, first.end());
    carried.insert(carried.end(), second.begin(), second.end());
    carried.resize(8000, kSilenceByte);  // never stale bytes of the second before
    EXPECT_EQ(sink.of('A'),
              (std::vector<Bytes>{Bytes(first.begin(), first.begin() + 8000), carried,
                                  silence(8000)}));
}

TEST_F(SecondTest, ASecondIsBoundedByTheSlotsTheRateAndTheAudioBuffer) {
    start();
    // 100 frames and 60,000 audio bytes in one second, audio last.
    for (uint32_t i = 0; i < 100; ++i) video(0, 0, payload(i), i == 0);
    EXPECT_EQ(collector.count(), kGroupSlots - 1);
    for (int i = 0; i < 30; ++i) audio(0, ramp(2000, 9));
    video(1, 0, payload(500), true);  // still finds its slot
    video(2, 0, payload(501), true);

    // 59 records kept (the last slot stays free), of which the first 30 frames are placed.
    const auto frames = sink.of('V');
    ASSERT_EQ(frames.size(), 60u);
    for (uint32_t i = 0; i < 30; ++i) EXPECT_EQ(frames[i], payload(i)) << i;
    EXPECT_EQ(frames[30], payload(500));
    EXPECT_EQ(collector.stats().overflow_dropped, 100u + 30 - (kGroupSlots - 1));
    EXPECT_EQ(placer->stats().frames_dropped, static_cast<uint64_t>(kGroupSlots - 1 - 30));
    EXPECT_NE(sink.text().find("  30FPS  Audio[N]"), std::string::npos);

    // Frames beyond the rate do not crowd out the audio behind them; audio beyond the
    // one-second buffer is dropped and counted.
    collector.clear();
    for (uint32_t i = 0; i < 35; ++i) video(5, 0, payload(i), i == 0);
    for (int i = 0; i < 24; ++i) audio(5, ramp(2000, 3));  // 48,000 bytes
    video(6, 0, payload(99), true);
    EXPECT_EQ(placer->stats().audio_bytes_dropped, 8000u);
    Bytes four_blocks;
    for (int i = 0; i < 4; ++i) {
        const Bytes b = ramp(2000, 3);
        four_blocks.insert(four_blocks.end(), b.begin(), b.end());
    }
    EXPECT_EQ(sink.of('A').back(), four_blocks);
    EXPECT_TRUE(sink.text().ends_with("  30FPS  Audio[Y]\r\n"));
}

TEST_F(SecondTest, MillisecondsOfTheLastUsedFrameChooseThePlacement) {
    start();
    video(0, 0, payload(0), true);
    video(0, 600, payload(1));  // by milliseconds: positions 0 and 600 / 33 = 18
    audio(0, Bytes(100, 1));    // audio after it does not decide
    video(1, 600, payload(2), true);
    video(1, 0, payload(3));  // none on the last frame: spread, G = 14
    video(2, 0, payload(4), true);
    EXPECT_EQ(sink.positions(60), (std::vector<size_t>{0, 18, 30, 45}));
}

TEST_F(SecondTest, AFrameFromAnEarlierSecondStaysInTheSecondBeingCollected) {
    start();
    audio(4, Bytes(500, 0x44));  // no frame yet: dropped
    EXPECT_EQ(collector.stats().leading_audio_dropped, 1u);
    video(5, 100, payload(0), true);
    video(4, 500, payload(1));  // the clock went back: joins second 5
    video(5, 900, payload(2));
    video(6, 0, payload(3));
    video(7, 0, payload(4));
    // Every second is exactly 30 frames long, however its frames are timed.
    EXPECT_EQ(sink.of('V').size(), 60u);
    EXPECT_EQ(sink.positions(30), (std::vector<size_t>{3, 15, 27}));
    EXPECT_EQ(sink.of('A'), (std::vector<Bytes>{silence(8000), silence(8000)}));
}

// Sound recorded while the pictures pause lies under the filler seconds it belongs to, not under
// the second before the hole.
TEST_F(SecondTest, AudioInAHoleOfThePicturesStaysUnderItsOwnSeconds) {
    start();
    video(0, 0, payload(0), true);
    for (uint32_t t = 0; t < 4; ++t) {
        for (int b = 0; b < 5; ++b) audio(t, Bytes(1600, static_cast<uint8_t>(0x20 + t)));
    }
    video(4, 0, payload(4), true);
    audio(4, Bytes(1600, 0x24));
    audio(5, Bytes(1600, 0x25));  // after the last picture: no second for it
    collector.flush(*placer);
    const auto chunks = sink.of('A');
    ASSERT_EQ(chunks.size(), 5u);
    for (uint32_t t = 0; t < 4; ++t) EXPECT_EQ(chunks[t], Bytes(8000, static_cast<uint8_t>(0x20 + t))) << t;
    Bytes last(8000, kSilenceByte);
    std::fill_n(last.begin(), 1600, uint8_t{0x24});
    EXPECT_EQ(chunks[4], last);
    EXPECT_EQ(collector.stats().overflow_dropped, 0u);
    EXPECT_EQ(placer->stats().audio_bytes, 4u * 8000 + 1600);
    EXPECT_EQ(placer->stats().audio_bytes_dropped, 1600u);
    EXPECT_EQ(placer->stats().hole_seconds, 3u);
}

}  // namespace
