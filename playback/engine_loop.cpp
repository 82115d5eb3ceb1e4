// The playback thread: one pass per play mode, each pass under the API lock, until api_exit.
#include <mutex>

#include "playback/clock.h"
#include "playback/engine.h"
#include "playback/stream_reader.h"
#include "storage/api_state.h"

namespace {

bool is_rewind(int32_t mode) {
    switch (mode) {
        case PM_REW_1: case PM_REW_2: case PM_REW_4: case PM_REW_8: case PM_REW_16: case PM_REW_32:
            return true;
        default:
            return false;
    }
}

bool is_fast_forward(int32_t mode) {
    switch (mode) {
        case PM_FF_2: case PM_FF_4: case PM_FF_8: case PM_FF_16: case PM_FF_32:
            return true;
        default:
            return false;
    }
}

}  // namespace

int engine_pass(int32_t mode, bool reposition) {
    ApiState& st = api_state();
    EngineState& es = engine_state();
    if (mode == PM_STOP || mode == PM_PAUSE) {
        es.previous_mode = mode;
        return 10;
    }
    if (mode == PM_PLAY) {
        if (es.previous_mode == PM_STOP || reposition) {
            dvrfs_trace(es.previous_mode == PM_STOP ? " ============= Reset pb info... 2\n"
                                                    : " ============= Reset pb info... 3\n");
            engine_reset();
        }
        es.previous_mode = PM_PLAY;
        return engine_one_step();
    }
    if (is_rewind(mode) || is_fast_forward(mode)) {
        if (is_rewind(mode)) dvrfs_trace(" ============= PM_REW_32 ========\n");
        if (reposition) {
            dvrfs_trace(is_rewind(mode) ? " ============= Reset pb info... 5\n"
                                        : " ============= Reset pb info... 4\n");
            engine_reset();
        }
        es.previous_mode = mode;
        return engine_one_step();
    }
    if (mode == PM_FRAME_F || mode == PM_FRAME_B) {
        if (reposition) {
            es.clock = PlayTime{};
            st.reposition = 0;
            // Nothing is shown at the new place yet: the step starts from the located GOP.
            for (SlotPlay& sp : es.slots) sp.shown = PlayTime{};
            setvideotime();
        }
        const int sleep = engine_frame_step(mode);
        if (st.play_mode == mode) st.play_mode = PM_PAUSE;  // the step may have stopped
        return sleep;
    }
    if (mode == PM_MINUTE_F || mode == PM_MINUTE_B) {
        const int64_t jump = es.clock.sec + (mode == PM_MINUTE_F ? 60 : -60);
        st.requested_time = static_cast<uint32_t>(jump > 0 ? jump : 0);
        st.reposition = 1;
        st.play_mode = es.previous_mode;
        return 0;
    }
    return 10;
}

void engine_reset() {
    EngineState& es = engine_state();
    es.clock = PlayTime{};
    for (SlotPlay& sp : es.slots) sp = SlotPlay{};
    es.idle = 0;
    stream_reader_clear_read_errors();
    setvideotime();
    setaudiotime(api_state().requested_time);
    api_state().reposition = 0;
}

void playback_thread_main() {
    ApiState& st = api_state();
    st.playback_stopped = 0;
    while (st.running) {
        if (st.search_busy || st.channel_mask == 0) {
            playback_clock().sleep_ms(100);
            continue;
        }
        int sleep = 0;
        {
            std::lock_guard<std::mutex> guard(st.lock);
            // The control words are read under the lock: a restart that halts the engine, then
            // sets a new time and mode while this thread waited for the lock, must never meet a
            // pass that runs with the mode and request read before it.
            const int32_t mode = st.play_mode;
            const bool reposition = st.reposition != 0;
            // The mask may have been cleared between the check and the lock.
            if (st.channel_mask != 0) sleep = engine_pass(mode, reposition);
            ++st.passes;
        }
        if (sleep > 0) playback_clock().sleep_ms(sleep);
    }
    dvrfs_trace(" = =============== End thread\n");
    st.playback_stopped = 1;
}
