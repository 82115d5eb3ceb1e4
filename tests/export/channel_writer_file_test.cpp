// The channel writer with its real thread and files: what it writes is read back with ffprobe
// and ffmpeg (constant-rate streams, the copied frames and audio, the subtitles), and the ways
// opening, queueing, writing and closing can go wrong.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "export/channel_writer.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tools/sample/audio_samples.h"
#include "tools/sample/video_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testkit::quoted;
using testkit::read_file;
using testkit::ToolRun;

constexpr int kWidth = 352;
constexpr int kHeight = 240;

// 2026-03-14 07:00:05.
uint32_t base_time() {
    DateTime t{};
    t.year = 2026;
    t.month = 3;
    t.day = 14;
    t.hour = 7;
    t.second = 5;
    uint32_t ts = 0;
    systemtime_to_time(&t, &ts);
    return ts;
}

// One GOP of 30 frames, encoded once: each second of a test shows it again from its key frame.
const std::vector<sample::EncodedFrame>& gop() {
    static const std::vector<sample::EncodedFrame> frames = [] {
        std::string error;
        auto encoder =
            sample::VideoEncoder::create(sample::Codec::H264, kWidth, kHeight, 30, &error);
        EXPECT_NE(encoder, nullptr) << error;
        if (!encoder) return std::vector<sample::EncodedFrame>{};
        auto g = encoder->encode_gop(1, base_time(), 30, &error);
        EXPECT_EQ(g.size(), 30u) << error;
        return g;
    }();
    return frames;
}





// (time stamp, size) of each packet of one stream ("v" or "a"), in file order. The AVI reader
// passes over empty chunks: they show only as gaps in the video time stamps.
std::vector<std::pair<int, int>> packets(const testkit::TempDir& dir, const std::string& path,
                                         const std::string& stream) {
    ToolRun r = testkit::run_tool(dir, "ffprobe -v error -select_streams " + stream +
                             " -show_entries packet=dts,size -of csv=p=0 " + quoted(path));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::pair<int, int>> result;
    int dts = 0, size = 0;
    for (const char* p = r.out.c_str(); std::sscanf(p, "%d,%d", &dts, &size) == 2;) {
        result.emplace_back(dts, size);
        p = std::strchr(p, '\n');
        if (p == nullptr) break;
        ++p;
    }
    return result;
}

int total_size(const std::vector<std::pair<int, int>>& p) {
    int total = 0;
    for (const auto& [dts, size] : p) total += size;
    return total;
}

// The video stream as ffprobe reads it from the header and by counting packets.
nlohmann::json video_stream(const testkit::TempDir& dir, const std::string& path) {
    ToolRun r = testkit::run_tool(dir, "ffprobe -v error -count_packets -show_streams -of json " + quoted(path));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto json = nlohmann::json::parse(r.out, nullptr, false);
    if (json.is_discarded() || !json.contains("streams") || json["streams"].size() != 2) {
        ADD_FAILURE() << r.out;
        return nlohmann::json::object();
    }
    EXPECT_EQ(json["streams"][1]["codec_name"], "pcm_mulaw");
    EXPECT_EQ(json["streams"][1]["sample_rate"], "8000");
    return json["streams"][0];
}

class RecordingOwner : public ExportNotify {
  public:
    void backup_notification(int32_t wparam, int32_t lparam) override {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.emplace_back(wparam, lparam);
    }
    std::vector<std::pair<int32_t, int32_t>> calls() {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }

  private:
    std::mutex lock_;
    std::vector<std::pair<int32_t, int32_t>> calls_;
};

// Feeds a channel writer as the backup job does.
class Feeder {
  public:
    Feeder(CAVIFile& writer, int fps) : writer_(writer), fps_(fps) {}

    // One recorder second: fps frames of the GOP timed 1/fps apart, with audio five 1,600-byte
    // blocks of tone among them. Returns the audio queued.
    Bytes second(uint32_t offset, bool with_audio) {
        const uint32_t t = base_time() + offset;
        Bytes audio;
        for (int i = 0; i < fps_; ++i) {
            const auto& f = gop()[static_cast<size_t>(i)];
            frame(t, static_cast<uint16_t>(i * 1000 / fps_), f.bytes, f.key);
            if (with_audio && i % 5 == 0 && audio.size() < 8000) {
                const Bytes block =
                    sample::tone_samples(0, t, 1600, static_cast<uint32_t>(audio.size()));
                DateTime when{};
                time_to_systemtime(t, &when);
                EXPECT_EQ(writer_.queue_audio(block.data(), 1600, &when), 1);
                audio.insert(audio.end(), block.begin(), block.end());
            }
        }
        return audio;
    }
    // The first frame of a second that stays open.
    void opening_frame(uint32_t offset) { frame(base_time() + offset, 0, gop()[0].bytes, true); }

  private:
    void frame(uint32_t t, uint16_t ms, const Bytes& bytes, bool key) {
        ExportRecord r;
        r.time_stamp = t;
        time_to_systemtime(t, &r.time);
        r.time.milliseconds = ms;
        r.key = key ? 1 : 0;
        r.length = static_cast<int32_t>(bytes.size());
        r.data = const_cast<uint8_t*>(bytes.data());
        EXPECT_EQ(writer_.queue_video(&r), 1);
    }

    CAVIFile& writer_;
    const int fps_;
};

class ChannelWriterFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(gop().size(), 30u); }

    void open_writer(CAVIFile& w, int fps, const std::string& name = "[CH01]07_00_05.") {
        ASSERT_EQ(w.open(dir.file(name)), 1);
        ASSERT_TRUE(w.is_open());
        ASSERT_NE(w.avi(), nullptr);
        w.set_pal(fps == 25 ? 1 : 0);
        w.set_owner(&owner);
        ASSERT_EQ(avi_out_video_format(w.avi(), kWidth, kHeight, fps, "h264"), 1);
        ASSERT_EQ(avi_out_audio_format(w.avi(), 1, 8000, 8, 7, 64), 1);
    }

    testkit::TempDir dir;
    const std::string prefix = dir.file("[CH01]07_00_05.");
    const std::string avi_path = prefix + "avi";
    const std::string smi_path = prefix + "smi";
    RecordingOwner owner;
};

class ChannelWriterRun : public ChannelWriterFile, public ::testing::WithParamInterface<int> {};

TEST_P(ChannelWriterRun, ConstantRateAviAndOneCaptionPerSecond) {
    const int fps = GetParam();
    CAVIFile w;
    open_writer(w, fps);
    w.resume();
    Feeder feed(w, fps);
    // Seconds 0, 1, 2, then nothing until 5 (two seconds without video), then 6 opens.
    const Bytes a0 = feed.second(0, true);
    const Bytes a1 = feed.second(1, true);
    const Bytes a2 = feed.second(2, true);
    const Bytes a5 = feed.second(5, true);
    feed.opening_frame(6);
    w.drain();
    w.close();
    EXPECT_FALSE(w.is_open());
    EXPECT_TRUE(owner.calls().empty());

    // Four seconds of frames and two filler seconds after the third: every frame at its
    // position, second 6 still open when the file was closed.
    const int seconds = 4 + 2;
    std::vector<std::pair<int, int>> expected_packets;
    Bytes expected_video;
    int position = 0;
    for (int s = 0; s < 4; ++s) {
        if (s == 3) position += 2 * fps;
        for (int i = 0; i < fps; ++i) {
            const Bytes& f = gop()[static_cast<size_t>(i)].bytes;
            expected_packets.emplace_back(position++, static_cast<int>(f.size()));
            expected_video.insert(expected_video.end(), f.begin(), f.end());
        }
    }
    EXPECT_EQ(packets(dir, avi_path, "v"), expected_packets);

    const auto video = video_stream(dir, avi_path);
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["r_frame_rate"], std::to_string(fps) + "/1");
    EXPECT_EQ(video["nb_frames"], std::to_string(fps * seconds));  // empty frames included
    EXPECT_EQ(video["duration"], std::to_string(seconds) + ".000000");
    EXPECT_EQ(video["nb_read_packets"], std::to_string(4 * fps));  // only frames with data

    // Audio: 8000 bytes a second, each under its own second's pictures, the hole silent.
    const Bytes silence_second(8000, kSilenceByte);
    Bytes expected_audio;
    for (const Bytes* a : {&a0, &a1, &a2, &silence_second, &silence_second, &a5})
        expected_audio.insert(expected_audio.end(), a->begin(), a->end());
    const auto audio = packets(dir, avi_path, "a");
    ASSERT_EQ(audio.size(), 6u);
    for (const auto& [dts, size] : audio) EXPECT_EQ(size, 8000);

    // The copied frames and audio come out byte for byte, and every frame decodes.
    const std::string h264 = dir.file("v.h264"), mulaw = dir.file("a.ul");
    ToolRun copy =
        testkit::run_tool(dir, "ffmpeg -nostdin -v error -i " + quoted(avi_path) + " -map 0:v -c copy -f h264 " +
                     quoted(h264) + " -map 0:a -c copy -f mulaw " + quoted(mulaw));
    ASSERT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(read_file(h264), expected_video);
    EXPECT_EQ(read_file(mulaw), expected_audio);
    ToolRun decode = testkit::run_tool(dir, "ffmpeg -nostdin -v error -i " + quoted(avi_path) + " -f null -");
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.err, "");

    // The subtitles: one caption a second carrying the recorder's time, and the hole notice.
    ToolRun srt = testkit::run_tool(dir, "ffmpeg -nostdin -v error -i " + quoted(smi_path) + " -f srt -");
    ASSERT_EQ(srt.status, 0) << srt.err;
    EXPECT_EQ(srt.err, "");
    const std::string& text = srt.out;
    size_t arrows = 0;
    for (size_t p = text.find("-->"); p != std::string::npos; p = text.find("-->", p + 1)) ++arrows;
    EXPECT_EQ(arrows, 6u) << text;
    // Each caption starts at its own second's pictures; the hole's notice where it starts.
    for (const char* when : {"00:00:00,000 -->", "00:00:01,000 -->", "00:00:02,000 -->",
                             "00:00:03,000 -->", "00:00:05,000 -->", "00:00:06,000 -->"})
        EXPECT_NE(text.find(when), std::string::npos) << when << "\n" << text;
    const size_t hole = text.find("No video data. Within 2 seconds.");
    ASSERT_NE(hole, std::string::npos) << text;
    EXPECT_LT(text.find("00:00:03,000 -->"), hole);
    EXPECT_LT(hole, text.find("00:00:05,000 -->"));
    EXPECT_LT(text.find("00:00:05,000 -->"), text.find("2026/03/14 07:00:10"));

    EXPECT_EQ(w.stats().placement.frames_written, static_cast<uint64_t>(4 * fps));
    EXPECT_EQ(w.stats().ring.dropped + w.stats().placement.frames_dropped, 0u);
}

INSTANTIATE_TEST_SUITE_P(Rates, ChannelWriterRun, ::testing::Values(25, 30),
                         [](const ::testing::TestParamInfo<int>& p) {
                             return std::to_string(p.param) + "fps";
                         });

TEST_F(ChannelWriterFile, OpenFailsCleanlyWhenAFileCannotBeCreated) {
    CAVIFile w;
    EXPECT_EQ(w.open(dir.file("missing/[CH01]07_00_05.")), 0);
    EXPECT_FALSE(w.is_open());
    EXPECT_EQ(w.avi(), nullptr);
    // A folder where the .smi file should go takes the name from the pair: both files are made
    // under the next number, and no AVI file is left under the first.
    ASSERT_EQ(::mkdir(smi_path.c_str(), 0755), 0);
    ASSERT_EQ(w.open(prefix), 1);
    EXPECT_EQ(w.prefix(), prefix.substr(0, prefix.size() - 1) + " (2).");
    EXPECT_FALSE(std::filesystem::exists(prefix + "avi"));
    EXPECT_TRUE(std::filesystem::exists(w.prefix() + "avi"));
    EXPECT_TRUE(std::filesystem::is_regular_file(w.prefix() + "smi"));
    w.close();
    EXPECT_FALSE(w.is_open());
    w.resume();  // nothing to resume
    EXPECT_FALSE(w.is_running());
    const Bytes data(100, 1);
    DateTime when{};
    EXPECT_EQ(w.queue_audio(data.data(), 100, &when), 0);
    EXPECT_EQ(w.write_frame(data.data(), 100, 1), 0);
    ASSERT_EQ(::rmdir(smi_path.c_str()), 0);
    ASSERT_EQ(w.open(prefix), 1);
    // Open, but missing records and data are refused.
    EXPECT_EQ(w.queue_video(nullptr), 0);
    ExportRecord r;
    r.length = 10;
    EXPECT_EQ(w.queue_video(&r), 0);
    EXPECT_EQ(w.queue_audio(nullptr, 10, &when), 0);
    EXPECT_EQ(w.queue_audio(data.data(), 10, nullptr), 0);
}

// Chunks reach the file in buffered writes: a failure shows when a full buffer is written, is
// reported to the owner each time, and the finished file's counters never claim a chunk that
// did not reach it.
TEST_F(ChannelWriterFile, FailedWritesNotifyTheOwnerAndTheCountersClaimNoLostChunk) {
    CAVIFile w;
    open_writer(w, 30);
    // Every write from now on fails as on a full disk.
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    ASSERT_GE(::dup2(full, w.avi()->file), 0);
    ::close(full);
    w.resume();
    Feeder feed(w, 30);
    size_t second_bytes = 8000;
    for (const auto& f : gop()) second_bytes += f.bytes.size();
    // Enough seconds to fill the write buffer three times over.
    const auto seconds = static_cast<uint32_t>(3 * CAVIFile::kWriteBuffer / second_bytes + 2);
    for (uint32_t s = 0; s < seconds; ++s) feed.second(s, true);
    feed.opening_frame(seconds);
    w.drain();
    w.close();
    const auto calls = owner.calls();
    EXPECT_GE(calls.size(), 2u);
    for (const auto& c : calls) {
        EXPECT_EQ(c.first, kBackupNotifyEnd);
        EXPECT_EQ(c.second, kBackupWriteFailed);
    }
    const ChannelWriterStats st = w.stats();
    EXPECT_EQ(st.failed_writes, calls.size());
    EXPECT_EQ(st.placement.seconds, seconds);
    EXPECT_EQ(st.file_video_frames, 0u);
    EXPECT_EQ(st.file_audio_bytes, 0u);
    EXPECT_TRUE(st.finish_failed);
}

// Finish writes what was queued before it stops the thread, so the file does not depend on how
// far the writer thread had come; close alone may drop it.
TEST_F(ChannelWriterFile, FinishWritesEveryQueuedSecondWhereverTheWriterStood) {
    CAVIFile w;
    open_writer(w, 30);
    w.resume();
    Feeder feed(w, 30);
    for (uint32_t s = 0; s < 12; ++s) feed.second(s, true);
    w.finish();
    EXPECT_FALSE(w.stats().finish_failed);
    // The twelfth second was still being collected: finish writes it too.
    EXPECT_EQ(video_stream(dir, avi_path).value("nb_frames", ""), std::to_string(12 * 30));
    EXPECT_EQ(packets(dir, avi_path, "v").size(), 12u * 30);
    EXPECT_EQ(total_size(packets(dir, avi_path, "a")), 8000 * 12);
    EXPECT_EQ(w.stats().placement.frames_written, 12u * 30);
}

TEST_F(ChannelWriterFile, CloseDiscardsUnwrittenRecordsButEndsOnAWholeSecond) {
    CAVIFile w;
    open_writer(w, 30);
    w.resume();
    Feeder feed(w, 30);
    for (uint32_t s = 0; s < 12; ++s) feed.second(s, true);
    w.close();  // no drain: whatever the thread has not written is dropped
    // ffprobe leaves nb_frames out when the header counts none.
    const int frames = std::stoi(video_stream(dir, avi_path).value("nb_frames", "0"));
    EXPECT_EQ(frames % 30, 0);
    EXPECT_LE(frames, 11 * 30);
    EXPECT_EQ(static_cast<int>(packets(dir, avi_path, "v").size()), frames);
    const int seconds = frames / 30;
    EXPECT_EQ(total_size(packets(dir, avi_path, "a")), 8000 * seconds);
    const Bytes smi_bytes = read_file(smi_path);
    const std::string smi(smi_bytes.begin(), smi_bytes.end());
    EXPECT_TRUE(smi.starts_with(sami_header(prefix))) << smi;
    EXPECT_TRUE(smi.ends_with(sami_footer())) << smi;
}

TEST_F(ChannelWriterFile, ReopeningStartsFreshFilesAndCounters) {
    CAVIFile w;
    open_writer(w, 30);
    w.resume();
    Feeder feed(w, 30);
    feed.second(0, false);
    feed.opening_frame(1);
    w.drain();
    open_writer(w, 30, "[CH01]07_00_05_1.");  // closes the first set
    w.resume();
    EXPECT_EQ(w.stats().placement.seconds, 0u);
    Feeder again(w, 30);
    again.second(1, false);
    again.second(2, false);
    again.opening_frame(3);
    w.drain();
    w.close();
    EXPECT_EQ(packets(dir, avi_path, "v").size(), 30u);
    EXPECT_EQ(packets(dir, dir.file("[CH01]07_00_05_1.avi"), "v").size(), 60u);
    const Bytes smi_bytes = read_file(dir.file("[CH01]07_00_05_1.smi"));
    const std::string smi(smi_bytes.begin(), smi_bytes.end());
    EXPECT_NE(smi.find("<SYNC Start=0000><P>2026/03/14 07:00:06\r\n"), std::string::npos) << smi;
    EXPECT_EQ(w.stats().placement.seconds, 2u);
}

// Frames far above a usual key frame, even longer than the record ring, reach the file whole.
TEST_F(ChannelWriterFile, LargeFramesAreWrittenWhole) {
    CAVIFile w;
    open_writer(w, 30);
    w.resume();
    const std::vector<size_t> sizes{300000, static_cast<size_t>(kRecordDataMax), 5000, 1500000};
    uint32_t t = base_time();
    for (size_t i = 0; i < sizes.size(); ++i) {
        // A real key frame padded with a filler unit to the size wanted.
        Bytes data = gop()[0].bytes;
        for (int b : {0, 0, 0, 1, 0x0C}) data.push_back(static_cast<uint8_t>(b));
        data.resize(sizes[i] - 1, 0xFF);
        data.push_back(0x80);
        ExportRecord r;
        r.time_stamp = t + static_cast<uint32_t>(i);
        time_to_systemtime(r.time_stamp, &r.time);
        r.key = 1;
        r.length = static_cast<int32_t>(data.size());
        r.data = data.data();
        ASSERT_EQ(w.queue_video(&r), 1) << sizes[i];
    }
    w.finish();
    const auto video = packets(dir, avi_path, "v");
    ASSERT_EQ(video.size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(video[i].first, static_cast<int>(i) * 30);
        EXPECT_EQ(video[i].second, static_cast<int>(sizes[i]));
    }
    const ChannelWriterStats st = w.stats();
    EXPECT_EQ(st.placement.frames_written, sizes.size());
    EXPECT_EQ(st.ring.dropped + st.collector.refused, 0u);
}

}  // namespace
