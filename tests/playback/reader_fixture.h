// Fixture for stream reader tests: GOP records in video channel 1 and audio records in audio
// channel 1 of a count-29 volume with 4 KiB blocks (records cross block boundaries), mounted
// through the storage API with both channels opened into their playback slots.
#pragma once

#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "playback/stream_reader.h"
#include "tests/storage/storage_fixture.h"
#include "tests/testkit/stderr_capture.h"
#include "tools/sample/stream_records.h"

namespace playtest {

using Bytes = std::vector<uint8_t>;

struct Written {
    uint32_t time = 0;
    Bytes data;    // frames (padded to words) or audio bytes, as the reader should deliver them
    Bytes record;  // the whole record
};

inline constexpr int32_t kVideoSlot = 0;

// The trace, switched on while the capture lives.
class TraceCapture {
  public:
    TraceCapture() { dvrfs_set_trace(true); }
    ~TraceCapture() { dvrfs_set_trace(false); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    bool has(const std::string& line) { return capture_.text().find(line) != std::string::npos; }

  private:
    testkit::StderrCapture capture_;
};

class ReaderTest : public testkit::StorageTest {
  protected:
    void SetUp() override {
        StorageTest::SetUp();
        stream_reader_reset();
    }
    void TearDown() override {
        stream_reader_reset();
        StorageTest::TearDown();
    }

    // A GOP one second after the one before, of frames with the given lengths (the first a key
    // frame), naming the one before as its predecessor unless `previous` is given.
    const Written& add_gop(const std::vector<size_t>& lengths, sample::RecordDamage damage = {},
                           std::optional<uint32_t> previous = {}) {
        sample::GopRecordSpec spec;
        spec.time = testkit::kT0 + static_cast<uint32_t>(gops_.size());
        spec.milliseconds = 40 * static_cast<uint32_t>(gops_.size() % 25);
        spec.previous_length =
            previous.value_or(gops_.empty() ? 0 : sample::record_length(gops_.back().record));
        spec.damage = damage;
        Written w{spec.time, {}, {}};
        for (size_t i = 0; i < lengths.size(); ++i) {
            sample::StreamFrame f{sample::synthetic_frame(spec.time * 16 + static_cast<uint32_t>(i),
                                                          lengths[i], i == 0),
                                  i == 0 ? 1u : 2u, i == 0 ? 0u : 33u};
            w.data.insert(w.data.end(), f.bytes.begin(), f.bytes.end());
            w.data.resize((w.data.size() + 3) / 4 * 4, 0);
            spec.frames.push_back(std::move(f));
        }
        w.record = sample::gop_record(spec);
        EXPECT_FALSE(w.record.empty());
        gops_.push_back(std::move(w));
        return gops_.back();
    }

    const Written& add_audio(size_t length, sample::RecordDamage damage = {}) {
        sample::AudioRecordSpec spec;
        spec.time = testkit::kT0 + static_cast<uint32_t>(audio_.size());
        spec.samples = Bytes(length);
        for (size_t i = 0; i < length; ++i)
            spec.samples[i] = static_cast<uint8_t>((i * 7 + audio_.size()) % 0xF0);
        spec.previous_size = audio_.empty() ? 0 : sample::record_length(audio_.back().record);
        spec.damage = damage;
        Written w{spec.time, spec.samples, sample::audio_record(spec)};
        w.data.resize((length + 3) / 4 * 4, 0xFF);
        EXPECT_FALSE(w.record.empty());
        audio_.push_back(std::move(w));
        return audio_.back();
    }

    // Mounts the volume and opens video channel 1 with its audio channel.
    void open() {
        sample::VolumeContent content;
        for (auto [list, channel] : {std::pair{&gops_, 3}, std::pair{&audio_, 19}}) {
            sample::ChannelData data;
            data.channel = channel;
            for (const Written& w : *list) data.writes.push_back({w.time, w.record});
            if (!data.writes.empty()) content.channels.push_back(std::move(data));
        }
        ASSERT_EQ(mount(testkit::small_recorder(content, 29)), 0);
        ASSERT_EQ(api_set_channel_mask(1), 1);
        audio_slot_ = api_display_channels();
        ASSERT_GE(api_state().slots[kVideoSlot], 0);
    }

    // One command; returns the bytes delivered.
    int32_t video(int32_t command, int32_t size = 0) {
        std::lock_guard<std::mutex> guard(api_state().lock);
        getvideodata(kVideoSlot, command, api_state().video_buffer.get(), &size);
        return size;
    }
    int32_t audio(int32_t command, int32_t size = 0) {
        std::lock_guard<std::mutex> guard(api_state().lock);
        getaudiodata(audio_slot_, command, api_state().audio_buffer.get(), &size);
        return size;
    }
    static Bytes delivered(int32_t n, bool from_audio = false) {
        const uint8_t* b =
            from_audio ? api_state().audio_buffer.get() : api_state().video_buffer.get();
        return Bytes(b, b + n);
    }

    const SlotReader& video_state() const { return stream_reader_state().slots[kVideoSlot]; }
    const SlotReader& audio_state() const { return stream_reader_state().slots[audio_slot_]; }
    uint32_t video_time() const { return record_time_to_time(video_state().video.time); }
    uint32_t audio_time() const { return record_time_to_time(audio_state().audio.time); }
    int32_t gop_data_size() const {
        return static_cast<int32_t>(video_state().video.gop_length) - kGopHeaderSize;
    }

    std::vector<Written> gops_;
    std::vector<Written> audio_;
    int32_t audio_slot_ = -1;
};

}  // namespace playtest
