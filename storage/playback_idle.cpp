// The playback thread until the engine arrives: it keeps the handshake with api_exit and the
// loop's first step (standing still while a search runs or no channel is chosen).
#include <mutex>

#include "storage/api_state.h"

void playback_thread_main() {
    ApiState& st = api_state();
    st.playback_stopped = 0;
    while (st.running) {
        if (st.search_busy || st.channel_mask == 0) {
            api_nap(100);
            continue;
        }
        {
            std::lock_guard<std::mutex> guard(st.lock);
        }
        api_nap(10);
    }
    dvrfs_trace(" = =============== End thread\n");
    st.playback_stopped = 1;
}
