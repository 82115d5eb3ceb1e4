// quillon-cli export --format mkv|mp4 end to end on a recording built here: every stored frame
// of the span is one packet, unchanged, at its recorder time; holes are gaps; a caption a
// second; the sound copied (Matroska) or as AAC (MP4); the splits; and FFmpeg's tools and
// GStreamer's discoverer read every file.
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/mux/media_probe.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"
#include "tests/testkit/volume_helpers.h"
#include "tests/tools/cli_runner.h"
#include "tools/sample/recordings.h"

namespace {

using clitest::CliResult;
using clitest::run_cli;
using testkit::kT0;  // 2026-03-14 07:00:00
using testkit::quoted;

constexpr int kMpeg4Channel = 3;

struct Stored {
    uint32_t time = 0;
    uint32_t ms = 0;
    std::vector<uint8_t> bytes;
};

struct Recording {
    testkit::TempDir dir;
    std::string image;
    std::map<int, std::vector<Stored>> frames;  // by channel, in recorded order
    std::vector<uint8_t> audio;                 // channel 1's sound, all records in order
    std::map<std::string, CliResult> exports;   // by "format/extra options"
};
Recording* rec = nullptr;

std::string shell_out(const std::string& command) {
    return testkit::run_tool(rec->dir, command).out;
}

// The recorder's clock broken down as written in the captions.
std::string caption_time(uint32_t t) {
    const std::time_t tt = t;
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &tm);
    return text;
}

bool before_or_at(const Stored& f, uint32_t t, uint32_t ms) {
    return f.time < t || (f.time == t && f.ms <= ms);
}

class ExportFormats : public testing::Test {
  protected:
    // Channel 1: H.264 with sound; channel 2: H.264 with a hole of 8 s; channel 3: MPEG-4.
    static void SetUpTestSuite() {
        auto r = std::make_unique<Recording>();
        std::string error;
        sample::VolumeContent content;
        for (int channel : {1, 2, kMpeg4Channel}) {
            sample::VideoRecordingSpec spec;
            spec.video_channel = channel;
            spec.codec = channel == kMpeg4Channel ? sample::Codec::Mpeg4 : sample::Codec::H264;
            spec.fps = 15;
            spec.from = kT0;
            spec.to = kT0 + 30;
            if (channel == 2) spec.gaps = {{kT0 + 12, kT0 + 20}};
            auto encoder = sample::VideoEncoder::create(spec.codec, 352, 240, 15, &error);
            ASSERT_NE(encoder, nullptr) << error;
            auto v = sample::video_recording(spec, *encoder, &error);
            ASSERT_TRUE(v.has_value()) << error;
            for (const auto& gop : v->gops) {
                for (const auto& f : gop.frames)
                    r->frames[channel].push_back({f.time, f.ms, f.bytes});
            }
            content.channels.push_back(std::move(v->data));
        }
        auto a = sample::audio_recording(1, kT0, kT0 + 30, {}, &error, true);
        ASSERT_TRUE(a.has_value()) << error;
        for (const auto& record : a->records) {
            r->audio.insert(r->audio.end(), record.samples.begin(), record.samples.end());
        }
        content.channels.push_back(std::move(a->data));
        sample::DiskSpec disk = testkit::small_recorder(content, 29);
        disk.bare.recorder.block_size = 64 * 1024;
        r->image = testkit::make_image(r->dir, "formats.img", disk);
        rec = r.release();
    }
    static void TearDownTestSuite() {
        delete rec;
        rec = nullptr;
    }
    void SetUp() override { ASSERT_NE(rec, nullptr) << "the recording could not be built"; }

    // One export of channels 1..3 over 07:00:05..07:00:25, run once per format and options.
    static const CliResult& exported(const std::string& format,
                                     const std::vector<std::string>& extra = {}) {
        std::string key = format;
        for (const auto& e : extra) key += "/" + e;
        auto found = rec->exports.find(key);
        if (found != rec->exports.end()) return found->second;
        std::string folder = rec->dir.file("out");
        for (char c : key) folder += c == '/' ? '_' : c;
        std::vector<std::string> args = {"export",     "--json",
                                         "--image",    rec->image,
                                         "--channels", "1,2,3",
                                         "--from",     "2026-03-14 07:00:05",
                                         "--to",       "2026-03-14 07:00:25",
                                         "--out",      folder,
                                         "--format",   format};
        args.insert(args.end(), extra.begin(), extra.end());
        return rec->exports.emplace(key, run_cli(args)).first->second;
    }

    static std::vector<nlohmann::json> files_of(const CliResult& r, int channel) {
        std::vector<nlohmann::json> files;
        const nlohmann::json doc = r.json();
        for (const auto& f : doc["files"]) {
            if (f["channel"] == channel) files.push_back(f);
        }
        return files;
    }

    // The stored frames of a channel between a file's first and last frame.
    static std::vector<const Stored*> stored_between(int channel, const nlohmann::json& first,
                                                     const nlohmann::json& last) {
        std::vector<const Stored*> out;
        for (const Stored& f : rec->frames[channel]) {
            const bool after_first = !before_or_at(f, first["time"], first["ms"]) ||
                                     (f.time == first["time"] && f.ms == first["ms"]);
            if (after_first && before_or_at(f, last["time"], last["ms"])) out.push_back(&f);
        }
        return out;
    }
};

TEST_F(ExportFormats, EveryStoredFrameIsOnePacketWithItsNalUnitsUnchanged) {
    for (const std::string format : {"mkv", "mp4"}) {
        const CliResult& r = exported(format);
        ASSERT_EQ(r.status, 0) << r.err;
        for (int channel : {1, 2}) {
            const auto files = files_of(r, channel);
            ASSERT_EQ(files.size(), 1u) << format;
            const auto& f = files[0];
            EXPECT_EQ(f["format"], format);
            const std::string path = f["file"];
            EXPECT_EQ(path.substr(path.size() - 4), "." + format);
            const muxtest::Media m = muxtest::read_media(path);
            ASSERT_TRUE(m.opened) << path;
            EXPECT_EQ(m.video.codec, "h264");
            const auto stored = stored_between(channel, f["first_frame"], f["last_frame"]);
            ASSERT_GT(stored.size(), 100u);
            ASSERT_EQ(m.video.packets.size(), stored.size()) << path;
            EXPECT_TRUE(m.video.key.front());
            for (size_t i = 0; i < stored.size(); ++i) {
                EXPECT_EQ(muxtest::length_prefixed_units(m.video.packets[i]),
                          muxtest::start_code_units(stored[i]->bytes))
                    << path << " frame " << i;
                // At its recorder time, relative to the first frame.
                const int64_t want = (int64_t{stored[i]->time} - stored[0]->time) * 1000 +
                                     stored[i]->ms - stored[0]->ms;
                EXPECT_EQ(m.video.pts_ms[i], want) << path << " frame " << i;
            }
        }
    }
}

TEST_F(ExportFormats, MpegFourFramesAreCopiedByteForByte) {
    for (const std::string format : {"mkv", "mp4"}) {
        const CliResult& r = exported(format);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto files = files_of(r, kMpeg4Channel);
        ASSERT_EQ(files.size(), 1u);
        const muxtest::Media m = muxtest::read_media(files[0]["file"]);
        ASSERT_TRUE(m.opened);
        EXPECT_EQ(m.video.codec, "mpeg4");
        const auto stored =
            stored_between(kMpeg4Channel, files[0]["first_frame"], files[0]["last_frame"]);
        ASSERT_EQ(m.video.packets.size(), stored.size());
        for (size_t i = 0; i < stored.size(); ++i) {
            EXPECT_EQ(m.video.packets[i], stored[i]->bytes) << format << " frame " << i;
        }
    }
}

TEST_F(ExportFormats, DecodedPicturesEqualThoseOfTheAviExport) {
    const CliResult& avi = exported("avi");
    ASSERT_EQ(avi.status, 0) << avi.err;
    auto md5s = [](const std::string& path) {
        // One inverse transform for both: the AVI's "XVID" tag makes the decoder pick another
        // one for MPEG-4 than the same frames get in another container.
        std::istringstream in(shell_out("ffmpeg -v error -idct simple -i " + quoted(path) +
                                        " -map 0:v:0 -vsync passthrough -f framemd5 -"));
        std::vector<std::string> sums;
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            sums.push_back(line.substr(line.find_last_of(',') + 1));
        }
        return sums;
    };
    for (const std::string format : {"mkv", "mp4"}) {
        const CliResult& r = exported(format);
        ASSERT_EQ(r.status, 0) << r.err;
        for (int channel : {1, 2, kMpeg4Channel}) {
            const auto reference = md5s(files_of(avi, channel)[0]["avi"]);
            const auto got = md5s(files_of(r, channel)[0]["file"]);
            ASSERT_GT(reference.size(), 100u);
            EXPECT_EQ(got, reference) << format << " channel " << channel;
        }
    }
}

TEST_F(ExportFormats, AHoleIsAGapInTheTimestampsNotFiller) {
    for (const std::string format : {"mkv", "mp4"}) {
        const auto f = files_of(exported(format), 2).at(0);
        const muxtest::Media m = muxtest::read_media(f["file"]);
        ASSERT_GT(m.video.pts_ms.size(), 2u);
        int64_t widest = 0;
        for (size_t i = 1; i < m.video.pts_ms.size(); ++i) {
            widest = std::max(widest, m.video.pts_ms[i] - m.video.pts_ms[i - 1]);
        }
        // Nothing recorded 07:00:12..07:00:19: eight seconds without a packet.
        EXPECT_GT(widest, 8000) << format;
        EXPECT_LT(widest, 9000) << format;
        EXPECT_EQ(f["stored_frames"].get<size_t>(), m.video.packets.size());
        EXPECT_EQ(f["seconds_without_video"].get<int>(), 8) << format;
    }
}

TEST_F(ExportFormats, CreationTimeIsTheFirstFramesRecorderTime) {
    for (const std::string format : {"mkv", "mp4"}) {
        for (int channel : {1, 2}) {
            const auto f = files_of(exported(format), channel).at(0);
            const muxtest::Media m = muxtest::read_media(f["file"]);
            std::string want = f["first_frame"]["time_text"];
            want[10] = 'T';
            EXPECT_EQ(m.creation_time.substr(0, 19), want) << format;
            EXPECT_NE(m.comment.find("recorder's own clock"), std::string::npos) << m.comment;
        }
    }
}

TEST_F(ExportFormats, OneCaptionPerRecordedSecondAndOneForTheHole) {
    for (const std::string format : {"mkv", "mp4"}) {
        for (int channel : {1, 2}) {
            const auto f = files_of(exported(format), channel).at(0);
            const muxtest::Media m = muxtest::read_media(f["file"]);
            EXPECT_EQ(m.text.codec, format == "mp4" ? "mov_text" : "subrip");
            // Players show it with the picture without being asked.
            EXPECT_TRUE(m.text.shown_by_default) << format;
            const auto stored = stored_between(channel, f["first_frame"], f["last_frame"]);
            std::vector<std::string> want;
            uint32_t previous = 0;
            for (const Stored* s : stored) {
                if (s->time == previous) continue;
                if (previous != 0 && s->time > previous + 1) {
                    want.push_back("No video data. Within " +
                                   std::to_string(s->time - previous - 1) + " seconds.");
                }
                want.push_back(caption_time(s->time));
                previous = s->time;
            }
            std::vector<std::string> got;
            for (size_t i = 0; i < m.text.packets.size(); ++i) {
                const auto& p = m.text.packets[i];
                const size_t skip = format == "mp4" ? 2 : 0;  // a timed-text sample's length
                if (p.size() <= skip) continue;               // the empty samples between cues
                got.emplace_back(p.begin() + static_cast<long>(skip), p.end());
                // Each second's caption starts where its second starts in the file.
                if (got.back().rfind("No video", 0) == 0) continue;
                const int64_t at = m.text.pts_ms[i] + stored[0]->ms;
                EXPECT_EQ(caption_time(stored[0]->time + static_cast<uint32_t>(at / 1000)),
                          got.back());
            }
            EXPECT_EQ(got, want) << format << " channel " << channel;
        }
    }
}

TEST_F(ExportFormats, MatroskaKeepsTheMuLawSoundByteForByte) {
    const auto f = files_of(exported("mkv"), 1).at(0);
    const muxtest::Media m = muxtest::read_media(f["file"]);
    EXPECT_EQ(m.audio.codec, "pcm_mulaw");
    EXPECT_EQ(m.audio.sample_rate, 8000);
    EXPECT_EQ(m.audio.channels, 1);
    std::vector<uint8_t> sound;
    for (const auto& p : m.audio.packets) sound.insert(sound.end(), p.begin(), p.end());
    // About twenty seconds of it, one unbroken run of what the recorder stored.
    ASSERT_GT(sound.size(), 19u * 8000u);
    EXPECT_EQ(f["recorded_audio_bytes"].get<size_t>(), sound.size());
    const auto at = std::search(rec->audio.begin(), rec->audio.end(), sound.begin(), sound.end());
    EXPECT_NE(at, rec->audio.end());
    // The sound starts with the pictures: its first byte is of the first frame's second.
    const size_t offset = static_cast<size_t>(at - rec->audio.begin());
    EXPECT_EQ(offset / 8000, f["first_frame"]["time"].get<uint32_t>() - kT0);
}

TEST_F(ExportFormats, MpegFourPartFourteenSoundIsAacAtEightKilohertzMono) {
    const CliResult& r = exported("mp4");
    const auto f = files_of(r, 1).at(0);
    const muxtest::Media m = muxtest::read_media(f["file"]);
    EXPECT_EQ(m.audio.codec, "aac");
    EXPECT_EQ(m.audio.profile, 1);  // AAC-LC (profile index 1 of MPEG-4 audio object types - 1)
    EXPECT_EQ(m.audio.sample_rate, 8000);
    EXPECT_EQ(m.audio.channels, 1);
    ASSERT_FALSE(m.audio.pts_ms.empty());
    // The sound lasts as long as the pictures (within an AAC frame or two).
    EXPECT_NEAR(static_cast<double>(m.audio.end_ms.back()),
                static_cast<double>(m.video.pts_ms.back()), 400.0);
    // The report says what became of it.
    bool transcoded = false;
    for (const auto& s : f["streams"]) {
        if (s["kind"] == "audio") transcoded = s["handling"] == "transcoded" && s["codec"] == "aac";
    }
    EXPECT_TRUE(transcoded) << f.dump();
    // The index comes before the media data, so that the file plays while it downloads.
    const auto bytes = testkit::read_file(f["file"]);
    const std::string head(bytes.begin(), bytes.end());
    EXPECT_LT(head.find("moov"), head.find("mdat"));
}

TEST_F(ExportFormats, TheReportNamesEachFileWithItsFormatAndStreams) {
    const CliResult& r = exported("mkv");
    ASSERT_EQ(r.status, 0);
    const auto report = nlohmann::json::parse(testkit::read_file(r.json()["report"]));
    ASSERT_EQ(report["files"].size(), 3u);
    for (const auto& f : report["files"]) {
        EXPECT_EQ(f["format"], "mkv");
        EXPECT_TRUE(f["avi"].is_null());
        const std::string name = f["file"]["name"];
        EXPECT_EQ(name.substr(name.size() - 4), ".mkv");
        EXPECT_EQ(f["file"]["size"].get<uint64_t>(),
                  std::filesystem::file_size(
                      r.json()["report"].get<std::string>().substr(
                          0, r.json()["report"].get<std::string>().rfind('/') + 1) +
                      name));
        std::set<std::string> kinds;
        for (const auto& s : f["streams"]) {
            kinds.insert(s["kind"].get<std::string>());
            if (s["kind"] == "video") {
                EXPECT_EQ(s["width"], 352);
                EXPECT_EQ(s["height"], 240);
                EXPECT_EQ(s["handling"], "copied");
            }
            if (s["kind"] == "audio") {
                EXPECT_EQ(s["rate"], "8000 Hz");
                EXPECT_EQ(s["codec"], "pcm_mulaw");
                EXPECT_EQ(s["handling"], "copied");
            }
        }
        EXPECT_EQ(kinds, (std::set<std::string>{"audio", "subtitle", "video"}));
    }
    // No captions file beside a container that holds its captions.
    for (const auto& e : std::filesystem::directory_iterator(
             std::filesystem::path(r.json()["report"].get<std::string>()).parent_path())) {
        EXPECT_NE(e.path().extension(), ".smi") << e.path();
    }
}

TEST_F(ExportFormats, SplitPartsStartOnKeyFramesAndHoldEveryFrameOnce) {
    for (const std::string format : {"mkv", "mp4"}) {
        const CliResult& r = exported(format, {"--split-bytes", "60000"});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto files = files_of(r, 1);
        ASSERT_GE(files.size(), 3u) << r.out;
        std::vector<std::vector<std::vector<uint8_t>>> got;
        for (size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(files[i]["part"].get<int>(), static_cast<int>(i));
            const muxtest::Media m = muxtest::read_media(files[i]["file"]);
            ASSERT_FALSE(m.video.packets.empty());
            EXPECT_TRUE(m.video.key.front()) << files[i]["file"];
            // Its own first frame is its time 0.
            EXPECT_EQ(m.video.pts_ms.front(), 0);
            for (const auto& p : m.video.packets) got.push_back(muxtest::length_prefixed_units(p));
        }
        const auto stored =
            stored_between(1, files.front()["first_frame"], files.back()["last_frame"]);
        ASSERT_EQ(got.size(), stored.size()) << format << r.out;
        for (size_t i = 0; i < stored.size(); ++i) {
            EXPECT_EQ(got[i], muxtest::start_code_units(stored[i]->bytes)) << format << " " << i;
        }
    }
}

TEST_F(ExportFormats, FfmpegAndGstreamerReadEveryFile) {
    for (const std::string format : {"mkv", "mp4"}) {
        const CliResult& r = exported(format);
        ASSERT_EQ(r.status, 0) << r.err;
        const nlohmann::json doc = r.json();
        for (const auto& f : doc["files"]) {
            const std::string path = f["file"];
            const auto probe = testkit::run_tool(rec->dir, "ffprobe -v error " + quoted(path));
            EXPECT_EQ(probe.status, 0);
            EXPECT_EQ(probe.err, "") << path;
            const auto decode =
                testkit::run_tool(rec->dir, "ffmpeg -v error -i " + quoted(path) + " -f null -");
            EXPECT_EQ(decode.status, 0);
            EXPECT_EQ(decode.err, "") << path;
            const auto gst = testkit::run_tool(rec->dir, "gst-discoverer-1.0 " + quoted(path));
            EXPECT_EQ(gst.status, 0) << gst.out << gst.err;
            EXPECT_NE(gst.out.find("Properties:"), std::string::npos) << gst.out;
            EXPECT_NE(gst.out.find("video #"), std::string::npos) << gst.out;
            EXPECT_NE(gst.out.find("subtitles #"), std::string::npos) << gst.out;
        }
    }
}

TEST_F(ExportFormats, AnUnknownFormatIsAUsageErrorThatWritesNothing) {
    const std::string folder = rec->dir.file("never");
    const CliResult r = run_cli({"export", "--image", rec->image, "--channels", "1", "--from",
                                 "2026-03-14 07:00:05", "--to", "2026-03-14 07:00:25", "--out",
                                 folder, "--format", "webm"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("webm"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
