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

sample::DiskSpec PlaybackFaultTest::recording(uint32_t from, uint32_t to) {
    sample::ChannelData data;
    data.channel = 3;
    uint32_t previous = 0;
    int64_t offset = 0;
    for (uint32_t t = from; t < to; ++t) {
        for (uint32_t ms : {0u, 500u}) {
            sample::GopRecordSpec spec;
            spec.time = t;
            spec.milliseconds = ms;
            spec.previous_length = previous;
            for (int i = 0; i < 15; ++i) {
                spec.frames.push_back(
                    {playtest::frame_bytes_of(3, t, ms, i), i == 0 ? 1u : 2u, i == 0 ? 0u : 33u});
            }
            std::vector<uint8_t> record = sample::gop_record(spec);
            previous = sample::record_length(record);
            offsets_[{t, ms}] = offset;
            offset += static_cast<int64_t>(record.size());
            data.writes.push_back({t, std::move(record)});
        }
    }
    sample::VolumeContent content;
    content.channels.push_back(std::move(data));
    sample::DiskSpec spec = testkit::small_recorder(content, 29);
    spec.bare.recorder.block_size = 64 * 1024;
    return spec;
}

void PlaybackFaultTest::open_recording(uint32_t from, uint32_t to) {
    ASSERT_EQ(mount(recording(from, to)), 0);
    ASSERT_EQ(api_set_channel_mask(0x1), 0x1);
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
