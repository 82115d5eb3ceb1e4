// A display that records every call the main window makes, in order, for tests of the window's
// logic. Frame bytes are copied, since they are valid only during the call.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "playback/display_control.h"

namespace testkit {

enum class DisplayCall {
    Owner, Title, Version, SetUp, Layout, Frame, Clear, Volume, Capture, ExportClosed,
    ExportClosedReset,
};

struct RecordedDisplayCall {
    DisplayCall call = DisplayCall::Clear;
    std::vector<int64_t> numbers;  // the integer arguments in order
    std::string text;              // title, version, capture path or the reset's text
    std::vector<uint8_t> bytes;    // a frame's data
};

class RecordingDisplay : public DisplayControl {
public:
    void set_owner(uintptr_t window) override;
    int32_t set_title(std::string_view title) override;
    int32_t set_version(std::string_view version) override;
    void set_up(int32_t first, int32_t second) override;
    void set_layout(int32_t channel, int32_t splits) override;
    int32_t selected_channel() const override;
    void frame(const uint8_t* data, uint32_t seconds, uint32_t milliseconds, DisplayFrameKind kind,
               uint32_t length, uint32_t picture_size, int32_t channel) override;
    void clear() override;
    void set_volume(int32_t volume) override;
    int32_t capture(const std::string& path) override;
    void export_closed(int32_t first, int32_t second) override;
    int32_t export_closed_reset(int32_t a, int32_t b, int32_t c, std::string_view text, int32_t d,
                                int32_t e, int32_t f) override;

    // What the test wants the display to answer.
    void select(int32_t channel);
    void set_capture_result(int32_t result);

    // A copy of the calls so far; frame() comes from another thread.
    std::vector<RecordedDisplayCall> calls() const;
    std::vector<DisplayCall> call_kinds() const;

private:
    void record(RecordedDisplayCall call);

    mutable std::mutex mutex_;
    std::vector<RecordedDisplayCall> calls_;
    int32_t selected_ = 0;
    int32_t capture_result_ = 0;
};

}  // namespace testkit
