// Stepping back and forth from pause: every pair of a backward and a forward frame step or
// speed, in both orders, after some play. Each delivered frame must be the stored frame of its
// time. The test drives the engine's passes itself, under the API lock, so that every run stops
// at the same frame: the thread only ever sees pause or stop.
#include <mutex>

#include "tests/playback/engine_fixture.h"

namespace {

using playtest::Event;
using playtest::Recording;
using testkit::kT0;

constexpr int32_t kBackward[] = {PM_FRAME_B, PM_REW_1, PM_REW_2, PM_REW_4, PM_REW_8, PM_REW_16, PM_REW_32};
constexpr int32_t kForward[] = {PM_FRAME_F, PM_PLAY, PM_FF_2, PM_FF_4, PM_FF_8, PM_FF_16, PM_FF_32};

// The stored frame of a delivered time, in the fixture's GOPs of 15 frames at .000 and .500;
// empty when no frame plays at that time.
std::vector<uint8_t> stored_frame(const Event& e) {
    const int32_t gop_ms = e.ms >= 500 ? 500 : 0;
    const int32_t offset = e.ms - gop_ms;
    if (offset % 33 != 0 || offset / 33 >= 15) return {};
    return playtest::frame_bytes_of(3, e.time, static_cast<uint32_t>(gop_ms), offset / 33);
}

class EngineStepsTest : public playtest::EngineTest {
protected:
    // Runs passes of the mode until `frames` more frames came or the mode ended (a frame step
    // falls back to pause after one pass), then pauses. Returns the frames delivered.
    size_t run(int32_t mode, size_t frames) {
        ApiState& st = api_state();
        std::lock_guard<std::mutex> guard(st.lock);
        const size_t before = this->frames().size();
        st.play_mode = mode;
        for (int pass = 0; pass < 2000 && st.play_mode == mode; ++pass) {
            engine_pass(mode, st.reposition != 0);
            if (this->frames().size() >= before + frames) break;
        }
        if (st.play_mode != PM_STOP) {
            st.play_mode = PM_PAUSE;
            engine_pass(PM_PAUSE, false);
        }
        return this->frames().size() - before;
    }

    // Steps of a frame mode are taken one by one, speeds run for a while.
    size_t move(int32_t mode) {
        if (mode != PM_FRAME_B && mode != PM_FRAME_F) return run(mode, 20);
        size_t delivered = 0;
        for (int i = 0; i < 3; ++i) delivered += run(mode, 1);
        return delivered;
    }
};

TEST_F(EngineStepsTest, EveryBackwardAndForwardPairDeliversTheStoredFrames) {
    open({Recording{.spans = {{kT0, kT0 + 60}}}}, 0x1);
    for (int32_t back : kBackward) {
        for (int32_t forth : kForward) {
            for (const bool back_first : {true, false}) {
                SCOPED_TRACE("backward " + std::to_string(back) + ", forward " + std::to_string(forth) +
                             (back_first ? ", backward first" : ", forward first"));
                playtest::events().list.clear();
                ASSERT_EQ(api_play_from(kT0 + 30), 0);
                ASSERT_GT(run(PM_PLAY, 20), 0u);
                const int32_t second = back_first ? forth : back;
                EXPECT_GT(move(back_first ? back : forth), 0u);
                EXPECT_GT(move(second), 0u) << "nothing came after turning round";
                for (const Event& e : frames()) {
                    EXPECT_EQ(e.data, stored_frame(e)) << e.time - kT0 << "." << e.ms;
                }
                if (HasFailure()) return;
            }
        }
    }
}

}  // namespace
