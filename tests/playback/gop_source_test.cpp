// Where delivered frames were read from: inside the frame callback the engine names the image
// bytes of the GOP record the frame belongs to, and those bytes hold the frame.
#include <cstring>
#include <fstream>

#include "playback/record_format.h"
#include "tests/playback/engine_fixture.h"

namespace {

using playtest::Recording;
using testkit::kT0;

struct Traced {
    int32_t rc = -1;
    GopSource source{};
};

std::mutex traced_mutex;
std::vector<Traced> traced;

void trace_frame(int32_t slot, uint32_t time, int32_t ms, const uint8_t* data, int32_t length,
                 int32_t kind, uint32_t picture_size) {
    if (kind != FRAME_KIND_AUDIO) {
        Traced t;
        t.rc = api_gop_source(slot, &t.source);
        std::lock_guard<std::mutex> guard(traced_mutex);
        traced.push_back(t);
    }
    playtest::record_frame(slot, time, ms, data, length, kind, picture_size);
}

std::vector<uint8_t> read_ranges(const std::string& image, const GopSource& s) {
    std::ifstream in(image, std::ios::binary);
    std::vector<uint8_t> out;
    for (int32_t i = 0; i < s.range_count; ++i) {
        std::vector<uint8_t> piece(s.ranges[i].length);
        in.seekg(static_cast<std::streamoff>(s.ranges[i].offset));
        if (!in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()))) {
            return {};
        }
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

class GopSourceTest : public playtest::EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        api_exit();
        ASSERT_EQ(api_init(0, trace_frame, playtest::record_status), 0);
        api_set_no_pacing(1);
        std::lock_guard<std::mutex> guard(traced_mutex);
        traced.clear();
    }
    std::vector<Traced> taken() {
        std::lock_guard<std::mutex> guard(traced_mutex);
        return traced;
    }
};

// Forward play across block ends and the ring's end: each frame lies in its GOP record at the place the
// record's frame table gives it, and the record's header names the frame's GOP.
TEST_F(GopSourceTest, EachForwardFrameLiesInTheRecordItsSourceNames) {
    open({Recording{.spans = {{kT0, kT0 + 40}}}}, 0x1, true);
    play(kT0, PM_PLAY);
    const auto f = frames();
    const auto t = taken();
    ASSERT_EQ(f.size(), t.size());
    ASSERT_GT(f.size(), 300u);
    const std::string image = dir_.file("disk0.img");
    int index = 0;
    std::vector<uint8_t> record;
    for (size_t i = 0; i < f.size(); ++i) {
        ASSERT_EQ(t[i].rc, 0) << i;
        const GopSource& s = t[i].source;
        if (f[i].picture_size != 0) {
            index = 0;
            record = read_ranges(image, s);
        } else {
            ++index;
        }
        ASSERT_EQ(record.size(), s.gop_length) << i;
        GopHeader h;
        std::memcpy(&h, record.data(), sizeof h);
        EXPECT_EQ(h.start_bits, kStartBits);
        EXPECT_EQ(h.gop_length, s.gop_length);
        EXPECT_EQ(record_time_to_time(h.time), s.time);
        EXPECT_EQ(h.milliseconds, s.milliseconds);
        ASSERT_LT(index, static_cast<int>(h.frame_count));
        size_t at = kGopHeaderSize;
        for (int k = 0; k < index; ++k) at += static_cast<size_t>(frame_bytes(h.frames[k]));
        ASSERT_LE(at + f[i].data.size(), record.size());
        EXPECT_TRUE(std::equal(f[i].data.begin(), f[i].data.end(), record.begin() + static_cast<std::ptrdiff_t>(at)))
            << "frame " << i;
    }
}

// Going backward the engine reads key frames alone, not whole GOPs: it names no source rather
// than a wrong one. Outside the callback's slots there is none either.
TEST_F(GopSourceTest, FramesReadAloneHaveNoSource) {
    open({Recording{.spans = {{kT0, kT0 + 20}}}}, 0x1);
    play(kT0 + 10, PM_REW_4);
    const auto t = taken();
    ASSERT_FALSE(t.empty());
    for (const Traced& x : t) EXPECT_EQ(x.rc, -1);
    GopSource s{};
    EXPECT_EQ(api_gop_source(-1, &s), -1);
    EXPECT_EQ(api_gop_source(kPlaybackSlots, &s), -1);
    EXPECT_EQ(api_gop_source(0, nullptr), -1);
}

}  // namespace
