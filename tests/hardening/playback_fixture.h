// The engine fixture over the fault opener: one recorded video channel whose GOP records are
// known by byte offset, so that a test can fail the sector where a chosen GOP begins.
#pragma once

#include <map>
#include <optional>
#include <utility>

#include "tests/hardening/fault_fixture.h"
#include "tests/playback/engine_fixture.h"
#include "tests/testkit/stderr_capture.h"

namespace hardening {

class PlaybackFaultTest : public playtest::EngineTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A count-29 volume whose channel 3 (slot 0) holds two GOPs a second over [from, to);
    // remembers each GOP's byte offset. With a second channel, channel 4 (slot 1) holds the
    // same span.
    sample::DiskSpec recording(uint32_t from, uint32_t to, bool second_channel = false);
    // The recording mounted and the channels of mask opened (0x3: both channels).
    void open_recording(uint32_t from, uint32_t to, uint32_t mask = 0x1);
    // The read failures the engine recorded since the last call.
    static std::vector<PlaybackReadFailure> take_failures();
    // The drive sector holding the first byte of the GOP at (time, ms).
    uint64_t gop_sector(uint32_t time, uint32_t ms);
    int64_t gop_offset(uint32_t time, uint32_t ms) const { return offsets_.at({time, ms}); }

    static void clear_events() {
        std::lock_guard<std::mutex> guard(playtest::events().mutex);
        playtest::events().list.clear();
    }
    void start_trace();
    std::string stop_trace();

    std::optional<LeakGuard> guard_;
    std::shared_ptr<platform::FaultPlan> plan_;
    std::unique_ptr<testkit::StderrCapture> capture_;
    playtest::GopOffsets offsets_;
};

}  // namespace hardening
