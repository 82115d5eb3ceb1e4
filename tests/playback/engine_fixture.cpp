#include "tests/playback/engine_fixture.h"

#include <chrono>

namespace playtest {

Events& events() {
    static Events e;
    return e;
}

void record_frame(int32_t slot, uint32_t time, int32_t ms, const uint8_t* data, int32_t length,
                  int32_t kind, uint32_t picture_size) {
    Event e;
    e.slot = slot;
    e.time = time;
    e.ms = ms;
    e.kind = kind;
    e.picture_size = picture_size;
    e.data.assign(data, data + length);
    std::lock_guard<std::mutex> guard(events().mutex);
    events().list.push_back(std::move(e));
}

void record_status(int32_t code, int32_t slot) {
    Event e;
    e.status = true;
    e.code = code;
    e.slot = slot;
    std::lock_guard<std::mutex> guard(events().mutex);
    events().list.push_back(std::move(e));
}

std::vector<uint8_t> frame_bytes_of(int32_t channel, uint32_t time, uint32_t ms, int i) {
    const uint32_t seed = (time * 2 + ms / 500) * 16 + static_cast<uint32_t>(i) + channel * 7919u;
    std::vector<uint8_t> f = sample::synthetic_frame(seed, i == 0 ? 200 : 60, i == 0);
    f.resize((f.size() + 3) / 4 * 4, 0);
    return f;
}

void EngineTest::SetUp() {
    playback_set_clock(&clock_);
    testkit::StorageTest::SetUp();
    // Again with the recording callbacks.
    api_exit();
    reset();
    engine_reset_for_tests();
    stream_reader_reset();
    events().list.clear();
    ASSERT_EQ(api_init(0, record_frame, record_status), 0);
    api_set_no_pacing(1);
}

void EngineTest::TearDown() {
    testkit::StorageTest::TearDown();
    playback_set_clock(nullptr);
    engine_reset_for_tests();
    stream_reader_reset();
}

sample::ChannelData recording_channel(const Recording& r, GopOffsets* offsets) {
    sample::ChannelData data;
    data.channel = r.channel;
    uint32_t previous = 0;
    int64_t offset = 0;
    for (auto [from, to] : r.spans) {
        for (uint32_t t = from; t < to; ++t) {
            for (uint32_t ms : {0u, 500u}) {
                sample::GopRecordSpec spec;
                spec.time = t;
                spec.milliseconds = ms;
                spec.previous_length = previous;
                for (int i = 0; i < 15; ++i) {
                    spec.frames.push_back({frame_bytes_of(r.channel, t, ms, i), i == 0 ? 1u : 2u,
                                           i == 0 ? 0u : 33u});
                }
                if (std::find(r.broken.begin(), r.broken.end(), t) != r.broken.end()) {
                    spec.damage.broken_start_bits = true;
                }
                std::vector<uint8_t> record = sample::gop_record(spec);
                previous = sample::record_length(record);
                if (offsets != nullptr) (*offsets)[{t, ms}] = offset;
                offset += static_cast<int64_t>(record.size());
                data.writes.push_back({t, std::move(record)});
            }
        }
    }
    if (r.end_mark) {
        sample::GopRecordSpec mark;
        mark.frames.push_back({frame_bytes_of(r.channel, 0, 0, 1), 1, 0});
        mark.previous_length = previous;
        mark.damage.end_mark = true;
        const uint32_t last = data.writes.back().time;
        data.writes.push_back({last, sample::gop_record(mark)});
    }
    return data;
}

void EngineTest::open(const std::vector<Recording>& recordings, uint32_t mask, bool wrapped) {
    sample::VolumeContent content;
    for (const Recording& r : recordings) {
        content.channels.push_back(recording_channel(r));
        if (wrapped) {
            content.channels.back().head_slot = 126;  // of 128
            content.channels.back().head_offset = 1000;
        }
    }
    if (wrapped) content.index_head_slot = 125;
    sample::DiskSpec spec = testkit::small_recorder(content, 29);
    spec.bare.recorder.block_size = 64 * 1024;
    ASSERT_EQ(mount(spec), 0);
    ASSERT_EQ(api_set_channel_mask(mask), static_cast<int32_t>(mask));
}

bool EngineTest::wait_for(const std::function<bool()>& done) {
    // A bound on real time only guards against a hang; no result depends on it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

void EngineTest::play(uint32_t from, int32_t mode, size_t count) {
    ASSERT_EQ(api_play_from(from), 0);
    ASSERT_EQ(api_set_play_mode(mode), mode);
    const bool ended = wait_for([&] {
        const int32_t now = api_play_mode();
        return (now != mode && (now == PM_STOP || now == PM_PAUSE)) || frames().size() >= count;
    });
    ASSERT_TRUE(ended) << "playback neither ended nor delivered " << count << " frames";
    if (api_play_mode() != PM_STOP) {
        api_set_play_mode(PM_PAUSE);
        // The pass that saw the old mode finishes before the lock is free again.
        std::lock_guard<std::mutex> guard(api_state().lock);
    }
}

std::vector<Event> EngineTest::frames() const {
    std::lock_guard<std::mutex> guard(events().mutex);
    std::vector<Event> out;
    for (const Event& e : events().list) {
        if (!e.status) out.push_back(e);
    }
    return out;
}

std::vector<Event> EngineTest::statuses() const {
    std::lock_guard<std::mutex> guard(events().mutex);
    std::vector<Event> out;
    for (const Event& e : events().list) {
        if (e.status) out.push_back(e);
    }
    return out;
}

}  // namespace playtest
