// The playback engine over a failing drive, in every direction it plays: the frames before the
// bad sector arrive in order, then the slot's end and the end of play are reported, and the
// engine's thread neither spins nor dies.
#include <algorithm>

#include "tests/hardening/playback_fixture.h"

namespace {

using hardening::PlaybackFaultTest;
using playtest::Event;
using testkit::kT0;

int64_t at_ms(const Event& e) { return (int64_t{e.time} - kT0) * 1000 + e.ms; }

// Frames of one slot are strictly ordered in the direction of play.
void expect_ordered(const std::vector<Event>& f, bool forward) {
    for (size_t i = 1; i < f.size(); ++i) {
        if (forward) {
            ASSERT_GT(at_ms(f[i]), at_ms(f[i - 1])) << i;
        } else {
            ASSERT_LT(at_ms(f[i]), at_ms(f[i - 1])) << i;
        }
    }
}

void expect_true_frames(const std::vector<Event>& f) {
    for (const Event& e : f) {
        const uint32_t gop_ms = e.ms >= 500 ? 500u : 0u;
        const int index = (e.ms - static_cast<int32_t>(gop_ms)) / 33;
        ASSERT_EQ(e.data, playtest::frame_bytes_of(3, e.time, gop_ms, index)) << e.time << "." << e.ms;
    }
}

TEST_F(PlaybackFaultTest, ForwardPlayStopsAtTheFailingSector) {
    open_recording(kT0, kT0 + 30);
    plan_->fail_sectors(gop_sector(kT0 + 20, 0));
    start_trace();
    play(kT0 + 5, PM_PLAY);
    const std::string trace = stop_trace();
    EXPECT_EQ(api_play_mode(), PM_STOP);
    const auto f = frames();
    ASSERT_FALSE(f.empty());
    expect_ordered(f, true);
    expect_true_frames(f);
    EXPECT_EQ(f.front().time, kT0 + 4);
    EXPECT_GE(f.back().time, kT0 + 19);
    EXPECT_LT(f.back().time, kT0 + 20);
    const auto s = statuses();
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(s[s.size() - 2].code, 101);
    EXPECT_EQ(s[s.size() - 2].slot, 0);
    EXPECT_EQ(s.back().code, 100);
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos);
}

TEST_F(PlaybackFaultTest, RewindOverAnUnreadableStretchGoesOnAtTheFirstRecord) {
    open_recording(kT0, kT0 + 30);
    // Everything of the channel from the GOP of 0.5 s up to the one of 10 s fails.
    const uint64_t first = gop_sector(kT0, 500);
    plan_->fail_sectors(first, gop_sector(kT0 + 10, 0) + 1 - first);
    start_trace();
    play(kT0 + 20, PM_REW_4);
    const std::string trace = stop_trace();
    EXPECT_EQ(api_play_mode(), PM_STOP);
    const auto f = frames();
    ASSERT_GE(f.size(), 2u);
    expect_ordered(f, false);
    expect_true_frames(f);
    EXPECT_EQ(f.front().time, kT0 + 20);
    EXPECT_EQ(at_ms(f[f.size() - 2]), 10500);  // the last GOP before the bad stretch
    EXPECT_EQ(at_ms(f.back()), 0);             // the first GOP, before it
    PlaybackReadFailure failures[4];
    ASSERT_EQ(api_take_read_failures(failures, 4), 1);
    EXPECT_EQ(failures[0].failed_at, kT0 + 10);
    EXPECT_EQ(failures[0].resumed_at, kT0);
    const auto s = statuses();
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s[s.size() - 3].code, 103);
    EXPECT_EQ(s[s.size() - 2].code, 102);
    EXPECT_EQ(s.back().code, 100);
    EXPECT_NE(trace.find("Disk Access\n"), std::string::npos);
}

TEST_F(PlaybackFaultTest, KeyFrameFastForwardStopsAtTheFailingSector) {
    open_recording(kT0, kT0 + 30);
    plan_->fail_sectors(gop_sector(kT0 + 20, 0));
    api_set_key_frame_only(1);
    play(kT0 + 5, PM_FF_8);
    EXPECT_EQ(api_play_mode(), PM_STOP);
    const auto f = frames();
    ASSERT_FALSE(f.empty());
    expect_ordered(f, true);
    expect_true_frames(f);
    for (const Event& e : f) EXPECT_NE(e.picture_size, 0u);
    EXPECT_LT(f.back().time, kT0 + 20);
    EXPECT_EQ(statuses().back().code, 100);
}

// Only the frames a step shows: those decoded just for the one after them are left out.
std::vector<Event> shown(const std::vector<Event>& f) {
    std::vector<Event> out;
    for (const Event& e : f)
        if (e.kind == 0) out.push_back(e);
    return out;
}

bool read_error_reported(const std::vector<Event>& statuses) {
    return std::any_of(statuses.begin(), statuses.end(),
                       [](const Event& e) { return e.code == PLAYBACK_STATUS_READ_ERROR; });
}

// Frame steps over a GOP that cannot be read: each step shows one stored frame, in order, the
// failure is reported, and the steps go on past the unreadable span in both directions.
TEST_F(PlaybackFaultTest, FrameStepsGoOnPastTheFailingSector) {
    open_recording(kT0, kT0 + 30);
    plan_->fail_sectors(gop_sector(kT0 + 12, 0));
    api_set_play_mode(PM_PAUSE);
    play(kT0 + 11, PM_FRAME_F);
    for (int i = 0; i < 80 && api_play_mode() == PM_PAUSE; ++i) {
        ASSERT_EQ(api_set_play_mode(PM_FRAME_F), PM_FRAME_F);
        ASSERT_TRUE(wait_for([] { return api_play_mode() != PM_FRAME_F; }));
    }
    auto f = shown(frames());
    ASSERT_FALSE(f.empty());
    expect_ordered(f, true);
    expect_true_frames(f);
    EXPECT_GT(f.back().time, kT0 + 12u);
    EXPECT_TRUE(read_error_reported(statuses()));

    api_set_play_mode(PM_STOP);
    clear_events();
    api_set_play_mode(PM_PAUSE);
    play(kT0 + 14, PM_FRAME_B);
    for (int i = 0; i < 80 && api_play_mode() == PM_PAUSE; ++i) {
        ASSERT_EQ(api_set_play_mode(PM_FRAME_B), PM_FRAME_B);
        ASSERT_TRUE(wait_for([] { return api_play_mode() != PM_FRAME_B; }));
    }
    f = shown(frames());
    ASSERT_FALSE(f.empty());
    expect_ordered(f, false);
    expect_true_frames(f);
    EXPECT_LT(f.back().time, kT0 + 12u);
    EXPECT_EQ(api_play_mode(), PM_PAUSE);
}

TEST_F(PlaybackFaultTest, MinuteJumpsOntoAFailingSectorGoOnAfterIt) {
    open_recording(kT0, kT0 + 150);
    // A frame step leaves the engine paused on a known clock: the minute ahead of it is known,
    // and its sectors are made to fail before the jump.
    ASSERT_EQ(api_play_from(kT0 + 10), 0);
    ASSERT_EQ(api_set_play_mode(PM_FRAME_F), PM_FRAME_F);
    ASSERT_TRUE(wait_for([] { return api_play_mode() == PM_PAUSE; }));
    ASSERT_FALSE(frames().empty());
    int64_t clock = 0;
    {
        std::lock_guard<std::mutex> guard(api_state().lock);
        clock = engine_state().clock.sec;
    }
    ASSERT_GE(clock, int64_t{kT0} + 8);
    ASSERT_LT(clock, int64_t{kT0} + 12);
    const auto landing = static_cast<uint32_t>(clock + 60);
    plan_->fail_sectors(gop_sector(landing - 1, 0),
                        gop_sector(landing + 3, 0) - gop_sector(landing - 1, 0));
    ASSERT_EQ(api_set_play_mode(PM_MINUTE_F), PM_MINUTE_F);
    ASSERT_TRUE(wait_for([] { return api_play_mode() == PM_PAUSE; }));
    ASSERT_EQ(api_set_play_mode(PM_PLAY), PM_PLAY);
    ASSERT_TRUE(wait_for([] { return api_play_mode() == PM_STOP; }));
    // The landing cannot be read: play goes on where the channel can be read again.
    PlaybackReadFailure failures[4];
    ASSERT_EQ(api_take_read_failures(failures, 4), 1);
    EXPECT_GE(failures[0].failed_at, landing - 2);
    EXPECT_LE(failures[0].failed_at, landing);
    EXPECT_GE(failures[0].resumed_at, landing + 3);
    bool after = false;
    for (const Event& e : frames()) {
        EXPECT_FALSE(e.time > failures[0].failed_at && e.time < failures[0].resumed_at) << e.time;
        after = after || e.time >= failures[0].resumed_at;
    }
    EXPECT_TRUE(after);
    EXPECT_EQ(statuses().back().code, 100);

    plan_->clear();
    plan_->fail_sectors(gop_sector(kT0 + 70, 0), 40);

    clear_events();
    ASSERT_EQ(api_play_from(kT0 + 140), 0);
    ASSERT_EQ(api_set_play_mode(PM_PLAY), PM_PLAY);
    ASSERT_TRUE(wait_for([&] { return frames().size() >= 5; }));
    ASSERT_EQ(api_set_play_mode(PM_MINUTE_B), PM_MINUTE_B);
    ASSERT_TRUE(wait_for([] { return api_play_mode() == PM_STOP; }));
    for (const Event& e : frames()) EXPECT_GE(e.time, kT0 + 80);
    EXPECT_EQ(statuses().back().code, 100);
}

TEST_F(PlaybackFaultTest, DriveThatVanishesDuringPlayEndsItCleanly) {
    open_recording(kT0, kT0 + 60);
    play(kT0 + 5, PM_PLAY, 30);
    api_set_play_mode(PM_STOP);
    clear_events();
    plan_->shrink_after(3, 0);
    play(kT0 + 20, PM_PLAY);
    EXPECT_EQ(api_play_mode(), PM_STOP);
    EXPECT_LT(frames().size(), 40u * 15u);
    EXPECT_EQ(statuses().back().code, 100);
    // Starting again finds nothing and says so at once.
    clear_events();
    play(kT0 + 30, PM_REW_2);
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(statuses().back().code, 100);
}

TEST_F(PlaybackFaultTest, UnreadableIndexRefusesToPositionAndStops) {
    open_recording(kT0, kT0 + 30);
    std::vector<uint64_t> sectors;
    {
        std::lock_guard<std::mutex> guard(api_state().lock);
        sectors = {hardening::channel_sector(DVR_CH_SUPER, 0), hardening::channel_sector(DVR_CH_INDEX, 0)};
    }
    for (uint64_t s : sectors) plan_->fail_sectors(s, 8);
    start_trace();
    play(kT0 + 5, PM_PLAY);
    const std::string trace = stop_trace();
    EXPECT_EQ(api_play_mode(), PM_STOP);
    EXPECT_TRUE(frames().empty());
    EXPECT_EQ(statuses().back().code, 100);
    EXPECT_NE(trace.find("locat index error"), std::string::npos) << trace;
}

}  // namespace
