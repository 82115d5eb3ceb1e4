#include <cstddef>

#include "storage/api.h"
#include "ui/engine_port.h"

namespace ui {

void ApiEngine::halt(int32_t mode) { api_halt(mode); }
int32_t ApiEngine::open_channels(uint32_t mask) { return api_set_channel_mask(mask); }
int32_t ApiEngine::play_from(uint32_t time) { return api_play_from(time); }
int32_t ApiEngine::set_mode(int32_t mode) { return api_set_play_mode(mode); }
int32_t ApiEngine::mode() const { return api_play_mode(); }
void ApiEngine::set_key_frame_only(bool on) { api_set_key_frame_only(on ? 1 : 0); }

std::vector<PlaybackReadFailure> ApiEngine::take_read_failures() {
    std::vector<PlaybackReadFailure> failures(static_cast<std::size_t>(kReadFailureQueue));
    const int32_t count = api_take_read_failures(failures.data(), kReadFailureQueue);
    failures.resize(static_cast<std::size_t>(count > 0 && count <= kReadFailureQueue ? count : 0));
    return failures;
}

} // namespace ui
