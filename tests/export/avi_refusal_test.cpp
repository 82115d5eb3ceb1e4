// What the writer refuses, and that a refusal changes nothing: missing records, reading mode,
// writes outside the file's life, formats the header cannot hold, and paths that do not fit.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "export/avi_writer.h"
#include "tests/testkit/temp_image.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

const uint8_t kData[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};

TEST(AviRefusal, MissingRecordAndReadingModeRefuseEveryWriterOperation) {
    testkit::TempDir dir;
    EXPECT_EQ(avi_out_create(nullptr, dir.file("a.avi")), -1);
    EXPECT_FALSE(fs::exists(dir.file("a.avi")));
    EXPECT_EQ(avi_out_video_format(nullptr, 352, 240, 25, "h264"), 0);
    EXPECT_EQ(avi_out_audio_format(nullptr, 1, 8000, 8, 7, 64), 0);
    EXPECT_EQ(avi_out_write_frame(nullptr, kData, sizeof kData, true), -1);
    EXPECT_EQ(avi_out_write_audio(nullptr, kData, sizeof kData), -1);
    EXPECT_EQ(avi_out_finish(nullptr), -1);
    EXPECT_EQ(avi_out_close(nullptr), -1);

    avi_out avi;
    ASSERT_EQ(avi_out_create(&avi, dir.file("a.avi")), 0);
    ASSERT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 64), 1);
    avi.mode = AVI_OUT_READING;
    EXPECT_EQ(avi_out_video_format(&avi, 352, 240, 25, "h264"), 0);
    EXPECT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 64), 0);
    EXPECT_EQ(avi_out_write_frame(&avi, kData, sizeof kData, true), -1);
    EXPECT_EQ(avi_out_write_audio(&avi, kData, sizeof kData), -1);
    EXPECT_EQ(avi_out_finish(&avi), -1);
    EXPECT_EQ(avi.width, 0);
    EXPECT_EQ(avi.track_count, 1);
    EXPECT_EQ(read_file(dir.file("a.avi")), std::vector<uint8_t>(2048, 0));
}

TEST(AviRefusal, WritesOutsideTheFilesLifeAreRefused) {
    testkit::TempDir dir;
    avi_out avi;
    // Not created yet.
    EXPECT_EQ(avi_out_write_frame(&avi, kData, sizeof kData, true), -1);
    EXPECT_EQ(avi_out_finish(&avi), -1);

    ASSERT_EQ(avi_out_create(&avi, dir.file("a.avi")), 0);
    ASSERT_EQ(avi_out_video_format(&avi, 352, 240, 25, "h264"), 1);
    // Audio with no track set would be a chunk of no stream in the header.
    EXPECT_EQ(avi_out_write_audio(&avi, kData, sizeof kData), -1);
    // Data missing for a non-empty chunk.
    EXPECT_EQ(avi_out_write_frame(&avi, nullptr, 10, false), -1);
    EXPECT_EQ(avi.pos, 2048u);
    EXPECT_TRUE(avi.index.empty());

    ASSERT_EQ(avi_out_write_frame(&avi, kData, sizeof kData, true), 0);
    ASSERT_EQ(avi_out_finish(&avi), 0);
    std::vector<uint8_t> finished = read_file(dir.file("a.avi"));
    // After finishing nothing more is appended and the header is not written again.
    EXPECT_EQ(avi_out_write_frame(&avi, kData, sizeof kData, false), -1);
    EXPECT_EQ(avi_out_finish(&avi), -1);
    EXPECT_EQ(avi.video_frames, 1u);
    EXPECT_EQ(read_file(dir.file("a.avi")), finished);

    // An open record does not start a second file over the first.
    avi_out other;
    ASSERT_EQ(avi_out_create(&other, dir.file("b.avi")), 0);
    EXPECT_EQ(avi_out_create(&other, dir.file("c.avi")), -1);
    EXPECT_FALSE(fs::exists(dir.file("c.avi")));
    EXPECT_EQ(avi_out_write_frame(&other, kData, sizeof kData, true), 0);
    EXPECT_EQ(fs::file_size(dir.file("b.avi")), 2048u + 8u + 10u);
}

TEST(AviRefusal, CloseReleasesTheRecordForAFreshFile) {
    testkit::TempDir dir;
    avi_out avi;
    ASSERT_EQ(avi_out_create(&avi, dir.file("a.avi")), 0);
    ASSERT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 64), 1);
    ASSERT_EQ(avi_out_write_audio(&avi, kData, sizeof kData), 0);
    ASSERT_EQ(avi_out_finish(&avi), 0);
    ASSERT_EQ(avi_out_close(&avi), 0);
    EXPECT_EQ(avi_out_write_frame(&avi, kData, sizeof kData, true), -1);

    // An existing file is truncated; the state starts afresh.
    { std::ofstream(dir.file("b.avi"), std::ios::binary) << std::string(10000, 'x'); }
    ASSERT_EQ(avi_out_create(&avi, dir.file("b.avi")), 0);
    EXPECT_EQ(avi.pos, 2048u);
    EXPECT_EQ(avi.track_count, 0);
    EXPECT_EQ(avi.tracks[0].bytes_written, 0u);
    EXPECT_TRUE(avi.index.empty());
    EXPECT_FALSE(avi.finished);
    EXPECT_EQ(read_file(dir.file("b.avi")), std::vector<uint8_t>(2048, 0));
}

TEST(AviRefusal, FormatsTheHeaderCannotHoldAreRefusedAndLeaveTheRecordAlone) {
    testkit::TempDir dir;
    avi_out avi;
    ASSERT_EQ(avi_out_create(&avi, dir.file("a.avi")), 0);
    ASSERT_EQ(avi_out_video_format(&avi, 352, 240, 25, "h264"), 1);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(avi_out_video_format(&avi, 704, 576, 25, "h26"), 0);
    EXPECT_EQ(avi_out_video_format(&avi, 704, 576, 25, "h2644"), 0);
    EXPECT_EQ(avi_out_video_format(&avi, -704, 576, 25, "h264"), 0);
    EXPECT_EQ(avi_out_video_format(&avi, 40000, 40000, 25, "h264"), 0);  // 4.8 GB a picture
    EXPECT_EQ(avi_out_video_format(&avi, 704, 576, nan, "h264"), 0);
    EXPECT_EQ(avi_out_video_format(&avi, 704, 576, inf, "h264"), 0);
    EXPECT_EQ(avi_out_video_format(&avi, 704, 576, 4295.0, "h264"), 0);
    EXPECT_EQ(avi.width, 352);
    EXPECT_EQ(avi.height, 240);
    EXPECT_EQ(avi.fps, 25.0);
    EXPECT_EQ(std::string(avi.compressor, 4), "h264");
    EXPECT_EQ(avi_out_video_format(&avi, 704, 576, 4294.0, "XVID"), 1);
    EXPECT_EQ(avi_out_video_format(&avi, 704, 576, 25, ""), 1);
    EXPECT_EQ(std::string(avi.compressor, 4), std::string(4, '\0'));

    EXPECT_EQ(avi_out_audio_format(&avi, 0, 8000, 8, 7, 64), 0);
    EXPECT_EQ(avi_out_audio_format(&avi, 70000, 8000, 8, 7, 64), 0);
    EXPECT_EQ(avi_out_audio_format(&avi, 1, 0, 8, 7, 64), 0);
    EXPECT_EQ(avi_out_audio_format(&avi, 1, 8000, 0, 7, 64), 0);
    EXPECT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 0x10007, 64), 0);
    EXPECT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, -64), 0);
    EXPECT_EQ(avi_out_audio_format(&avi, 1, 8000, 8, 7, 40000000), 0);  // 5 GB a second
    EXPECT_EQ(avi.track_count, 0);
    EXPECT_EQ(avi.current_track, 0);
}

// Builds a path of exactly `length` characters inside `base`, creating its folders.
std::string path_of_length(const std::string& base, size_t length) {
    std::string dirs = base;
    while (length - dirs.size() - 1 > 250) {
        size_t room = length - dirs.size() - 1;
        dirs += "/" + std::string(std::min<size_t>(200, room - 40), 'd');
    }
    fs::create_directories(dirs);
    std::string path = dirs + "/" + std::string(length - dirs.size() - 1 - 4, 'n') + ".avi";
    EXPECT_EQ(path.size(), length);
    return path;
}

TEST(AviRefusal, PathsLongerThanTheNameBufferAreRefusedNotCut) {
    testkit::TempDir dir;
    const std::string longest = path_of_length(dir.path(), kAviNameSize - 1);
    avi_out avi;
    // One character more: cut to fit, it would name `longest`.
    EXPECT_EQ(avi_out_create(&avi, longest + "x"), -1);
    EXPECT_EQ(avi.file, -1);
    EXPECT_FALSE(fs::exists(longest));
    // A zero byte inside would cut it too.
    EXPECT_EQ(avi_out_create(&avi, std::string(dir.file("a.avi")) + '\0' + "x"), -1);
    EXPECT_FALSE(fs::exists(dir.file("a.avi")));
    EXPECT_EQ(avi_out_create(&avi, ""), -1);

    ASSERT_EQ(avi_out_create(&avi, longest), 0);
    EXPECT_EQ(std::string(avi.name), longest);
    EXPECT_EQ(fs::file_size(longest), 2048u);
}

TEST(AviRefusal, CreateFailsWhenTheFileOrItsZeroHeaderCannotBeWritten) {
    testkit::TempDir dir;
    avi_out avi;
    EXPECT_EQ(avi_out_create(&avi, dir.file("missing/a.avi")), -1);
    EXPECT_EQ(avi.file, -1);
    EXPECT_EQ(avi_out_create(&avi, dir.path()), -1);
    EXPECT_EQ(avi.file, -1);
    // Every write to /dev/full fails: the 2048 zero bytes cannot be written.
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(avi_out_create(&avi, "/dev/full"), -1);
        EXPECT_EQ(avi.file, -1);
    }
}

}  // namespace
