// The BMP and JPEG writers, checked by reading their files back with our reader and with
// FFmpeg's tools; the JPEG library's fatal errors and failing writes leave no file behind.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
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
using testkit::quoted;
using testkit::TempDir;

// A picture with every byte position distinct enough that a row or channel mix-up shows.
std::vector<uint8_t> pattern(int width, int height) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            rgb.push_back(static_cast<uint8_t>(x * 37 + y));
            rgb.push_back(static_cast<uint8_t>(y * 53 + 11));
            rgb.push_back(static_cast<uint8_t>((x ^ y) * 29));
        }
    return rgb;
}

// A smooth picture, which JPEG at quality 100 keeps close.
std::vector<uint8_t> gradient(int width, int height) {
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            rgb.push_back(static_cast<uint8_t>(x * 255 / width));
            rgb.push_back(static_cast<uint8_t>(y * 255 / height));
            rgb.push_back(static_cast<uint8_t>(128));
        }
    return rgb;
}

// FFmpeg's decoding of an image file as top-down RGB24.
std::vector<uint8_t> ffmpeg_rgb(const TempDir& dir, const std::string& path) {
    const std::string out = dir.file("ffmpeg.rgb");
    std::string command = "ffmpeg -v error -y -i ";
    command += quoted(path);
    command += " -f rawvideo -pix_fmt rgb24 ";
    command += quoted(out);
    const testkit::ToolRun run = testkit::run_tool(dir, command);
    EXPECT_EQ(run.status, 0) << run.err;
    return testkit::read_file(out);
}

size_t open_descriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// 5 and 7 pixels wide: rows of 15 and 21 bytes padded to 16 and 24.
TEST(StillBmpWriter, OurReaderAndFfmpegReadTheSamePixels) {
    TempDir dir;
    for (const int width : {5, 7, 8}) {
        SCOPED_TRACE(width);
        const int height = 3;
        const std::vector<uint8_t> rgb = pattern(width, height);
        const std::string path = dir.file(std::to_string(width) + "w.bmp");
        std::string error;
        ASSERT_EQ(still_write_bmp(path, rgb.data(), width, height, &error), 0) << error;
        const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
        EXPECT_EQ(fs::file_size(path), 54 + stride * height);

        StillDib dib;
        ASSERT_EQ(still_read_bmp_file(path, &dib, &error), 0) << error;
        EXPECT_EQ(dib.bit_count, 24);
        EXPECT_FALSE(dib.top_down);
        std::vector<uint8_t> back;
        ASSERT_EQ(still_dib_to_rgb(dib, &back, &error), 0);
        EXPECT_EQ(back, rgb);
        EXPECT_EQ(ffmpeg_rgb(dir, path), rgb);
    }
}

TEST(StillJpegWriter, BaselineJpegThatFfmpegDecodesClose) {
    TempDir dir;
    const int width = 97, height = 61;
    const std::vector<uint8_t> rgb = gradient(width, height);
    const std::string path = dir.file("still.jpg");
    std::string error;
    ASSERT_EQ(still_write_jpeg(path, rgb.data(), width, height, kStillJpegQuality, &error), 0)
        << error;
    const std::vector<uint8_t> bytes = testkit::read_file(path);
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    bool baseline = false, progressive = false;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        baseline |= bytes[i] == 0xFF && bytes[i + 1] == 0xC0;
        progressive |= bytes[i] == 0xFF && bytes[i + 1] == 0xC2;
    }
    EXPECT_TRUE(baseline);
    EXPECT_FALSE(progressive);

    const std::vector<uint8_t> decoded = ffmpeg_rgb(dir, path);
    ASSERT_EQ(decoded.size(), rgb.size());
    int worst = 0;
    long total = 0;
    for (size_t i = 0; i < rgb.size(); ++i) {
        const int d = std::abs(int{decoded[i]} - int{rgb[i]});
        worst = std::max(worst, d);
        total += d;
    }
    EXPECT_LE(worst, 12);
    EXPECT_LE(static_cast<double>(total) / static_cast<double>(rgb.size()), 2.0);
}

// A width the library refuses stops it with a fatal error: the writer comes back with the
// library's text, leaves no file, and keeps no descriptor or memory (LeakSanitizer checks the
// latter at exit). Twice, so that a second job after a jump out of the library works too.
TEST(StillJpegWriter, FatalLibraryErrorLeavesNoFile) {
    TempDir dir;
    const int width = 65501;
    const std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3, 0x40);
    const size_t descriptors = open_descriptors();
    for (int round = 0; round < 2; ++round) {
        const std::string path = dir.file("wide.jpg");
        std::string error;
        EXPECT_EQ(still_write_jpeg(path, rgb.data(), width, 1, 100, &error), STILL_ERR_JPEG);
        EXPECT_NE(error.find("65500"), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(path));
        EXPECT_EQ(open_descriptors(), descriptors);
        const std::vector<uint8_t> small = gradient(8, 8);
        EXPECT_EQ(still_write_jpeg(dir.file("after.jpg"), small.data(), 8, 8, 100, &error), 0)
            << error;
    }
}

TEST(StillWriters, UnwritableDestinationAndBadArguments) {
    TempDir dir;
    const std::vector<uint8_t> rgb = pattern(4, 4);
    // The parent is a regular file, so not even root can create the destination.
    const std::string blocker = dir.file("plain");
    ASSERT_EQ(still_write_bmp(blocker, rgb.data(), 4, 4, nullptr), 0);
    const std::string path = blocker + "/x.jpg";
    std::string error;
    EXPECT_EQ(still_write_jpeg(path, rgb.data(), 4, 4, 100, &error), STILL_ERR_OPEN);
    EXPECT_EQ(error, std::string("Cannot open ") + path);
    EXPECT_EQ(still_write_bmp(path, rgb.data(), 4, 4, &error), STILL_ERR_OPEN);
    EXPECT_EQ(error, std::string("Cannot open ") + path);

    const std::string ok = dir.file("never.jpg");
    EXPECT_EQ(still_write_jpeg(ok, rgb.data(), 4, 4, 101, &error), STILL_ERR_INPUT);
    EXPECT_EQ(error, "Invalid input data");
    EXPECT_EQ(still_write_jpeg(ok, nullptr, 4, 4, 100, &error), STILL_ERR_INPUT);
    EXPECT_EQ(still_write_bmp(ok, rgb.data(), 0, 4, &error), STILL_ERR_INPUT);
    EXPECT_EQ(still_write_bmp(ok, rgb.data(), 4, -1, &error), STILL_ERR_INPUT);
    EXPECT_FALSE(fs::exists(ok));

    // A DIB that cannot be converted creates no file at all.
    StillDib dib;
    dib.width = 4;
    dib.height = 1;
    dib.bit_count = 2;
    dib.bits.assign(4, 0);
    EXPECT_EQ(still_dib_to_jpeg(dib, 100, ok, &error), STILL_ERR_BIT_COUNT);
    EXPECT_EQ(error, "Invalid bitmap bit count");
    EXPECT_FALSE(fs::exists(ok));
}

// Writes that fail part-way (here the file-size limit, as on a full disk) are reported and the
// partial file is removed, for both writers and the copy.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*old_handler_)(int) = nullptr;
};

TEST(StillWriters, WriteFailingHalfWayRemovesThePartialFile) {
    TempDir dir;
    const int side = 200;
    const std::vector<uint8_t> rgb = pattern(side, side);
    const std::string source = dir.file("source.bmp");
    std::string error;
    ASSERT_EQ(still_write_bmp(source, rgb.data(), side, side, &error), 0) << error;

    FileSizeLimit limit(8192);
    const std::string bmp = dir.file("cut.bmp");
    EXPECT_EQ(still_write_bmp(bmp, rgb.data(), side, side, &error), STILL_ERR_WRITE);
    EXPECT_EQ(error, std::string("Cannot write ") + bmp);
    EXPECT_FALSE(fs::exists(bmp));

    const std::string jpg = dir.file("cut.jpg");
    EXPECT_LT(still_write_jpeg(jpg, rgb.data(), side, side, 100, &error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(jpg));

    const std::string copy = dir.file("copy.bmp");
    EXPECT_EQ(still_copy_file(source, copy, &error), STILL_ERR_WRITE);
    EXPECT_FALSE(fs::exists(copy));
}

}  // namespace

namespace {

// Files of the other bit counts and header kinds, written byte by byte: our reader and
// conversion give what FFmpeg decodes (16 bits is left out, since FFmpeg widens 5-bit values
// by bit replication where the capture's table gives 1 -> 16).
TEST(StillBmpReader, AgreesWithFfmpegOnPalettesAndDirectColour) {
    TempDir dir;
    struct Case {
        const char* name;
        uint32_t header_size;
        int32_t width;
        int32_t height;
        uint16_t bits;
        uint32_t colors_used;
    };
    const Case cases[] = {
        {"bits1", 40, 13, 3, 1, 0},          {"bits4_short", 40, 5, 4, 4, 9},
        {"bits8_top_down", 40, 7, -3, 8, 0}, {"core_bits4", 12, 6, 2, 4, 0},
        {"bits24", 108, 5, 3, 24, 0},        {"bits32", 124, 3, 2, 32, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testkit::BmpSpec s;
        s.header_size = c.header_size;
        s.width = c.width;
        s.height = c.height;
        s.bit_count = c.bits;
        s.colors_used = c.colors_used;
        const uint32_t entries = c.bits > 8 ? 0 : c.colors_used != 0 ? c.colors_used : 1u << c.bits;
        const uint32_t entry_bytes = c.header_size == 12 ? 3 : 4;
        for (uint32_t i = 0; i < entries * entry_bytes; ++i)
            s.palette.push_back(static_cast<uint8_t>(i % entry_bytes == 3 ? 0 : i * 41 + 5));
        const size_t rows = static_cast<size_t>(c.height < 0 ? -c.height : c.height);
        const size_t stride = (static_cast<size_t>(c.width) * c.bits + 31) / 32 * 4;
        for (size_t i = 0; i < stride * rows; ++i) {
            // Indexes stay inside the named colours; other bytes vary freely.
            const uint8_t b = static_cast<uint8_t>(i * 53 + 17);
            s.pixels.push_back(c.bits == 4 ? static_cast<uint8_t>((b >> 4) % 9 << 4 | (b & 15) % 9)
                                           : b);
        }
        if (c.bits == 32)
            for (size_t i = 3; i < s.pixels.size(); i += 4) s.pixels[i] = 0xFF;  // opaque
        const std::vector<uint8_t> bytes = testkit::build_bmp(s);
        const std::string path = dir.file(std::string(c.name) + ".bmp");
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);

        StillDib dib;
        std::vector<uint8_t> rgb;
        std::string error;
        ASSERT_EQ(still_read_bmp_file(path, &dib, &error), 0) << error;
        ASSERT_EQ(still_dib_to_rgb(dib, &rgb, &error), 0) << error;
        EXPECT_EQ(rgb, ffmpeg_rgb(dir, path));
    }
}

}  // namespace
