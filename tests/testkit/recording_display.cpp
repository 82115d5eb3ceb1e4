#include "tests/testkit/recording_display.h"

namespace testkit {

void RecordingDisplay::record(RecordedDisplayCall call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

void RecordingDisplay::set_owner(uintptr_t window) {
    record({DisplayCall::Owner, {static_cast<int64_t>(window)}, {}, {}});
}

int32_t RecordingDisplay::set_title(std::string_view title) {
    record({DisplayCall::Title, {}, std::string(title), {}});
    return 0;
}

int32_t RecordingDisplay::set_version(std::string_view version) {
    record({DisplayCall::Version, {}, std::string(version), {}});
    return 0;
}

void RecordingDisplay::set_up(int32_t first, int32_t second) {
    record({DisplayCall::SetUp, {first, second}, {}, {}});
}

void RecordingDisplay::set_layout(int32_t channel, int32_t splits) {
    record({DisplayCall::Layout, {channel, splits}, {}, {}});
}

int32_t RecordingDisplay::selected_channel() const {
    std::lock_guard lock(mutex_);
    return selected_;
}

void RecordingDisplay::frame(const uint8_t* data, uint32_t seconds, uint32_t milliseconds,
                             DisplayFrameKind kind, uint32_t length, uint32_t picture_size,
                             int32_t channel) {
    RecordedDisplayCall call{DisplayCall::Frame,
                             {seconds, milliseconds, static_cast<int32_t>(kind), length,
                              picture_size, channel},
                             {},
                             {}};
    if (data != nullptr) call.bytes.assign(data, data + length);
    record(std::move(call));
}

void RecordingDisplay::clear() { record({DisplayCall::Clear, {}, {}, {}}); }

void RecordingDisplay::set_volume(int32_t volume) {
    record({DisplayCall::Volume, {volume}, {}, {}});
}

int32_t RecordingDisplay::capture(const std::string& path) {
    record({DisplayCall::Capture, {}, path, {}});
    std::lock_guard lock(mutex_);
    return capture_result_;
}

void RecordingDisplay::export_closed(int32_t first, int32_t second) {
    record({DisplayCall::ExportClosed, {first, second}, {}, {}});
}

int32_t RecordingDisplay::export_closed_reset(int32_t a, int32_t b, int32_t c,
                                              std::string_view text, int32_t d, int32_t e,
                                              int32_t f) {
    record({DisplayCall::ExportClosedReset, {a, b, c, d, e, f}, std::string(text), {}});
    return 0;
}

void RecordingDisplay::select(int32_t channel) {
    std::lock_guard lock(mutex_);
    selected_ = channel;
}

void RecordingDisplay::set_capture_result(int32_t result) {
    std::lock_guard lock(mutex_);
    capture_result_ = result;
}

std::vector<RecordedDisplayCall> RecordingDisplay::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<DisplayCall> RecordingDisplay::call_kinds() const {
    std::vector<DisplayCall> kinds;
    for (const RecordedDisplayCall& c : calls()) kinds.push_back(c.call);
    return kinds;
}

}  // namespace testkit
