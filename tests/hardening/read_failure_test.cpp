// Play over a span of a channel that cannot be read: the span is named once (status 103 and a
// failure with where it begins and where the channel goes on), the channel plays on after it
// in order, the other channels do not notice, and a channel that cannot be read to its end
// ends as before.
#include <sys/stat.h>

#include <algorithm>

#include "tests/hardening/playback_fixture.h"
#include "platform/sha256.h"
#include "tests/testkit/image_tools.h"

namespace {

using hardening::PlaybackFaultTest;
using playtest::Event;
using testkit::kT0;

int64_t at_ms(const Event& e) { return (int64_t{e.time} - kT0) * 1000 + e.ms; }

std::vector<Event> of_slot(const std::vector<Event>& list, int32_t slot) {
    std::vector<Event> out;
    for (const Event& e : list) {
        if (e.slot == slot) out.push_back(e);
    }
    return out;
}

size_t count_code(const std::vector<Event>& statuses, int32_t code, int32_t slot) {
    return static_cast<size_t>(std::count_if(statuses.begin(), statuses.end(), [&](const Event& e) {
        return e.code == code && e.slot == slot;
    }));
}

// Frames of one slot strictly ordered in the direction of play, each the one recorded there.
void expect_ordered_true_frames(const std::vector<Event>& f, int32_t channel, bool forward) {
    for (size_t i = 0; i < f.size(); ++i) {
        if (i > 0) {
            if (forward) {
                ASSERT_GT(at_ms(f[i]), at_ms(f[i - 1])) << i;
            } else {
                ASSERT_LT(at_ms(f[i]), at_ms(f[i - 1])) << i;
            }
        }
        const uint32_t gop_ms = f[i].ms >= 500 ? 500u : 0u;
        const int index = (f[i].ms - static_cast<int32_t>(gop_ms)) / 33;
        ASSERT_EQ(f[i].data, playtest::frame_bytes_of(channel, f[i].time, gop_ms, index))
            << f[i].time << "." << f[i].ms;
    }
}

// Whole seconds of [from, to) in which the frames of a slot leave no second out.
void expect_every_second(const std::vector<Event>& f, uint32_t from, uint32_t to) {
    for (uint32_t t = from; t < to; ++t) {
        EXPECT_TRUE(std::any_of(f.begin(), f.end(), [&](const Event& e) { return e.time == t; }))
            << "nothing played at " << t - kT0;
    }
}

TEST_F(PlaybackFaultTest, ForwardPlayNamesAnUnreadableSpanAndPlaysOnAfterIt) {
    open_recording(kT0, kT0 + 60, 0x3);
    // The bad sector lies where the GOP of 20 s begins; the last GOP before it may share it.
    plan_->fail_sectors(gop_sector(kT0 + 20, 0));
    start_trace();
    play(kT0 + 5, PM_PLAY);
    const std::string trace = stop_trace();
    EXPECT_EQ(api_play_mode(), PM_STOP);

    const auto failures = take_failures();
    ASSERT_EQ(failures.size(), 1u);
    const PlaybackReadFailure& f = failures[0];
    EXPECT_EQ(f.slot, 0);
    EXPECT_EQ(f.error, DVR_EDISK);
    EXPECT_EQ(f.failed_at, kT0 + 19);
    // The channel goes on at the first index interval after the one that holds the failure.
    EXPECT_EQ(f.resumed_at, kT0 + 30);
    const auto s = statuses();
    EXPECT_EQ(count_code(s, PLAYBACK_STATUS_READ_ERROR, 0), 1u);
    EXPECT_EQ(count_code(s, PLAYBACK_STATUS_READ_ERROR, 1), 0u);
    // The channel ends where its recording ends, after the span; then play ends.
    EXPECT_EQ(count_code(s, PLAYBACK_STATUS_END, 0), 1u);
    EXPECT_EQ(s.back().code, PLAYBACK_STATUS_NO_DATA);
    EXPECT_NE(trace.find("read failure -17 at " + std::to_string(kT0 + 19) + ", resumed at " +
                         std::to_string(kT0 + 30)),
              std::string::npos);
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos);

    const auto all = frames();
    const auto ch1 = of_slot(all, 0);
    expect_ordered_true_frames(ch1, 3, true);
    for (const Event& e : ch1) {
        EXPECT_FALSE(e.time > f.failed_at && e.time < f.resumed_at) << "played from the span: " << e.time - kT0;
    }
    expect_every_second(ch1, kT0 + 5, kT0 + 19);
    expect_every_second(ch1, kT0 + 30, kT0 + 60);
    // Every frame of the recording after the span arrived: 30 s of 30 frames.
    EXPECT_EQ(std::count_if(ch1.begin(), ch1.end(), [&](const Event& e) { return e.time >= f.resumed_at; }),
              30 * 30);
    // The other channel played the whole of its recording from the start time on.
    const auto ch2 = of_slot(all, 1);
    expect_ordered_true_frames(ch2, 4, true);
    expect_every_second(ch2, kT0 + 5, kT0 + 60);
    EXPECT_EQ(std::count_if(ch2.begin(), ch2.end(), [](const Event& e) { return e.time >= kT0 + 5; }),
              55 * 30);
}

TEST_F(PlaybackFaultTest, PlayFromATimeInsideTheSpanStartsWhereTheChannelGoesOn) {
    open_recording(kT0, kT0 + 60);
    const uint64_t first = gop_sector(kT0 + 30, 0);
    plan_->fail_sectors(first, gop_sector(kT0 + 40, 0) - first);
    play(kT0 + 32, PM_PLAY);
    const auto failures = take_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].failed_at, kT0 + 32);
    EXPECT_EQ(failures[0].resumed_at, kT0 + 45);
    const auto f = frames();
    ASSERT_FALSE(f.empty());
    expect_ordered_true_frames(f, 3, true);
    EXPECT_EQ(f.front().time, kT0 + 45);
    EXPECT_EQ(f.front().ms, 0);
    expect_every_second(f, kT0 + 45, kT0 + 60);
}

TEST_F(PlaybackFaultTest, ChannelUnreadableToItsEndReportsTheFailureAndEnds) {
    open_recording(kT0, kT0 + 60, 0x3);
    // Nothing of channel 1 reads from 20 s to its end.
    const uint64_t cut = gop_sector(kT0 + 20, 0);
    plan_->fail_sectors(cut, gop_sector(kT0 + 59, 500) + 8 - cut);
    play(kT0 + 5, PM_PLAY);
    EXPECT_EQ(api_play_mode(), PM_STOP);
    const auto failures = take_failures();
    ASSERT_GE(failures.size(), 1u);
    EXPECT_EQ(failures[0].slot, 0);
    EXPECT_EQ(failures[0].failed_at, kT0 + 19);
    EXPECT_EQ(failures[0].resumed_at, 0u);
    const auto s = statuses();
    // The failure comes first, then the slot's end, and play ends when nothing is left.
    const auto failed = std::find_if(s.begin(), s.end(), [](const Event& e) { return e.code == PLAYBACK_STATUS_READ_ERROR; });
    const auto ended = std::find_if(s.begin(), s.end(), [](const Event& e) { return e.code == PLAYBACK_STATUS_END && e.slot == 0; });
    ASSERT_NE(failed, s.end());
    ASSERT_NE(ended, s.end());
    EXPECT_LT(failed - s.begin(), ended - s.begin());
    EXPECT_EQ(s.back().code, PLAYBACK_STATUS_NO_DATA);
    const auto ch1 = of_slot(frames(), 0);
    expect_ordered_true_frames(ch1, 3, true);
    ASSERT_FALSE(ch1.empty());
    EXPECT_EQ(ch1.back().time, kT0 + 19);
}

TEST_F(PlaybackFaultTest, RewindNamesTheSpanAndPlaysOnBeforeIt) {
    open_recording(kT0, kT0 + 60);
    plan_->fail_sectors(gop_sector(kT0 + 20, 0));
    play(kT0 + 40, PM_REW_4);
    EXPECT_EQ(api_play_mode(), PM_STOP);
    const auto failures = take_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].slot, 0);
    // Going backward the span begins behind the GOP of 20.5 s, and play goes on at the last
    // GOP before it.
    EXPECT_EQ(failures[0].failed_at, kT0 + 20);
    EXPECT_EQ(failures[0].resumed_at, kT0 + 19);
    EXPECT_EQ(count_code(statuses(), PLAYBACK_STATUS_READ_ERROR, 0), 1u);
    EXPECT_EQ(statuses().back().code, PLAYBACK_STATUS_NO_DATA);
    const auto f = frames();
    expect_ordered_true_frames(f, 3, false);
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f.front().time, kT0 + 40);
    // The key frames on both sides of the span, down to the first GOP.
    EXPECT_TRUE(std::any_of(f.begin(), f.end(), [](const Event& e) { return at_ms(e) == 20500; }));
    EXPECT_TRUE(std::any_of(f.begin(), f.end(), [](const Event& e) { return at_ms(e) == 19500; }));
    EXPECT_EQ(at_ms(f.back()), 0);
    for (const Event& e : f) EXPECT_NE(at_ms(e), 20000);
}

// What a write to the image would change: its size, its modification time, and the bytes of
// the recording (the whole sparse image is too large to hash in every test).
std::string image_state(const std::string& path, uint64_t first_sector, uint64_t sectors) {
    struct stat st{};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    std::string state = std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec);
    std::vector<uint8_t> bytes;
    for (uint64_t s = 0; s < sectors; ++s) {
        const std::vector<uint8_t> sector = testkit::read_sector(path, first_sector + s);
        bytes.insert(bytes.end(), sector.begin(), sector.end());
    }
    return state + " " + platform::sha256_hex(bytes.data(), bytes.size());
}

TEST_F(PlaybackFaultTest, TheImageIsUnchangedByPlayOverItsHoles) {
    open_recording(kT0, kT0 + 40);
    const std::string path = backup_mounted_disk()->device_path;
    const uint64_t a = gop_sector(kT0, 0), b = gop_sector(kT0 + 39, 500);
    const uint64_t first = std::min(a, b);
    const uint64_t count = std::max(a, b) + 8 - first;
    const std::string before = image_state(path, first, count);
    plan_->fail_sectors(gop_sector(kT0 + 20, 0));
    play(kT0 + 5, PM_PLAY);
    play(kT0 + 35, PM_REW_2);
    EXPECT_EQ(take_failures().size(), 2u);
    EXPECT_EQ(image_state(path, first, count), before);
}

}  // namespace
