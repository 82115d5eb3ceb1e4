// The frame hash list beside every exported file is, byte for byte, what FFmpeg prints for the
// file with "-map 0:v -c copy -f framehash -hash sha256", and the library makes the same list
// as FFmpeg for Matroska and MP4 copies of an export.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/testkit/tool_run.h"
#include "tests/verify/export_fixture.h"
#include "verify/frame_hash.h"

namespace {

using testkit::quoted;

std::string ffmpeg_frame_hashes(const testkit::TempDir& dir, const std::string& media) {
    const testkit::ToolRun r = testkit::run_tool(
        dir, "ffmpeg -nostdin -v error -i " + quoted(media) + " -map 0:v -c copy -f framehash -hash sha256 -");
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

std::string text_of(const std::string& path) {
    const auto bytes = testkit::read_file(path);
    return {bytes.begin(), bytes.end()};
}

nlohmann::json report() {
    return nlohmann::json::parse(text_of(verifytest::exported()->report));
}

size_t packet_lines(const std::string& list) {
    size_t n = 0;
    for (size_t at = 0; at < list.size(); at = list.find('\n', at) + 1) {
        if (list[at] != '#') ++n;
        if (list.find('\n', at) == std::string::npos) break;
    }
    return n;
}

TEST(FrameHashList, BesideEveryAviIsWhatFfmpegPrintsForIt) {
    const verifytest::Exported* e = verifytest::exported();
    ASSERT_NE(e, nullptr);
    testkit::TempDir scratch;
    const nlohmann::json doc = report();
    ASSERT_EQ(doc["files"].size(), 2u);
    for (const auto& f : doc["files"]) {
        const std::string avi = e->folder + "/" + f["avi"]["name"].get<std::string>();
        const std::string list = avi + verify::kFrameHashSuffix;
        ASSERT_TRUE(f.contains("framehash")) << f.dump();
        EXPECT_EQ(f["framehash"]["name"], f["avi"]["name"].get<std::string>() + ".framehash");
        const std::string ours = text_of(list);
        EXPECT_EQ(ours, ffmpeg_frame_hashes(scratch, avi)) << avi;
        // One line per stored frame: the reader passes over the empty chunks that keep the
        // frame rate, as they hold nothing.
        EXPECT_EQ(packet_lines(ours), f["counts"]["stored_frames"].get<size_t>());
        EXPECT_EQ(f["framehash"]["size"], std::filesystem::file_size(list));
    }
}

// Matroska and MP4 files made from an export by a stream copy: the list the library makes
// equals FFmpeg's, time bases and header lines included.
TEST(FrameHashList, MatroskaAndMp4ListsEqualFfmpegs) {
    const verifytest::Exported* e = verifytest::exported();
    ASSERT_NE(e, nullptr);
    testkit::TempDir dir;
    const std::string avi = e->folder + "/" + report()["files"][0]["avi"]["name"].get<std::string>();
    const std::string mkv = dir.file("copy.mkv"), mp4 = dir.file("copy.mp4");
    for (const auto& [out, map] : {std::pair{mkv, ""}, std::pair{mp4, "-map 0:v "}}) {
        const testkit::ToolRun r = testkit::run_tool(
            dir, "ffmpeg -nostdin -v error -i " + quoted(avi) + " " + map + "-c copy " + quoted(out));
        ASSERT_EQ(r.status, 0) << r.err;
        std::string ours, error;
        ASSERT_EQ(verify::frame_hash_list(out, &ours, &error), 0) << error;
        EXPECT_EQ(ours, ffmpeg_frame_hashes(dir, out)) << out;
        EXPECT_GT(packet_lines(ours), 100u);
    }
    // Written beside the file once; a stale list under the name is never replaced.
    std::string written, error;
    ASSERT_EQ(verify::write_frame_hash_list(mkv, &written, &error), 0) << error;
    EXPECT_EQ(written, mkv + verify::kFrameHashSuffix);
    EXPECT_EQ(text_of(written), ffmpeg_frame_hashes(dir, mkv));
    std::ofstream(mp4 + verify::kFrameHashSuffix) << "stale";
    EXPECT_EQ(verify::write_frame_hash_list(mp4, &written, &error), -1);
    EXPECT_EQ(text_of(mp4 + verify::kFrameHashSuffix), "stale");
}

TEST(FrameHashList, AFileThatIsNoMediaIsRefused) {
    testkit::TempDir dir;
    const std::string path = dir.file("not.avi");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("plain text, not a media file\n", f);
    std::fclose(f);
    std::string text, error;
    EXPECT_EQ(verify::frame_hash_list(path, &text, &error), -1);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(verify::frame_hash_list(dir.file("absent.avi"), &text, &error), -1);
    EXPECT_EQ(verify::write_frame_hash_list(dir.file("absent.avi"), nullptr, &error), -1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("absent.avi.framehash")));
}

}  // namespace
