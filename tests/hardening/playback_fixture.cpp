#include "tests/hardening/playback_fixture.h"

#include "tools/sample/stream_records.h"

namespace hardening {

void PlaybackFaultTest::SetUp() {
    guard_.emplace();
    plan_ = std::make_shared<platform::FaultPlan>();
    platform::install_fault_opener(plan_);
    EngineTest::SetUp();
}

void PlaybackFaultTest::TearDown() {
    stop_trace();
    EngineTest::TearDown();
    platform::set_drive_opener({});
    guard_->expect_back();
}

sample::DiskSpec PlaybackFaultTest::recording(uint32_t from, uint32_t to, bool second_channel) {
    playtest::Recording r;
    r.spans = {{from, to}};
    offsets_.clear();
    sample::ChannelData data = playtest::recording_channel(r, &offsets_);
    sample::VolumeContent content;
    content.channels.push_back(std::move(data));
    if (second_channel) {
        r.channel = 4;
        content.channels.push_back(playtest::recording_channel(r));
    }
    sample::DiskSpec spec = testkit::small_recorder(content, 29);
    spec.bare.recorder.block_size = 64 * 1024;
    return spec;
}

void PlaybackFaultTest::open_recording(uint32_t from, uint32_t to, uint32_t mask) {
    ASSERT_EQ(mount(recording(from, to, (mask & 0x2) != 0)), 0);
    ASSERT_EQ(api_set_channel_mask(mask), static_cast<int32_t>(mask));
}

std::vector<PlaybackReadFailure> PlaybackFaultTest::take_failures() {
    std::vector<PlaybackReadFailure> list(kReadFailureQueue);
    list.resize(static_cast<size_t>(api_take_read_failures(list.data(), kReadFailureQueue)));
    return list;
}

uint64_t PlaybackFaultTest::gop_sector(uint32_t time, uint32_t ms) {
    std::lock_guard<std::mutex> guard(api_state().lock);
    return channel_sector(3, gop_offset(time, ms));
}

void PlaybackFaultTest::start_trace() {
    capture_ = std::make_unique<testkit::StderrCapture>();
    dvrfs_set_trace(true);
}

std::string PlaybackFaultTest::stop_trace() {
    dvrfs_set_trace(false);
    std::string text = capture_ ? capture_->text() : std::string();
    capture_.reset();
    return text;
}

}  // namespace hardening
