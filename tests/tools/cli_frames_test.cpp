// quillon-cli frames end to end on an image of real H.264 recordings built here: every frame the
// engine hands out is compared with the recorded frame of its time (length and SHA-256 of the
// bytes, key frame or not), in play, in rewind and in key-frame-only fast forward.
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "tests/testkit/temp_image.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "tools/sample/recordings.h"

namespace {

using clitest::CliResult;
using nlohmann::json;
using sample::Codec;
using Bytes = std::vector<uint8_t>;

// SHA-256 straight from libcrypto's one-shot digest, so that the tool's digest is checked
// against a call it does not share.
std::string sha256(const Bytes& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
    std::string hex;
    char digits[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", digest[i]);
        hex += digits;
    }
    return hex;
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(sha256({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256({'a', 'b', 'c'}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first block.
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha256(Bytes(two.begin(), two.end())),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

constexpr uint32_t kT0 = testkit::kT0;  // 2026-03-14 07:00:00

std::string time_text(uint32_t t) {
    const std::time_t tt = t;
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

// A delivered or expected frame, printed so that a mismatch reads as a timeline.
struct Frame {
    uint32_t time = 0;
    uint32_t ms = 0;
    int kind = 0;
    size_t length = 0;
    uint32_t picture_size = 0;
    std::string sha;
};

std::string show(const Frame& f) {
    char at[64];
    std::snprintf(at, sizeof at, "+%u.%03u kind %d ", f.time - kT0, f.ms, f.kind);
    return at + std::to_string(f.length) + " bytes size " + std::to_string(f.picture_size) + " " +
           f.sha.substr(0, 12);
}

std::vector<std::string> shown(const std::vector<Frame>& frames) {
    std::vector<std::string> out;
    for (const Frame& f : frames) out.push_back(show(f));
    return out;
}

// Slots: video channel n plays in slot n - 1; with four display channels, audio channel 1
// follows in slot 4.
constexpr int kAudioSlot = 4;

// Video channel 1: 352x240 at 15 fps, 07:00:00 to 07:01:40 with nothing from 07:00:30 to
// 07:01:30. Video channel 2: 176x144 at 25 fps, 07:00:11 to 07:01:00, GOPs with broken start
// bits at 07:00:20 and the end-of-channel mark. Audio channel 1: 07:00:00 to 07:00:40.
struct Recordings {
    testkit::TempDir dir;
    std::string image;
    std::vector<sample::RecordedGop> video[2];
    uint32_t picture_size[2] = {};
    std::vector<sample::RecordedAudio> audio;
};

Recordings* recordings = nullptr;

class FramesCommand : public testing::Test {
protected:
    static void SetUpTestSuite() {
        auto r = std::make_unique<Recordings>();
        std::string error;
        sample::VideoRecordingSpec one;
        one.video_channel = 1;
        one.width = 352;
        one.height = 240;
        one.fps = 15;
        one.from = kT0;
        one.to = kT0 + 100;
        one.gaps = {{kT0 + 30, kT0 + 90}};
        sample::VideoRecordingSpec two;
        two.video_channel = 2;
        two.width = 176;
        two.height = 144;
        two.fps = 25;
        two.from = kT0 + 11;
        two.to = kT0 + 60;
        two.broken_gops = {kT0 + 20};
        two.end_mark = true;

        sample::VolumeContent content;
        int i = 0;
        for (const auto& spec : {one, two}) {
            auto encoder = sample::VideoEncoder::create(Codec::H264, spec.width, spec.height, spec.fps, &error);
            ASSERT_NE(encoder, nullptr) << error;
            auto v = sample::video_recording(spec, *encoder, &error);
            ASSERT_TRUE(v.has_value()) << error;
            r->video[i] = std::move(v->gops);
            r->picture_size[i] = v->picture_size;
            content.channels.push_back(std::move(v->data));
            ++i;
        }
        auto a = sample::audio_recording(1, kT0, kT0 + 40, {}, &error);
        ASSERT_TRUE(a.has_value()) << error;
        r->audio = std::move(a->records);
        content.channels.push_back(std::move(a->data));

        sample::DiskSpec disk = testkit::small_recorder(content, 29);
        disk.bare.recorder.block_size = 64 * 1024;
        r->image = testkit::make_image(r->dir, "recordings.img", disk);
        recordings = r.release();
    }
    static void TearDownTestSuite() {
        delete recordings;
        recordings = nullptr;
    }
    void SetUp() override { ASSERT_NE(recordings, nullptr) << "the recordings could not be built"; }

    // Runs frames with the options and checks that it left the image as it was.
    CliResult run(std::vector<std::string> options) {
        const std::string before = testkit::fingerprint(recordings->image);
        std::vector<std::string> args = {"frames", "--json", "--image", recordings->image};
        args.insert(args.end(), options.begin(), options.end());
        CliResult r = clitest::run_cli(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(testkit::fingerprint(recordings->image), before) << "the image was written";
        return r;
    }
};

// Every recorded video frame of a channel, GOPs with broken start bits left out (a reader can
// only skip them).
std::vector<Frame> recorded_video(int channel, bool key_frames_only) {
    std::vector<Frame> out;
    for (const sample::RecordedGop& g : recordings->video[channel - 1]) {
        if (g.damage.broken_start_bits) continue;
        for (const sample::RecordedFrame& f : g.frames) {
            if (key_frames_only && f.index != 0) break;
            out.push_back({f.time, f.ms, 0, f.bytes.size(),
                           f.index == 0 ? recordings->picture_size[channel - 1] : 0, sha256(f.bytes)});
        }
    }
    return out;
}

std::vector<Frame> recorded_audio() {
    std::vector<Frame> out;
    for (const sample::RecordedAudio& a : recordings->audio) {
        out.push_back({a.time, a.ms, 1, a.samples.size(), 0, sha256(a.samples)});
    }
    return out;
}

struct Output {
    std::vector<json> lines;
    std::map<int, std::vector<Frame>> frames;  // by slot
    std::vector<std::pair<int, int>> statuses;  // code, slot
};

Output parse(const std::string& text) {
    Output out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        json j = json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object()) {
            ADD_FAILURE() << "not a JSON object: " << line;
            continue;
        }
        out.lines.push_back(j);
        if (j.contains("status")) {
            out.statuses.emplace_back(j["status"].get<int>(), j["slot"].get<int>());
            continue;
        }
        Frame f{j["time"].get<uint32_t>(), j["ms"].get<uint32_t>(), j["kind"].get<int>(),
                j["length"].get<size_t>(), j["picture_size"].get<uint32_t>(), j["sha256"].get<std::string>()};
        EXPECT_EQ(j["time_text"], time_text(f.time));
        out.frames[j["slot"].get<int>()].push_back(f);
    }
    return out;
}

// The index of the last line that is a frame of the slot, or -1.
int last_frame_line(const Output& out, int slot) {
    int last = -1;
    for (size_t i = 0; i < out.lines.size(); ++i) {
        if (!out.lines[i].contains("status") && out.lines[i]["slot"] == slot) last = static_cast<int>(i);
    }
    return last;
}

bool status_after(const Output& out, int code, int slot, int line) {
    for (size_t i = static_cast<size_t>(line + 1); i < out.lines.size(); ++i) {
        const json& j = out.lines[i];
        if (j.contains("status") && j["status"] == code && j["slot"] == slot) return true;
    }
    return false;
}

TEST_F(FramesCommand, PlayDeliversEveryRecordedFrameOnceInOrder) {
    const Output out = parse(run({"--channels", "1,2", "--from", time_text(kT0)}).out);
    // Channel 1 resumes after its minute-long gap with the GOP at 07:01:30.000; channel 2's
    // GOPs with broken start bits are passed over by the start-bits search.
    EXPECT_EQ(shown(out.frames.count(0) ? out.frames.at(0) : std::vector<Frame>{}),
              shown(recorded_video(1, false)));
    EXPECT_EQ(shown(out.frames.count(1) ? out.frames.at(1) : std::vector<Frame>{}),
              shown(recorded_video(2, false)));
    EXPECT_EQ(shown(out.frames.count(kAudioSlot) ? out.frames.at(kAudioSlot) : std::vector<Frame>{}),
              shown(recorded_audio()));
    EXPECT_EQ(out.frames.size(), 3u) << "frames from a slot that was not recorded";

    ASSERT_FALSE(out.lines.empty());
    EXPECT_EQ(out.lines.back(), (json{{"status", 100}, {"slot", -1}})) << "the end of all data";
    ASSERT_GE(out.statuses.size(), 2u);
    EXPECT_EQ(out.statuses[out.statuses.size() - 2].first, 101) << "a channel's end comes first";
    for (int slot : {0, 1, kAudioSlot}) {
        EXPECT_TRUE(status_after(out, 101, slot, last_frame_line(out, slot))) << "slot " << slot;
    }
}

// Forward play from a time starts with the first GOP of the second before it.
TEST_F(FramesCommand, PlayFromATimeStartsWithTheFirstGopOfTheSecondBefore) {
    const Output out = parse(run({"--channels", "1,2", "--from", time_text(kT0 + 14), "--count", "60"}).out);
    size_t frames = 0;
    for (int channel : {1, 2}) {
        std::vector<Frame> expected;
        for (const Frame& f : recorded_video(channel, false)) {
            if (!expected.empty() || (f.picture_size != 0 && f.time >= kT0 + 13)) expected.push_back(f);
        }
        ASSERT_EQ(out.frames.count(channel - 1), 1u) << "channel " << channel;
        const std::vector<Frame>& got = out.frames.at(channel - 1);
        ASSERT_LE(got.size(), expected.size());
        expected.resize(got.size());
        EXPECT_EQ(shown(got), shown(expected)) << "channel " << channel;
        frames += got.size();
    }
    if (out.frames.count(kAudioSlot)) frames += out.frames.at(kAudioSlot).size();
    EXPECT_EQ(frames, 60u) << "--count 60";
}

// Rewinding from 07:00:23 shows the key frame of every GOP at or before that second, latest
// first, down to each channel's first recording; then both channels report their beginning.
// In both channels exactly one GOP starts within second 23 (at .466 and .480).
TEST_F(FramesCommand, RewindDeliversKeyFramesBackward) {
    const uint32_t from = kT0 + 23;
    const Output out = parse(run({"--channels", "1,2", "--from", time_text(from), "--mode", "rew4"}).out);
    for (int channel : {1, 2}) {
        std::vector<Frame> expected;
        for (const Frame& f : recorded_video(channel, true)) {
            if (f.time <= from) expected.insert(expected.begin(), f);
        }
        ASSERT_EQ(out.frames.count(channel - 1), 1u) << "channel " << channel;
        EXPECT_EQ(shown(out.frames.at(channel - 1)), shown(expected)) << "channel " << channel;
    }
    EXPECT_EQ(out.frames.count(kAudioSlot), 0u) << "audio is played in play mode only";
    ASSERT_GE(out.statuses.size(), 2u);
    EXPECT_EQ(out.statuses[out.statuses.size() - 2].first, 102);
    EXPECT_EQ(out.lines.back(), (json{{"status", 100}, {"slot", -1}}));
    for (int slot : {0, 1}) {
        EXPECT_TRUE(status_after(out, 102, slot, last_frame_line(out, slot))) << "slot " << slot;
    }
}

TEST_F(FramesCommand, KeyFramesOnlyFastForwardShowsEachGopsKeyFrame) {
    const Output out = parse(
        run({"--channels", "1,2", "--from", time_text(kT0), "--mode", "ff8", "--key-frames-only"}).out);
    for (int channel : {1, 2}) {
        ASSERT_EQ(out.frames.count(channel - 1), 1u) << "channel " << channel;
        EXPECT_EQ(shown(out.frames.at(channel - 1)), shown(recorded_video(channel, true)))
            << "channel " << channel;
    }
    EXPECT_EQ(out.frames.count(kAudioSlot), 0u) << "audio is played in play mode only";
    ASSERT_FALSE(out.lines.empty());
    EXPECT_EQ(out.lines.back(), (json{{"status", 100}, {"slot", -1}}));
}

}  // namespace
