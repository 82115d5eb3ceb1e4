// The recording display that the window's tests will rely on: frame bytes outlive the call,
// and calls from the playback thread and the UI thread are all kept, in order per thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/testkit/recording_display.h"

namespace {

using testkit::DisplayCall;

TEST(RecordingDisplay, KeepsFramesPastTheCallAndCallsFromBothThreads) {
    testkit::RecordingDisplay display;
    DisplayControl& control = display;
    std::vector<uint8_t> buffer{1, 2, 3, 4, 5};
    control.frame(buffer.data(), 100, 250, DisplayFrameKind::Video, 4, 352u << 16 | 240u, 3);
    buffer.assign(buffer.size(), 0xEE);  // the engine reuses its buffer at once

    std::thread playback([&] {
        for (uint32_t i = 0; i < 200; ++i) {
            control.frame(buffer.data(), 101, i, DisplayFrameKind::Audio, 1, 0, 0);
        }
    });
    for (int i = 0; i < 200; ++i) control.set_volume(i % 16);
    playback.join();

    display.select(5);
    EXPECT_EQ(control.selected_channel(), 5);
    display.set_capture_result(-1);
    EXPECT_EQ(control.capture("/tmp/x.bmp"), -1);

    const auto calls = display.calls();
    ASSERT_EQ(calls.size(), 402u);
    EXPECT_EQ(calls[0].call, DisplayCall::Frame);
    EXPECT_EQ(calls[0].bytes, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(calls[0].numbers, (std::vector<int64_t>{100, 250, 0, 4, 352 << 16 | 240, 3}));
    int64_t next_ms = 0;
    int volumes = 0;
    for (size_t i = 1; i + 1 < calls.size(); ++i) {
        if (calls[i].call == DisplayCall::Volume) {
            EXPECT_EQ(calls[i].numbers.at(0), volumes++ % 16);
            continue;
        }
        ASSERT_EQ(calls[i].call, DisplayCall::Frame);
        EXPECT_EQ(calls[i].numbers.at(1), next_ms++);
    }
    EXPECT_EQ(volumes, 200);
    EXPECT_EQ(calls.back().call, DisplayCall::Capture);
    EXPECT_EQ(calls.back().text, "/tmp/x.bmp");
}

}  // namespace
