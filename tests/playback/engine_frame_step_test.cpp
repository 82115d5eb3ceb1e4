// Frame steps on real recordings at 15, 25 and 30 frames a second, whose GOPs of 8, 13 and 15
// frames begin at different times: each press forward shows every channel's next stored frame,
// each press back its previous one after the frames of its GOP that lead up to it. The test
// drives the engine's passes itself, with the thread held in its search-busy sleep, so that no
// pass runs but the ones it makes.
#include <map>
#include <memory>
#include <mutex>

#include "tests/playback/engine_fixture.h"
#include "tools/sample/recordings.h"

namespace {

using playtest::Event;
using testkit::kT0;

constexpr uint32_t kSpan = 8;  // seconds recorded
constexpr int kRates[] = {15, 25, 30};

struct StoredFrame {
    uint32_t time = 0;
    uint32_t ms = 0;
    int index = 0;  // in its GOP
    const std::vector<uint8_t>* bytes = nullptr;
};

// The three channels, encoded once for the whole suite.
struct Recordings {
    std::vector<sample::VideoRecording> video;
    std::string error;
};

Recordings* recordings = nullptr;

class FrameStepTest : public playtest::EngineTest {
protected:
    static void SetUpTestSuite() {
        auto r = std::make_unique<Recordings>();
        int channel = 1;
        for (int fps : kRates) {
            sample::VideoRecordingSpec spec;
            spec.video_channel = channel++;
            spec.width = 176;
            spec.height = 144;
            spec.fps = fps;
            spec.from = kT0;
            spec.to = kT0 + kSpan;
            auto encoder = sample::VideoEncoder::create(sample::Codec::H264, spec.width, spec.height,
                                                        fps, &r->error);
            if (!encoder) return;
            auto v = sample::video_recording(spec, *encoder, &r->error);
            if (!v) return;
            r->video.push_back(std::move(*v));
        }
        recordings = r.release();
    }
    static void TearDownTestSuite() {
        delete recordings;
        recordings = nullptr;
    }

    void SetUp() override {
        playtest::EngineTest::SetUp();
        ASSERT_NE(recordings, nullptr) << "the recordings could not be built";
        sample::VolumeContent content;
        for (const sample::VideoRecording& v : recordings->video) content.channels.push_back(v.data);
        sample::DiskSpec spec = testkit::small_recorder(content, 29);
        spec.bare.recorder.block_size = 64 * 1024;
        ASSERT_EQ(mount(spec), 0);
        ASSERT_EQ(api_set_channel_mask(0x7), 0x7);
        // The thread only sleeps from here on; every pass is the test's own.
        api_state().search_busy = 1;
    }
    void TearDown() override {
        api_state().search_busy = 0;
        playtest::EngineTest::TearDown();
    }

    // The stored frames of a slot in recording order.
    static std::vector<StoredFrame> stored(int32_t slot) {
        std::vector<StoredFrame> out;
        for (const sample::RecordedGop& g : recordings->video[static_cast<size_t>(slot)].gops) {
            for (const sample::RecordedFrame& f : g.frames) out.push_back({f.time, f.ms, f.index, &f.bytes});
        }
        return out;
    }

    // Position in the slot's stored frames of a delivered frame; -1 when it is none of them.
    static int position(int32_t slot, const Event& e) {
        const auto frames = stored(slot);
        for (size_t i = 0; i < frames.size(); ++i) {
            if (frames[i].time == e.time && frames[i].ms == static_cast<uint32_t>(e.ms)) {
                return *frames[i].bytes == e.data ? static_cast<int>(i) : -1;
            }
        }
        return -1;
    }

    // One pass in the mode, then one in pause as the thread would make it; the frames it gave.
    std::vector<Event> pass(int32_t mode) {
        ApiState& st = api_state();
        std::lock_guard<std::mutex> guard(st.lock);
        const size_t before = frames().size();
        st.play_mode = mode;
        engine_pass(mode, st.reposition != 0);
        if (mode == PM_FRAME_F || mode == PM_FRAME_B) {
            EXPECT_EQ(st.play_mode.load(), PM_PAUSE) << "a frame step falls back to pause";
        }
        if (st.play_mode == mode) st.play_mode = PM_PAUSE;
        engine_pass(st.play_mode, false);
        const auto all = frames();
        return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
    }

    // Passes of PM_PLAY until every slot delivered at least `count` frames more.
    std::map<int32_t, std::vector<Event>> play(size_t count) {
        std::map<int32_t, std::vector<Event>> got;
        for (int i = 0; i < 2000; ++i) {
            for (const Event& e : pass(PM_PLAY)) got[e.slot].push_back(e);
            bool enough = got.size() == 3;
            for (const auto& [slot, list] : got) enough = enough && list.size() >= count;
            if (enough) break;
        }
        return got;
    }

    // The frame shown in each slot by one step, checking that there is exactly one.
    std::map<int32_t, Event> step(int32_t mode) {
        std::map<int32_t, Event> shown;
        for (const Event& e : pass(mode)) {
            if (e.kind != FRAME_KIND_VIDEO) continue;
            EXPECT_FALSE(shown.count(e.slot)) << "slot " << e.slot << " showed two frames";
            shown[e.slot] = e;
        }
        return shown;
    }

    static PlayTime clock() { return engine_state().clock; }
};

int64_t ms_of(const Event& e) { return int64_t{e.time} * 1000 + e.ms; }

TEST_F(FrameStepTest, ForwardStepsShowEveryStoredFrameOnceAcrossGops) {
    ASSERT_EQ(api_play_from(kT0 + 2), 0);
    std::map<int32_t, std::vector<int>> seen;
    constexpr int kPresses = 20;  // more than a GOP of every rate
    for (int press = 0; press < kPresses; ++press) {
        const auto shown = step(PM_FRAME_F);
        ASSERT_EQ(shown.size(), 3u) << "press " << press;
        int64_t latest = 0;
        for (const auto& [slot, e] : shown) {
            const int at = position(slot, e);
            ASSERT_GE(at, 0) << "slot " << slot << " showed a frame that is not stored";
            seen[slot].push_back(at);
            EXPECT_EQ(e.picture_size != 0, stored(slot)[static_cast<size_t>(at)].index == 0);
            latest = std::max(latest, ms_of(e));
        }
        EXPECT_EQ(clock().sec * 1000 + clock().msec, latest) << "the clock stands at the latest frame";
    }
    for (const auto& [slot, positions] : seen) {
        for (size_t i = 1; i < positions.size(); ++i) {
            EXPECT_EQ(positions[i], positions[i - 1] + 1) << "slot " << slot << ", press " << i;
        }
        // The steps passed at least one GOP boundary.
        const auto frames = stored(slot);
        EXPECT_EQ(frames[static_cast<size_t>(positions.front())].time, kT0 + 1)
            << "the first step shows the GOP that leads into the requested second";
        bool crossed = false;
        for (size_t i = 1; i < positions.size(); ++i) {
            crossed = crossed || frames[static_cast<size_t>(positions[i])].index == 0;
        }
        EXPECT_TRUE(crossed) << "slot " << slot;
    }
}

TEST_F(FrameStepTest, BackwardStepsShowThePreviousFrameAfterItsGopsLeadingFrames) {
    ASSERT_EQ(api_play_from(kT0 + 4), 0);
    const auto played = play(10);
    ASSERT_EQ(played.size(), 3u);
    std::map<int32_t, int> last;
    for (const auto& [slot, list] : played) last[slot] = position(slot, list.back());

    for (int press = 0; press < 20; ++press) {
        const std::vector<Event> got = pass(PM_FRAME_B);
        std::map<int32_t, std::vector<Event>> by_slot;
        for (const Event& e : got) by_slot[e.slot].push_back(e);
        ASSERT_EQ(by_slot.size(), 3u) << "press " << press;
        int64_t latest = 0;
        for (const auto& [slot, list] : by_slot) {
            const auto frames = stored(slot);
            const int want = last[slot] - 1;
            ASSERT_GE(want, 0);
            const StoredFrame& target = frames[static_cast<size_t>(want)];
            // The key frame and every frame after it up to the target, the last one shown.
            ASSERT_EQ(list.size(), static_cast<size_t>(target.index + 1)) << "slot " << slot;
            for (size_t i = 0; i < list.size(); ++i) {
                const int at = position(slot, list[i]);
                EXPECT_EQ(at, want - target.index + static_cast<int>(i)) << "slot " << slot;
                EXPECT_EQ(list[i].kind, i + 1 == list.size() ? FRAME_KIND_VIDEO : FRAME_KIND_PREROLL);
                EXPECT_EQ(list[i].picture_size != 0, i == 0);
            }
            last[slot] = want;
            latest = std::max(latest, ms_of(list.back()));
        }
        EXPECT_EQ(clock().sec * 1000 + clock().msec, latest);
        if (HasFailure()) return;
    }
}

TEST_F(FrameStepTest, ForwardBackForwardReturnsToTheSameFrame) {
    ASSERT_EQ(api_play_from(kT0 + 3), 0);
    ASSERT_EQ(play(7).size(), 3u);
    // Several times, so that some of the turns fall on a GOP's first frame.
    for (int round = 0; round < 16; ++round) {
        const auto first = step(PM_FRAME_F);
        const auto back = step(PM_FRAME_B);
        const auto again = step(PM_FRAME_F);
        ASSERT_EQ(first.size(), 3u);
        ASSERT_EQ(back.size(), 3u);
        ASSERT_EQ(again.size(), 3u);
        for (const auto& [slot, e] : first) {
            EXPECT_EQ(position(slot, back.at(slot)), position(slot, e) - 1) << "slot " << slot;
            EXPECT_EQ(position(slot, again.at(slot)), position(slot, e)) << "slot " << slot;
        }
        if (HasFailure()) return;
    }
}

TEST_F(FrameStepTest, PlayAfterStepsGoesOnWithoutSkippingOrRepeating) {
    ASSERT_EQ(api_play_from(kT0 + 2), 0);
    for (const int32_t mode : {PM_FRAME_F, PM_FRAME_B}) {
        SCOPED_TRACE(mode == PM_FRAME_F ? "after forward steps" : "after backward steps");
        std::map<int32_t, int> last;
        for (int press = 0; press < 9; ++press) {
            for (const auto& [slot, e] : step(mode)) last[slot] = position(slot, e);
        }
        ASSERT_EQ(last.size(), 3u);
        const auto played = play(20);
        for (const auto& [slot, list] : played) {
            int expected = last[slot] + 1;
            for (const Event& e : list) EXPECT_EQ(position(slot, e), expected++) << "slot " << slot;
        }
        if (HasFailure()) return;
    }
}

TEST_F(FrameStepTest, StepBackAtTheBeginningMovesNothing) {
    ASSERT_EQ(api_play_from(kT0), 0);
    const auto first = step(PM_FRAME_F);
    ASSERT_EQ(first.size(), 3u);
    for (const auto& [slot, e] : first) ASSERT_EQ(position(slot, e), 0) << "slot " << slot;
    playtest::events().list.clear();
    EXPECT_TRUE(pass(PM_FRAME_B).empty()) << "nothing lies before the first frame";
    const auto s = statuses();
    ASSERT_EQ(s.size(), 3u);
    for (const Event& e : s) EXPECT_EQ(e.code, PLAYBACK_STATUS_BEGINNING);
    EXPECT_EQ(api_play_mode(), PM_PAUSE);
    // The slots stayed on their first frame.
    const auto next = step(PM_FRAME_F);
    ASSERT_EQ(next.size(), 3u);
    for (const auto& [slot, e] : next) EXPECT_EQ(position(slot, e), 1) << "slot " << slot;
}

TEST_F(FrameStepTest, StepsAfterRewindAndKeyFramePlayGoOnFromTheShownFrame) {
    ASSERT_EQ(api_play_from(kT0 + 5), 0);
    ASSERT_EQ(play(3).size(), 3u);
    for (const bool key_frames : {false, true}) {
        SCOPED_TRACE(key_frames ? "after fast play with key frames only" : "after rewind");
        api_set_key_frame_only(key_frames ? 1 : 0);
        std::map<int32_t, Event> shown;
        for (int i = 0; i < 6; ++i) {
            for (const Event& e : pass(key_frames ? PM_FF_2 : PM_REW_1)) shown[e.slot] = e;
        }
        ASSERT_EQ(shown.size(), 3u);
        // Both modes leave a slot on another GOP than the one of the frame it showed.
        const auto forth = step(PM_FRAME_F);
        const auto back = step(PM_FRAME_B);
        const auto further = step(PM_FRAME_B);
        ASSERT_EQ(forth.size(), 3u);
        ASSERT_EQ(back.size(), 3u);
        ASSERT_EQ(further.size(), 3u);
        for (const auto& [slot, e] : shown) {
            const int at = position(slot, e);
            ASSERT_GE(at, 1) << "slot " << slot;
            EXPECT_EQ(position(slot, forth.at(slot)), at + 1) << "slot " << slot;
            EXPECT_EQ(position(slot, back.at(slot)), at) << "slot " << slot;
            EXPECT_EQ(position(slot, further.at(slot)), at - 1) << "slot " << slot;
        }
        if (HasFailure()) return;
    }
}

}  // namespace
