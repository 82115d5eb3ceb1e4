// The storage API: start and stop, the display channel count, the playback channel table,
// the time conversions and the capture-image reader.
#include <cstring>
#include <thread>

#include "tests/storage/storage_fixture.h"
#include "tools/sample/log_records.h"
#include "tools/sample/test_pattern.h"

namespace {

using sample::ChannelData;
using sample::VolumeContent;
using testkit::kT0;

// A volume of the given count whose video channels 1..highest hold a little data.
sample::DiskSpec video_volume(int32_t count, int highest, std::vector<int32_t> extra = {}) {
    VolumeContent content;
    for (int v = 1; v <= highest; ++v) {
        content.channels.push_back(testkit::steady_channel(2 + v, kT0, kT0 + 60, 64));
    }
    for (int32_t c : extra) content.channels.push_back(testkit::steady_channel(c, kT0, kT0 + 60, 64));
    return testkit::small_recorder(content, count);
}

using ApiTest = testkit::StorageTest;

TEST_F(ApiTest, ExitWithoutAThreadReturnsAtOnce) {
    api_exit();
    reset();
    // Never started: the stopped flag is still set, so there is nothing to wait for.
    EXPECT_EQ(api_exit(), 0);
    EXPECT_EQ(api_init(0, nullptr, nullptr), 0);
}

TEST_F(ApiTest, DisplayChannelCountFollowsTheHighestRecordedVideoChannel) {
    struct Case {
        int32_t count;
        int highest;
        int32_t shown;
    };
    for (const Case& c : {Case{29, 3, 4}, Case{29, 4, 4}, Case{29, 5, 8}, Case{27, 8, 8},
                          Case{29, 9, 9}, Case{29, 10, 16}, Case{27, 16, 16}, Case{15, 4, 4},
                          Case{29, 0, 4}}) {
        ASSERT_EQ(mount(video_volume(c.count, c.highest)), 0);
        EXPECT_EQ(api_display_channels(), c.shown) << c.count << "/" << c.highest;
        ASSERT_EQ(api_unmount_session(), 0);
        ASSERT_EQ(api_unmount_disk(), 0);
        platform::detach_all();
    }
    // Another count keeps the value of the last session.
    ASSERT_EQ(mount(video_volume(20, 9)), 0);
    EXPECT_EQ(api_display_channels(), 4);
}

TEST_F(ApiTest, ChannelMaskOpensVideoAndPairedAudioOfACount15Volume) {
    ASSERT_EQ(mount(video_volume(15, 4, {7, 8, 9, 10})), 0);
    ASSERT_EQ(api_display_channels(), 4);
    ASSERT_EQ(api_set_channel_mask(0xF), 0xF);
    const ApiState& st = api_state();
    for (int i = 0; i < 8; ++i) EXPECT_GE(st.slots[i], 0) << i;
    for (int i = 8; i < kPlaybackSlots; ++i) EXPECT_EQ(st.slots[i], -1) << i;
    EXPECT_EQ(backup_channel_size(7), 4u * 64u);
    // Clearing a bit closes the video slot and its audio partner.
    ASSERT_EQ(api_set_channel_mask(0xE), 0xE);
    EXPECT_EQ(st.slots[0], -1);
    EXPECT_EQ(st.slots[4], -1);
    EXPECT_GE(st.slots[5], 0);
}

TEST_F(ApiTest, ChannelMaskOfACount27VolumeUsesAudioChannels19To22) {
    ASSERT_EQ(mount(video_volume(27, 16, {19, 20, 21, 22})), 0);
    ASSERT_EQ(api_display_channels(), 16);
    ASSERT_EQ(api_set_channel_mask(0xFFFF), 0xFFFF);
    const ApiState& st = api_state();
    for (int i = 0; i < 20; ++i) EXPECT_GE(st.slots[i], 0) << i;
    EXPECT_EQ(st.slots[20], -1);
    // The audio slot 16 reads channel 19.
    uint8_t first[64];
    ASSERT_EQ(backup_read(st.slots[16], first, 64), 64);
    EXPECT_EQ(std::vector<uint8_t>(first, first + 64), testkit::pattern_bytes(19, kT0, 64));
}

TEST_F(ApiTest, EmptyVideoChannelStaysClosedWhileItsAudioOpens) {
    // Video 1 (channel 3) is empty while its audio (channel 19) and video 2 hold data.
    ASSERT_EQ(mount(video_volume(29, 0, {4, 19})), 0);
    ASSERT_EQ(api_set_channel_mask(0x3), 0x3);
    const ApiState& st = api_state();
    EXPECT_EQ(st.slots[0], -1);
    EXPECT_GE(st.slots[1], 0);
    EXPECT_GE(st.slots[api_display_channels() + 0], 0);
    EXPECT_EQ(st.slots[api_display_channels() + 1], -1);  // channel 20 holds nothing
}

TEST_F(ApiTest, ControlValuesAreRefusedWithoutChannelsOrWhilePlaying) {
    ASSERT_EQ(mount(video_volume(29, 2)), 0);
    // The engine stands still, as during a search, so that only this test changes the mode.
    api_state().search_busy = 1;
    EXPECT_EQ(api_play_from(kT0), kApiRefused);
    EXPECT_EQ(api_set_play_mode(PM_PLAY), kApiRefused);
    ASSERT_EQ(api_set_channel_mask(0x1), 0x1);
    EXPECT_EQ(api_play_from(kT0 + 30), 0);
    EXPECT_EQ(api_state().requested_time, kT0 + 30);
    EXPECT_EQ(api_state().reposition, 1);
    EXPECT_EQ(api_set_play_mode(PM_FF_4), PM_FF_4);
    const int32_t slot0 = api_state().slots[0];
    EXPECT_EQ(api_set_channel_mask(0x3), kApiRefused);
    EXPECT_EQ(api_state().slots[0], slot0);
    EXPECT_EQ(api_state().slots[1], -1);
    EXPECT_EQ(api_set_play_mode(PM_PAUSE), PM_PAUSE);
    EXPECT_EQ(api_set_channel_mask(0x3), 0x3);
    EXPECT_GE(api_state().slots[1], 0);
    EXPECT_EQ(api_set_no_pacing(1), 1);
    api_state().search_busy = 0;
}

TEST_F(ApiTest, PlayModeDirections) {
    for (int32_t m : {1, 3, 4, 6, 11, 12, 13, 15}) EXPECT_EQ(play_mode_direction(m), 1) << m;
    for (int32_t m : {0, 16}) EXPECT_EQ(play_mode_direction(m), 0) << m;
    for (int32_t m : {2, 5, 7, 8, 9, 10, 14, 17, 18, -1, 1000}) {
        EXPECT_EQ(play_mode_direction(m), -1) << m;
    }
}

TEST_F(ApiTest, TimeConversionsRoundTripAndIgnoreTheZone) {
    for (uint32_t t : {0u, 1u, 86399u, 951782400u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        uint64_t ft = 0;
        time_to_filetime(t, &ft);
        uint32_t back = 1;
        filetime_to_time(ft, &back);
        EXPECT_EQ(back, t);
        DateTime st{};
        time_to_systemtime(t, &st);
        if (t != 0) {
            systemtime_to_time(&st, &back);
            EXPECT_EQ(back, t);
        }
    }
    uint64_t ft = 0;
    time_to_filetime(0, &ft);
    EXPECT_EQ(ft, 116444736000000000ull);
    DateTime st{};
    time_to_systemtime(951782400u, &st);  // 2000-02-29 00:00:00, a Tuesday
    EXPECT_EQ(st.year, 2000);
    EXPECT_EQ(st.month, 2);
    EXPECT_EQ(st.day, 29);
    EXPECT_EQ(st.day_of_week, 2);
    time_to_systemtime(0x80000000u, &st);  // after January 2038, not before 1970
    EXPECT_EQ(st.year, 2038);
    DateTime bad{2026, 13, 0, 1, 0, 0, 0, 0};
    uint32_t t = 5;
    systemtime_to_time(&bad, &t);
    EXPECT_EQ(t, 0u);
}

TEST_F(ApiTest, AlignTimeRoundsToTheQuarterMinuteInsideTheSession) {
    EXPECT_EQ(api_align_time(kT0 + 10, 0), 0u);  // no session yet
    ASSERT_EQ(mount(video_volume(29, 2)), 0);
    const VolumeRecord* v = backup_selected_volume();
    ASSERT_EQ(v->oldest, kT0);
    EXPECT_EQ(api_align_time(kT0 + 15 + 7, 0), kT0 + 15);
    EXPECT_EQ(api_align_time(kT0 + 44, 0), kT0 + 30);
    EXPECT_EQ(api_align_time(v->newest + 1, 0), 0u);
    EXPECT_EQ(api_align_time(v->newest + 100, 1), v->newest / 15 * 15);
    EXPECT_EQ(api_align_time(kT0 - 100, 1), kT0);
}

class CaptureImageTest : public testkit::StorageTest {
protected:
    // Three stills in one quarter minute and one more a minute later.
    void build(std::vector<uint8_t> damaged = {}) {
        ChannelData images;
        images.channel = 23;
        for (uint32_t t : {kT0 + 15, kT0 + 17, kT0 + 20, kT0 + 80}) {
            jpegs_[t] = sample::encode_jpeg(sample::test_pattern(64, 48, sample::caption_for(1, t), 0), 80);
            images.writes.push_back({t, sample::capture_image_record(t, jpegs_[t])});
        }
        if (!damaged.empty()) images.writes.insert(images.writes.begin() + 1, {kT0 + 16, damaged});
        VolumeContent content;
        content.channels = {testkit::steady_channel(3, kT0, kT0 + 120, 10), images};
        ASSERT_EQ(mount(testkit::small_recorder(content, 29)), 0);
    }
    std::map<uint32_t, std::vector<uint8_t>> jpegs_;
};

TEST_F(CaptureImageTest, ReadsTheStillOfItsTimeWithinTheQuarterMinute) {
    build();
    std::vector<uint8_t> buf(1 << 20);
    for (uint32_t t : {kT0 + 15, kT0 + 17, kT0 + 20, kT0 + 80}) {
        const int32_t n = api_read_capture_image(t, buf.data(), static_cast<int32_t>(buf.size()));
        ASSERT_GT(n, 0) << t;
        EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + n), jpegs_[t]) << t;
        EXPECT_EQ(buf[0], 0xFF);
        EXPECT_EQ(buf[1], 0xD8);  // a JPEG start-of-image marker
    }
    // A time later than every record of its quarter minute reads on to the next record.
    const int32_t n = api_read_capture_image(kT0 + 25, buf.data(), static_cast<int32_t>(buf.size()));
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + n), jpegs_[kT0 + 80]);
    EXPECT_EQ(api_read_capture_image(kT0 + 10000, buf.data(), 1000), kApiRefused);
}

TEST_F(CaptureImageTest, RecordLargerThanTheBufferIsRefusedWithoutOverflow) {
    build();
    const size_t size = jpegs_[kT0 + 15].size();
    std::vector<uint8_t> buf(size + 16, 0xEE);
    EXPECT_EQ(api_read_capture_image(kT0 + 15, buf.data(), static_cast<int32_t>(size - 1)), kApiRefused);
    for (uint8_t b : buf) ASSERT_EQ(b, 0xEE);
    EXPECT_EQ(api_read_capture_image(kT0 + 15, buf.data(), static_cast<int32_t>(size)),
              static_cast<int32_t>(size));
}

TEST_F(CaptureImageTest, NegativeLengthIsRefused) {
    std::vector<uint8_t> bad = sample::capture_image_record(kT0 + 16, {1, 2, 3, 4});
    const int32_t minus = -100;
    std::memcpy(bad.data() + 4, &minus, 4);
    build(bad);
    std::vector<uint8_t> buf(1 << 20);
    EXPECT_EQ(api_read_capture_image(kT0 + 16, buf.data(), static_cast<int32_t>(buf.size())), kApiRefused);
    EXPECT_EQ(api_read_capture_image(kT0 + 17, buf.data(), static_cast<int32_t>(buf.size())), kApiRefused);
}

}  // namespace
