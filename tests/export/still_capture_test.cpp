// The capture's saving step: the folder rules, the file names, the BMP copy and the JPEG
// conversion of the display's picture, and the temporary file deleted after every attempt.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "export/still_capture.h"
#include "tests/testkit/bmp_builder.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"

namespace {

namespace fs = std::filesystem;
using testkit::TempDir;

// HOME pointed at a test folder for the test's duration.
class HomeAt {
  public:
    explicit HomeAt(const std::string& home) {
        if (const char* old = std::getenv("HOME")) old_ = old, had_ = true;
        setenv("HOME", home.c_str(), 1);
    }
    ~HomeAt() {
        if (had_)
            setenv("HOME", old_.c_str(), 1);
        else
            unsetenv("HOME");
    }
    HomeAt(const HomeAt&) = delete;
    HomeAt& operator=(const HomeAt&) = delete;

  private:
    std::string old_;
    bool had_ = false;
};

// The display's picture: a 24-bit BMP of the given size.
std::string write_temp(const TempDir& dir, int width, int height) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < width * height * 3; ++i) rgb.push_back(static_cast<uint8_t>(i * 7));
    const std::string path = dir.file(kStillTempName);
    EXPECT_EQ(still_write_bmp(path, rgb.data(), width, height, nullptr), 0);
    return path;
}

TEST(StillCapture, EmptyFolderSavesToTheCaptureFolderForBothFormats) {
    TempDir dir;
    HomeAt home(dir.path());
    for (const int32_t format : {STILL_FORMAT_BMP, STILL_FORMAT_JPEG}) {
        const std::string temp = write_temp(dir, 16, 8);
        std::string saved, error;
        ASSERT_EQ(still_save_capture(temp, {"", "shot", format}, &saved, &error), 0) << error;
        const std::string expected =
            dir.path() + (format == STILL_FORMAT_BMP ? "/Storage/Capture/shot.bmp"
                                                     : "/Storage/Capture/shot.jpg");
        EXPECT_EQ(saved, expected);
        EXPECT_TRUE(fs::is_regular_file(expected));
        EXPECT_FALSE(fs::exists(temp));
    }
}

TEST(StillCapture, NestedMissingFolderIsCreatedAndBmpIsAnExactCopy) {
    TempDir dir;
    // Larger than two copy blocks, so the copy's last block is a short one.
    const std::string temp = write_temp(dir, 300, 120);
    ASSERT_GT(fs::file_size(temp), 2 * kStillCopyBlock);
    const std::vector<uint8_t> original = testkit::read_file(temp);
    const std::string folder = dir.file("a/b/c");
    std::string saved, error;
    ASSERT_EQ(still_save_capture(temp, {folder, "frame 01", STILL_FORMAT_BMP}, &saved, &error), 0)
        << error;
    EXPECT_EQ(saved, folder + "/frame 01.bmp");
    EXPECT_EQ(testkit::read_file(saved), original);
    EXPECT_FALSE(fs::exists(temp));
    // A destination name that is taken, here by a link to an earlier still, is never written
    // through: the new still gets a name of its own and the earlier one stays whole.
    const std::string again = write_temp(dir, 20, 10);
    const std::vector<uint8_t> second = testkit::read_file(again);
    fs::create_symlink(saved, dir.file("self.bmp"));
    std::string saved_again;
    ASSERT_EQ(still_save_capture(again, {dir.path(), "self", STILL_FORMAT_BMP}, &saved_again,
                                 &error),
              0)
        << error;
    EXPECT_EQ(saved_again, dir.file("self (2).bmp"));
    EXPECT_EQ(testkit::read_file(saved_again), second);
    EXPECT_EQ(testkit::read_file(saved), original);
    // A copy onto its own source makes a second file and leaves the source as it was.
    std::string copy;
    ASSERT_EQ(still_copy_file(saved, saved, &error, &copy), 0) << error;
    EXPECT_EQ(copy, folder + "/frame 01 (2).bmp");
    EXPECT_EQ(testkit::read_file(saved), original);
    EXPECT_EQ(testkit::read_file(copy), original);
    // A folder given with its separator gets no second one.
    EXPECT_EQ(still_capture_path({folder + "/", "x", STILL_FORMAT_JPEG}), folder + "/x.jpg");
}

TEST(StillCapture, JpegOfTheDisplayPictureDecodesToItsSize) {
    TempDir dir;
    const std::string temp = write_temp(dir, 33, 17);
    std::string saved, error;
    ASSERT_EQ(still_save_capture(temp, {dir.path(), "j", STILL_FORMAT_JPEG}, &saved, &error), 0)
        << error;
    std::string command =
        "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height -of "
        "csv=p=0 ";
    command += testkit::quoted(saved);
    const testkit::ToolRun probe = testkit::run_tool(dir, command);
    EXPECT_EQ(probe.status, 0) << probe.err;
    EXPECT_EQ(probe.out, "mjpeg,33,17\n");
}

// Whatever fails, no image file appears and the temporary file is gone.
TEST(StillCapture, FailuresSaveNothingAndStillDeleteTheTemporaryFile) {
    TempDir dir;
    std::string error;
    const std::string missing = dir.file("no-temp.dat");
    EXPECT_EQ(still_save_capture(missing, {dir.path(), "m", STILL_FORMAT_BMP}, nullptr, &error),
              STILL_ERR_OPEN);
    EXPECT_FALSE(fs::exists(dir.file("m.bmp")));

    // A picture whose bit count the conversion refuses: no JPEG, not even an empty one.
    testkit::BmpSpec s;
    s.width = 2;
    s.bit_count = 2;
    s.pixels.assign(4, 0);
    const std::vector<uint8_t> bad = testkit::build_bmp(s);
    const std::string temp = dir.file(kStillTempName);
    {
        FILE* f = std::fopen(temp.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bad.data(), 1, bad.size(), f);
        std::fclose(f);
    }
    EXPECT_EQ(still_save_capture(temp, {dir.path(), "b", STILL_FORMAT_JPEG}, nullptr, &error),
              STILL_ERR_BIT_COUNT);
    EXPECT_EQ(error, "Invalid bitmap bit count");
    EXPECT_FALSE(fs::exists(dir.file("b.jpg")));
    EXPECT_FALSE(fs::exists(temp));

    // A folder that cannot be made (a file is in the way), names that leave the folder, an
    // unknown format.
    const std::string temp2 = write_temp(dir, 4, 4);
    const std::string blocker = dir.file("plain");
    ASSERT_EQ(still_copy_file(temp2, blocker, nullptr), 0);
    EXPECT_EQ(still_save_capture(temp2, {blocker + "/sub", "x", STILL_FORMAT_BMP}, nullptr, &error),
              STILL_ERR_FOLDER);
    EXPECT_FALSE(fs::exists(temp2));
    for (const std::string name : {"", "..", "../up", "a/b"}) {
        const std::string t = write_temp(dir, 4, 4);
        EXPECT_EQ(still_save_capture(t, {dir.file("n"), name, STILL_FORMAT_BMP}, nullptr, &error),
                  STILL_ERR_INPUT)
            << name;
    }
    EXPECT_FALSE(fs::exists(dir.file("n")));
    EXPECT_FALSE(fs::exists(dir.file("up.bmp")));
    const std::string t = write_temp(dir, 4, 4);
    EXPECT_EQ(still_save_capture(t, {dir.path(), "f", 2}, nullptr, &error), STILL_ERR_INPUT);
}

TEST(StillCapture, NoHomeFolderIsAnErrorNotTheFileSystemRoot) {
    TempDir dir;
    HomeAt home("");
    const std::string temp = write_temp(dir, 4, 4);
    std::string error;
    EXPECT_EQ(still_capture_folder(""), "");
    EXPECT_EQ(still_save_capture(temp, {"", "x", STILL_FORMAT_BMP}, nullptr, &error),
              STILL_ERR_FOLDER);
    EXPECT_FALSE(fs::exists("/Storage/Capture/x.bmp"));
}

}  // namespace
