// The playback engine through its callbacks: positioning, every kind of play mode, gaps,
// damaged records, the ends of the data and pacing, on recordings built at run time.
#include <algorithm>

#include "playback/pacing.h"
#include "tests/playback/engine_fixture.h"
#include "tests/testkit/stderr_capture.h"

namespace {

using playtest::Event;
using playtest::Recording;
using testkit::kT0;

// Milliseconds since kT0 of a delivered frame.
int64_t at_ms(const Event& e) { return (int64_t{e.time} - kT0) * 1000 + e.ms; }

using EngineTest = playtest::EngineTest;

TEST_F(EngineTest, ForwardPlayStartsWithTheLocatedGopAndKeepsFrameOrder) {
    open({Recording{.spans = {{kT0, kT0 + 60}}}}, 0x1);
    play(kT0 + 27, PM_PLAY, 40);
    const auto f = frames();
    ASSERT_GE(f.size(), 40u);
    // 27 s is 12 s past a quarter minute: the GOPs from there up to the second before the
    // requested time are passed over, so play opens with the GOP that leads into it.
    EXPECT_EQ(f[0].time, kT0 + 26);
    EXPECT_EQ(f[0].ms, 0);
    EXPECT_EQ(f[0].picture_size, (352u << 16) | 240u);
    for (size_t i = 0; i < 40; ++i) {
        const uint32_t gop = static_cast<uint32_t>(i / 15);
        const uint32_t t = kT0 + 26 + gop / 2, ms = (gop % 2) * 500;
        const int frame = static_cast<int>(i % 15);
        EXPECT_EQ(f[i].data, playtest::frame_bytes_of(3, t, ms, frame)) << i;
        EXPECT_EQ(at_ms(f[i]), (int64_t{t} - kT0) * 1000 + ms + 33 * frame) << i;
        EXPECT_EQ(f[i].picture_size != 0, frame == 0) << i;
    }
}

TEST_F(EngineTest, ForwardEndOfAllDataStopsPlayback) {
    open({Recording{.spans = {{kT0, kT0 + 10}}}}, 0x1);
    play(kT0 + 8, PM_PLAY);
    EXPECT_EQ(api_play_mode(), PM_STOP);
    const auto s = statuses();
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(s[s.size() - 2].code, 101);
    EXPECT_EQ(s[s.size() - 2].slot, 0);
    EXPECT_EQ(s.back().code, 100);
    EXPECT_EQ(s.back().slot, -1);
    // Every frame from 8 s to the end was delivered once, in order.
    const auto f = frames();
    EXPECT_EQ(f.size(), 6u * 15u);  // from the GOP a second before 8 s to the end
    EXPECT_TRUE(std::is_sorted(f.begin(), f.end(), [](const Event& a, const Event& b) {
        return at_ms(a) < at_ms(b);
    }));
}

TEST_F(EngineTest, PlayFromAfterTheSessionStopsAtOnce) {
    open({Recording{.spans = {{kT0, kT0 + 10}}}}, 0x1);
    play(kT0 + 3600, PM_PLAY);
    EXPECT_EQ(api_play_mode(), PM_STOP);
    EXPECT_TRUE(frames().empty());
    ASSERT_FALSE(statuses().empty());
    EXPECT_EQ(statuses().back().code, 100);
}

TEST_F(EngineTest, RewindDeliversKeyFramesBackwardToTheStart) {
    open({Recording{.spans = {{kT0, kT0 + 20}}}}, 0x1);
    play(kT0 + 10, PM_REW_4);
    EXPECT_EQ(api_play_mode(), PM_STOP);
    const auto f = frames();
    ASSERT_GE(f.size(), 10u);
    for (size_t i = 0; i < f.size(); ++i) {
        EXPECT_NE(f[i].picture_size, 0u) << "only key frames going backward";
        EXPECT_EQ(f[i].data, playtest::frame_bytes_of(3, f[i].time, static_cast<uint32_t>(f[i].ms), 0));
        if (i > 0) {
            EXPECT_LT(at_ms(f[i]), at_ms(f[i - 1])) << i;
        }
    }
    // Backward from the last GOP of the requested second, down to the first GOP.
    EXPECT_EQ(f.front().time, kT0 + 10);
    EXPECT_EQ(f.front().ms, 500);
    EXPECT_EQ(f.back().time, kT0);
    EXPECT_EQ(f.back().ms, 0);
    const auto s = statuses();
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(s[s.size() - 2].code, 102);
    EXPECT_EQ(s.back().code, 100);
}

TEST_F(EngineTest, RewindFromInsideAGapStartsBeforeItAndEnds) {
    // Channel 1 has a gap around the requested time; channel 2 records throughout.
    open({Recording{.channel = 3, .spans = {{kT0, kT0 + 20}, {kT0 + 40, kT0 + 60}}},
          Recording{.channel = 4, .spans = {{kT0, kT0 + 60}}}},
         0x3);
    play(kT0 + 30, PM_REW_8);
    EXPECT_EQ(api_play_mode(), PM_STOP);
    const auto f = frames();
    ASSERT_FALSE(f.empty());
    for (const Event& e : f) EXPECT_LE(e.time, kT0 + 30) << "slot " << e.slot;
    const auto first_of = [&](int32_t slot) {
        return std::find_if(f.begin(), f.end(), [&](const Event& e) { return e.slot == slot; });
    };
    ASSERT_NE(first_of(0), f.end());
    EXPECT_EQ(first_of(0)->time, kT0 + 19);  // the last GOP before the gap
    EXPECT_EQ(first_of(0)->ms, 500);
    EXPECT_EQ(statuses().back().code, 100);
}

TEST_F(EngineTest, RewindFromAfterTheLastGopStartsAtIt) {
    open({Recording{.spans = {{kT0, kT0 + 20}}, .end_mark = true},
          Recording{.channel = 4, .spans = {{kT0, kT0 + 40}}}},
         0x3);
    play(kT0 + 30, PM_REW_8);
    const auto f = frames();
    const auto first = std::find_if(f.begin(), f.end(), [](const Event& e) { return e.slot == 0; });
    ASSERT_NE(first, f.end()) << "the channel that ended before the time was lost";
    EXPECT_EQ(first->time, kT0 + 19);
    EXPECT_EQ(first->ms, 500);
    EXPECT_EQ(api_play_mode(), PM_STOP);
}

TEST_F(EngineTest, FastForwardWithKeyFramesOnlyDeliversOneFramePerGop) {
    open({Recording{.spans = {{kT0, kT0 + 30}}}}, 0x1);
    api_set_key_frame_only(1);
    play(kT0 + 5, PM_FF_8, 20);
    const auto f = frames();
    ASSERT_GE(f.size(), 20u);
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_NE(f[i].picture_size, 0u) << i;
        if (i > 0) {
            EXPECT_EQ(at_ms(f[i]) - at_ms(f[i - 1]), 500) << i;
        }
    }
}

TEST_F(EngineTest, FastForwardWithAllFramesDeliversEveryFrame) {
    open({Recording{.spans = {{kT0, kT0 + 30}}}}, 0x1);
    play(kT0 + 5, PM_FF_16, 45);
    const auto f = frames();
    ASSERT_GE(f.size(), 45u);
    for (size_t i = 1; i < 45; ++i) EXPECT_GT(at_ms(f[i]), at_ms(f[i - 1]));
    EXPECT_EQ(std::count_if(f.begin(), f.begin() + 45, [](const Event& e) { return e.picture_size; }), 3);
}

TEST_F(EngineTest, FrameStepsDeliverOneFrameEachAndReturnToPause) {
    open({Recording{.spans = {{kT0, kT0 + 30}}}}, 0x1);
    api_set_play_mode(PM_PAUSE);
    play(kT0 + 15, PM_FRAME_F);
    EXPECT_EQ(api_play_mode(), PM_PAUSE);
    ASSERT_EQ(frames().size(), 1u);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(api_set_play_mode(PM_FRAME_F), PM_FRAME_F);
        ASSERT_TRUE(wait_for([] { return api_play_mode() == PM_PAUSE; }));
    }
    const auto f = frames();
    ASSERT_EQ(f.size(), 5u);
    for (size_t i = 0; i < f.size(); ++i) {
        EXPECT_EQ(at_ms(f[i]), 15000 + 33 * static_cast<int64_t>(i)) << i;
    }
}

TEST_F(EngineTest, MinuteJumpReturnsToTheModeThatPlayed) {
    open({Recording{.spans = {{kT0, kT0 + 600}}}}, 0x1);
    ASSERT_EQ(api_play_from(kT0 + 10), 0);
    ASSERT_EQ(api_set_play_mode(PM_FF_4), PM_FF_4);
    ASSERT_TRUE(wait_for([&] { return frames().size() >= 5; }));
    // Somewhere after this the frames leap a minute ahead, then fast play goes on.
    const auto leapt = [&] {
        const auto f = frames();
        for (size_t i = 1; i < f.size(); ++i) {
            const int64_t step = at_ms(f[i]) - at_ms(f[i - 1]);
            if (step >= 58000 && step <= 61000) return i + 5 < f.size();
        }
        return false;
    };
    ASSERT_EQ(api_set_play_mode(PM_MINUTE_F), PM_MINUTE_F);
    ASSERT_TRUE(wait_for(leapt));
    EXPECT_EQ(api_play_mode(), PM_FF_4);
    api_set_play_mode(PM_STOP);
}

TEST_F(EngineTest, MinuteGapIsSkippedAndAShortGapIsPlayedThrough) {
    open({Recording{.spans = {{kT0, kT0 + 20}, {kT0 + 23, kT0 + 30}, {kT0 + 90, kT0 + 100}}}}, 0x1);
    testkit::StderrCapture capture;
    dvrfs_set_trace(true);
    play(kT0 + 15, PM_PLAY);
    dvrfs_set_trace(false);
    const auto f = frames();
    ASSERT_FALSE(f.empty());
    EXPECT_EQ(f.back().time, kT0 + 99);
    // Nothing from the gaps, and the 3-second gap was not a reposition.
    for (const Event& e : f) {
        EXPECT_FALSE(e.time >= kT0 + 20 && e.time < kT0 + 23) << e.time;
        EXPECT_FALSE(e.time >= kT0 + 30 && e.time < kT0 + 90) << e.time;
    }
    const std::string trace = capture.text();
    size_t repositions = 0;
    for (size_t at = trace.find("Reset pb info... 3"); at != std::string::npos;
         at = trace.find("Reset pb info... 3", at + 1)) {
        ++repositions;
    }
    EXPECT_EQ(repositions, 1u);  // only the minute gap
}

TEST_F(EngineTest, DamagedGopIsSkippedByTheStartBitsSearch) {
    open({Recording{.spans = {{kT0, kT0 + 20}}, .broken = {kT0 + 12}}}, 0x1);
    play(kT0 + 10, PM_PLAY);
    const auto f = frames();
    for (const Event& e : f) EXPECT_NE(e.time, kT0 + 12);
    EXPECT_TRUE(std::any_of(f.begin(), f.end(), [](const Event& e) { return e.time == kT0 + 13; }));
    EXPECT_EQ(f.back().time, kT0 + 19);
}

TEST_F(EngineTest, ChannelEndingEarlyEndsOnlyItsSlot) {
    open({Recording{.channel = 3, .spans = {{kT0, kT0 + 8}}, .end_mark = true},
          Recording{.channel = 4, .spans = {{kT0, kT0 + 14}}}},
         0x3);
    play(kT0 + 5, PM_PLAY);
    const auto s = statuses();
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].code, 101);
    EXPECT_EQ(s[0].slot, 0);
    EXPECT_EQ(s[1].code, 101);
    EXPECT_EQ(s[1].slot, 1);
    EXPECT_EQ(s[2].code, 100);
    const auto f = frames();
    const auto last_of = [&](int32_t slot) {
        uint32_t t = 0;
        for (const Event& e : f) {
            if (e.slot == slot) t = std::max(t, e.time);
        }
        return t;
    };
    EXPECT_EQ(last_of(0), kT0 + 7);
    EXPECT_EQ(last_of(1), kT0 + 13);
}

TEST_F(EngineTest, PlayIsPacedByTheFrameInterval) {
    open({Recording{.spans = {{kT0, kT0 + 30}}}}, 0x1);
    api_set_no_pacing(0);
    clock_.clear();
    play(kT0 + 5, PM_PLAY, 30);
    const auto sleeps = clock_.sleeps();
    // The virtual clock stands still during a step, so each step sleeps the whole interval.
    EXPECT_GE(std::count(sleeps.begin(), sleeps.end(), 33), 25);
}

TEST(Pacing, SleepsByModeAndSpeed) {
    EXPECT_EQ(pacing_sleep_ms(PM_PLAY, 10, 33, false), 23);
    EXPECT_EQ(pacing_sleep_ms(PM_PLAY, 40, 33, false), 0);
    EXPECT_EQ(pacing_sleep_ms(PM_REW_1, 100, 33, false), 400);
    EXPECT_EQ(pacing_sleep_ms(PM_FRAME_F, 900, 33, false), 10);
    EXPECT_EQ(pacing_sleep_ms(PM_FF_4, 1, 33, false), 8);
    EXPECT_EQ(pacing_sleep_ms(PM_FF_4, 100, 33, true), 100);
    EXPECT_EQ(pacing_sleep_ms(PM_REW_8, 20, 40, false), 60);
    // A step that took longer than its period does not sleep.
    for (int32_t m : {PM_FF_2, PM_FF_32, PM_REW_2, PM_REW_32}) {
        EXPECT_EQ(pacing_sleep_ms(m, 501, 33, true), 0) << m;
    }
    EXPECT_EQ(pacing_sleep_ms(PM_STOP, 0, 33, false), 0);
}

}  // namespace
