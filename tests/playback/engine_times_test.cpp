// Play and rewind where the calendar makes the index or the record times unusual: sessions
// whose oldest time lies inside an hour or between quarter minutes, recordings made in January
// or December, and a recording across the new year.
#include <algorithm>

#include "disk/recorder_time.h"
#include "tests/playback/engine_fixture.h"

namespace {

using playtest::Event;
using playtest::Recording;

uint32_t at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return static_cast<uint32_t>(recorder_from_civil(y, mo, d, h, mi, s));
}

int64_t ms_of(const Event& e) { return int64_t{e.time} * 1000 + e.ms; }

// Every frame the stored frame of its time, in the fixture's GOPs of 15 frames at .000 and .500.
void expect_stored_frames(const std::vector<Event>& frames, int32_t channel) {
    for (const Event& e : frames) {
        const uint32_t gop_ms = e.ms >= 500 ? 500 : 0;
        const int i = (e.ms - static_cast<int32_t>(gop_ms)) / 33;
        ASSERT_EQ((e.ms - static_cast<int32_t>(gop_ms)) % 33, 0) << e.time << "." << e.ms;
        EXPECT_EQ(e.data, playtest::frame_bytes_of(channel, e.time, gop_ms, i)) << e.time << "." << e.ms;
    }
}

// The key frames of [from, to) at or before `before`, latest first: what a rewind delivers.
std::vector<int64_t> key_frames_back(uint32_t from, uint32_t to, uint32_t before) {
    std::vector<int64_t> out;
    for (uint32_t t = std::min(before, to - 1) + 1; t-- > from;) {
        out.push_back(int64_t{t} * 1000 + 500);
        out.push_back(int64_t{t} * 1000);
    }
    return out;
}

// The frames of second `from` and before, latest first: what backward frame steps show.
std::vector<int64_t> frames_back(uint32_t from, size_t count) {
    std::vector<int64_t> out;
    for (uint32_t t = from; out.size() < count; --t) {
        for (const int gop_ms : {500, 0}) {
            for (int i = 14; i >= 0 && out.size() < count; --i) {
                out.push_back(int64_t{t} * 1000 + gop_ms + 33 * i);
            }
        }
    }
    return out;
}

std::vector<int64_t> times_of(const std::vector<Event>& frames) {
    std::vector<int64_t> out;
    for (const Event& e : frames) out.push_back(ms_of(e));
    return out;
}

class EngineTimesTest : public playtest::EngineTest {
protected:
    // Rewinds from `from` in the mode and checks the key frames down to the recording's start
    // and the statuses of the beginning.
    void expect_rewind(uint32_t first, uint32_t end, uint32_t from, int32_t mode) {
        SCOPED_TRACE(mode);
        playtest::events().list.clear();
        play(from, mode);
        EXPECT_EQ(api_play_mode(), PM_STOP);
        const auto f = frames();
        EXPECT_EQ(times_of(f), key_frames_back(first, end, from));
        expect_stored_frames(f, 3);
        const auto s = statuses();
        ASSERT_GE(s.size(), 2u);
        EXPECT_EQ(s[s.size() - 2].code, PLAYBACK_STATUS_BEGINNING);
        EXPECT_EQ(s.back().code, PLAYBACK_STATUS_NO_DATA);
    }

    // Backward frame steps from pause: each shows the previous frame, after the frames of its
    // GOP that lead up to it, and pauses again. A frame step's reposition keeps the slots' end
    // marks, so this runs before any rewind ends.
    void expect_frame_steps_back(uint32_t from, size_t presses) {
        playtest::events().list.clear();
        ASSERT_EQ(api_set_play_mode(PM_PAUSE), PM_PAUSE);
        ASSERT_EQ(api_play_from(from), 0);
        for (size_t i = 0; i < presses; ++i) {
            ASSERT_EQ(api_set_play_mode(PM_FRAME_B), PM_FRAME_B);
            ASSERT_TRUE(wait_for([] { return api_play_mode() != PM_FRAME_B; }));
            ASSERT_EQ(api_play_mode(), PM_PAUSE) << i;
        }
        const auto f = frames();
        std::vector<Event> shown;
        for (const Event& e : f) {
            if (e.kind == FRAME_KIND_VIDEO) shown.push_back(e);
        }
        EXPECT_EQ(times_of(shown), frames_back(from, presses));
        expect_stored_frames(f, 3);
    }

    // A fresh API, engine and reader for the next image.
    void restart() {
        api_exit();
        reset();
        engine_reset_for_tests();
        stream_reader_reset();
        ASSERT_EQ(api_init(0, playtest::record_frame, playtest::record_status), 0);
        api_set_no_pacing(1);
    }

    static constexpr int32_t kRewindModes[] = {PM_REW_1, PM_REW_2, PM_REW_4, PM_REW_8, PM_REW_16, PM_REW_32};
};

// A session whose oldest time is 07:20:07, in a ring that wrapped: forward play from its first
// second and from later in its first hour, and rewind down to its first GOP.
TEST_F(EngineTimesTest, OffHourOldestTimeInAWrappedRing) {
    const uint32_t first = testkit::kT0 + 20 * 60 + 7, end = first + 40;
    open({Recording{.spans = {{first, end}}}}, 0x1, true);
    ASSERT_EQ(backup_selected_volume()->oldest, first);
    for (const uint32_t from : {first, first - 600, first + 28}) {
        SCOPED_TRACE(from - first);
        playtest::events().list.clear();
        play(from, PM_PLAY, 30);
        const auto f = frames();
        ASSERT_GE(f.size(), 30u);
        const uint32_t opens = from <= first ? first : from - 1;  // the GOP leading into it
        EXPECT_EQ(ms_of(f[0]), int64_t{opens} * 1000);
        expect_stored_frames(f, 3);
        api_set_play_mode(PM_STOP);
        ASSERT_TRUE(wait_for([] { return api_play_mode() == PM_STOP; }));
    }
    expect_rewind(first, end, first + 12, PM_REW_4);
}

// 07:00:07 in a ring that did not wrap: the first quarter minute begins before the oldest time.
TEST_F(EngineTimesTest, OldestTimeOffTheQuarterMinuteGrain) {
    const uint32_t first = testkit::kT0 + 7, end = first + 30;
    open({Recording{.spans = {{first, end}}}}, 0x1);
    play(testkit::kT0 + 3, PM_PLAY, 20);
    const auto f = frames();
    ASSERT_GE(f.size(), 20u);
    EXPECT_EQ(ms_of(f[0]), int64_t{first} * 1000);
    expect_stored_frames(f, 3);
    api_set_play_mode(PM_STOP);
    ASSERT_TRUE(wait_for([] { return api_play_mode() == PM_STOP; }));
    expect_frame_steps_back(first + 1, 4 * 15);  // back to the recording's first frame
    expect_rewind(first, end, first + 5, PM_REW_1);
}

// Recordings from 23:30 into the next day, rewound from after midnight.
TEST_F(EngineTimesTest, RewindAcrossMidnightFromTheNextDay) {
    const uint32_t first = at(2026, 3, 14, 23, 59, 50), end = at(2026, 3, 15, 0, 0, 10);
    open({Recording{.spans = {{at(2026, 3, 14, 23, 30), at(2026, 3, 14, 23, 30, 5)}, {first, end}}}},
         0x1);
    play(at(2026, 3, 15, 0, 0, 4), PM_REW_8);
    const auto f = frames();
    ASSERT_FALSE(f.empty());
    std::vector<int64_t> expected = key_frames_back(first, end, at(2026, 3, 15, 0, 0, 4));
    const auto before_gap = key_frames_back(at(2026, 3, 14, 23, 30), at(2026, 3, 14, 23, 30, 5),
                                            at(2026, 3, 14, 23, 30, 5));
    expected.insert(expected.end(), before_gap.begin(), before_gap.end());
    EXPECT_EQ(times_of(f), expected);
    expect_stored_frames(f, 3);
}

// Record times in January are times like any other: every rewind speed delivers the key frames
// and the backward frame step every frame, in January, in December and across the new year.
TEST_F(EngineTimesTest, RewindInJanuaryDecemberAndAcrossTheNewYear) {
    const std::pair<uint32_t, uint32_t> spans[] = {
        {at(2026, 1, 14, 10), at(2026, 1, 14, 10, 0, 12)},
        {at(2025, 12, 14, 10), at(2025, 12, 14, 10, 0, 12)},
        {at(2025, 12, 31, 23, 59, 54), at(2026, 1, 1, 0, 0, 6)},
    };
    for (const auto& [first, end] : spans) {
        SCOPED_TRACE(dvrfs_time_string(first, 1));
        open({Recording{.spans = {{first, end}}}}, 0x1);
        const uint32_t from = first + 8;
        expect_frame_steps_back(from, 2 * 15 + 1);  // into the second before
        for (int32_t mode : kRewindModes) expect_rewind(first, end, from, mode);
        restart();
    }
}

}  // namespace
