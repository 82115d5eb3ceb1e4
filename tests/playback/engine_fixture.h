// Fixture for engine tests: recordings of GOP records built at run time, the engine's thread
// on a virtual clock, and every callback recorded.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "playback/clock.h"
#include "playback/engine.h"
#include "playback/stream_reader.h"
#include "tests/storage/storage_fixture.h"
#include "tools/sample/stream_records.h"

namespace playtest {

// Time advances only when the engine sleeps, so pacing is seen without any real waiting.
class VirtualClock final : public PlaybackClock {
public:
    uint32_t tick_ms() override { return now_.load(); }
    void sleep_ms(int ms) override {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            sleeps_.push_back(ms);
        }
        now_ += static_cast<uint32_t>(ms > 0 ? ms : 0);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    std::vector<int> sleeps() {
        std::lock_guard<std::mutex> guard(mutex_);
        return sleeps_;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(mutex_);
        sleeps_.clear();
    }

private:
    std::atomic<uint32_t> now_{1000};
    std::mutex mutex_;
    std::vector<int> sleeps_;
};

struct Event {
    bool status = false;
    int32_t code = 0;  // status code
    int32_t slot = 0;
    uint32_t time = 0;
    int32_t ms = 0;
    int32_t kind = 0;
    uint32_t picture_size = 0;
    std::vector<uint8_t> data;
};

// Callbacks are plain functions: they record into one process-wide list.
struct Events {
    std::mutex mutex;
    std::vector<Event> list;
};
Events& events();
void record_frame(int32_t slot, uint32_t time, int32_t ms, const uint8_t* data, int32_t length,
                  int32_t kind, uint32_t picture_size);
void record_status(int32_t code, int32_t slot);

// GOPs of 15 frames, 33 ms apart, two per second (at .000 and .500), 352x240.
struct Recording {
    int32_t channel = 3;
    std::vector<std::pair<uint32_t, uint32_t>> spans;  // [from, to) seconds with GOPs
    std::vector<uint32_t> broken;                      // GOP seconds written with bad start bits
    bool end_mark = false;                             // the recorder's end-of-channel mark
};

// The frame bytes of GOP (time, ms) frame i, as the builder writes them.
std::vector<uint8_t> frame_bytes_of(int32_t channel, uint32_t time, uint32_t ms, int i);

// Byte offset in the channel of each GOP record, by (time, ms).
using GopOffsets = std::map<std::pair<uint32_t, uint32_t>, int64_t>;
// The channel's GOP records as the builder writes them; offsets, when given, gets each GOP's.
sample::ChannelData recording_channel(const Recording& r, GopOffsets* offsets = nullptr);

class EngineTest : public testkit::StorageTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Mounts a count-29 volume holding the recordings and opens the given video channels.
    // Wrapped: every ring starts near the end of its map, behind overwritten bytes.
    void open(const std::vector<Recording>& recordings, uint32_t mask, bool wrapped = false);
    // Plays from time in mode until the mode falls back to stop or pause, or `frames` frames
    // came; fails the test if neither happens.
    void play(uint32_t from, int32_t mode, size_t frames = SIZE_MAX);
    bool wait_for(const std::function<bool()>& done);

    std::vector<Event> frames() const;
    std::vector<Event> statuses() const;

    VirtualClock clock_;
};

}  // namespace playtest
