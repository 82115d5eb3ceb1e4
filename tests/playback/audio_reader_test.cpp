// getaudiodata over built audio records, and the conversion of record times.
#include "disk/recorder_time.h"
#include "tests/playback/reader_fixture.h"

namespace {

using playtest::ReaderTest;
using sample::RecordDamage;

class AudioReaderTest : public ReaderTest {
  protected:
    void SetUp() override {
        ReaderTest::SetUp();
        add_gop({100});  // the video channel that makes the audio channel playable
    }
    int32_t sample() const { return static_cast<int32_t>(audio_state().audio.sample); }
};

TEST_F(AudioReaderTest, HeadersAndDataForward) {
    add_audio(2048);
    add_audio(1001);  // padded to whole words
    add_audio(8000);
    add_audio(9216);
    open();

    ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);
    EXPECT_EQ(audio_time(), audio_[0].time);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_DATA, sample()), 2048);
    EXPECT_EQ(delivered(2048, true), audio_[0].data);
    // Consumed: no more data, and the position stays behind the trailer.
    EXPECT_EQ(audio(PLAYBACK_AUDIO_DATA, 4), 0);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);
    EXPECT_EQ(audio_time(), audio_[1].time);
    EXPECT_EQ(sample(), 1004);
    // A header over one whose data was not read skips that data.
    ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);
    EXPECT_EQ(audio_time(), audio_[2].time);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);
    // More than the record holds is refused without moving.
    EXPECT_EQ(audio(PLAYBACK_AUDIO_DATA, 9217), 0);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_DATA_2, sample()), 9216);
    EXPECT_EQ(delivered(9216, true), audio_[3].data);
    EXPECT_EQ(audio(PLAYBACK_AUDIO_HEADER), 0);
}

TEST_F(AudioReaderTest, PreviousHeaderFromUnreadAndConsumedRecords) {
    for (size_t n : {512, 3000, 4096}) add_audio(n);
    open();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_PREVIOUS_HEADER), kAudioHeaderSize);
    EXPECT_EQ(audio_time(), audio_[1].time);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_DATA, sample()), 3000);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_PREVIOUS_HEADER), kAudioHeaderSize);
    EXPECT_EQ(audio_time(), audio_[0].time);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_DATA, sample()), 512);
    EXPECT_EQ(delivered(512, true), audio_[0].data);
}

// Behind the current record: two records without start bits (the later one with a damaged
// trailer), 16 KB in all, then a record starting in the third chunk (16..24 KB back), which a
// search with growing steps would pass over, and older records beyond it.
TEST_F(AudioReaderTest, DamagedTrailerSearchesContiguously) {
    RecordDamage broken;
    broken.broken_start_bits = true;
    RecordDamage both = broken;
    both.damaged_trailer = true;
    add_audio(8000);
    add_audio(8000);
    add_audio(8000);
    add_audio(4000);
    add_audio(8000, broken);
    add_audio(8000, both);
    add_audio(1000);
    open();
    for (int i = 0; i < 4; ++i) ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);  // found past the damage
    ASSERT_EQ(audio_time(), audio_[6].time);

    playtest::TraceCapture trace;
    ASSERT_EQ(audio(PLAYBACK_AUDIO_PREVIOUS_HEADER), kAudioHeaderSize);
    EXPECT_EQ(audio_time(), audio_[3].time);
    EXPECT_TRUE(trace.has("search_audio_start_gop no 4  direction 0\n"));
    ASSERT_EQ(audio(PLAYBACK_AUDIO_DATA, sample()), 4000);
    EXPECT_EQ(delivered(4000, true), audio_[3].data);
}

TEST_F(AudioReaderTest, ImpossibleSampleAndTotalSizeAreDamage) {
    RecordDamage sample_field;
    sample_field.count = kMaxAudioSample + 1;
    RecordDamage total_field;
    total_field.length = 0x7FFFFFF0;
    add_audio(1000);
    add_audio(9216, sample_field);
    add_audio(1200);
    add_audio(800, total_field);
    add_audio(600);
    open();
    playtest::TraceCapture trace;
    ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);
    EXPECT_EQ(audio_time(), audio_[2].time);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_DATA, sample()), 1200);
    EXPECT_EQ(delivered(1200, true), audio_[2].data);
    ASSERT_EQ(audio(PLAYBACK_AUDIO_HEADER), kAudioHeaderSize);
    EXPECT_EQ(audio_time(), audio_[4].time);
    EXPECT_TRUE(trace.has("Audio Length Error 4"));
}

TEST(RecordTime, ConvertsRealDatesOnly) {
    const auto at = [](uint16_t y, uint8_t mo, uint8_t d, uint16_t h, uint8_t mi, uint8_t s) {
        return RecordTime{d, mo, y, s, mi, h};
    };
    EXPECT_EQ(record_time_to_time(at(2026, 3, 14, 7, 0, 0)),
              static_cast<uint32_t>(recorder_from_civil(2026, 3, 14, 7, 0, 0)));
    EXPECT_EQ(record_time_to_time(at(2024, 2, 29, 23, 59, 59)),
              static_cast<uint32_t>(recorder_from_civil(2024, 2, 29, 23, 59, 59)));
    EXPECT_EQ(record_time_to_time(at(2025, 2, 29, 12, 0, 0)), kInvalidRecordTime);
    EXPECT_EQ(record_time_to_time(at(2025, 4, 31, 12, 0, 0)), kInvalidRecordTime);
    EXPECT_EQ(record_time_to_time(at(2025, 13, 1, 12, 0, 0)), kInvalidRecordTime);
    EXPECT_EQ(record_time_to_time(at(2025, 1, 1, 24, 0, 0)), kInvalidRecordTime);
    EXPECT_EQ(record_time_to_time(at(2025, 1, 1, 0, 60, 0)), kInvalidRecordTime);
    EXPECT_EQ(record_time_to_time(RecordTime{}), kInvalidRecordTime);
    EXPECT_EQ(record_time_to_time(at(1970, 1, 1, 0, 0, 0)), kInvalidRecordTime);
    EXPECT_EQ(record_time_to_time(at(1969, 12, 31, 23, 59, 59)), kInvalidRecordTime);
    EXPECT_EQ(record_time_to_time(at(2107, 1, 1, 0, 0, 0)), kInvalidRecordTime);

    EXPECT_TRUE(record_time_has_time(at(2026, 3, 14, 7, 0, 0)));
    EXPECT_FALSE(record_time_has_time(at(2026, 1, 14, 7, 0, 0)));
    EXPECT_FALSE(record_time_has_time(RecordTime{}));
}

}  // namespace
