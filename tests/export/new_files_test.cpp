// Nothing a user made is replaced: stills, the AVI and SAMI pair of each exported channel and
// the job's report all go to new names when theirs are taken.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "export/avimaker.h"
#include "export/export_report.h"
#include "export/new_file.h"
#include "export/still_capture.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"

namespace {

namespace fs = std::filesystem;

void put(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string text_of(const std::string& path) {
    const std::vector<uint8_t> bytes = testkit::read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(NewFile, NamesAndSplits) {
    EXPECT_EQ(new_file_name("/a/shot", 1, ".jpg"), "/a/shot.jpg");
    EXPECT_EQ(new_file_name("/a/shot", 2, ".jpg"), "/a/shot (2).jpg");
    EXPECT_EQ(new_file_name("/a/shot", 12, ""), "/a/shot (12)");
    std::string stem, ext;
    new_file_split("/a.b/shot.x.jpg", &stem, &ext);
    EXPECT_EQ(stem, "/a.b/shot.x");
    EXPECT_EQ(ext, ".jpg");
    new_file_split("/a.b/shot", &stem, &ext);
    EXPECT_EQ(stem, "/a.b/shot");
    EXPECT_EQ(ext, "");
    new_file_split("/a/.hidden", &stem, &ext);
    EXPECT_EQ(stem, "/a/.hidden");
    EXPECT_EQ(ext, "");
}

TEST(NewFile, TakenNamesAreNumberedAndNeverTruncated) {
    testkit::TempDir dir;
    put(dir.file("shot.jpg"), "first");
    put(dir.file("shot (2).jpg"), "second");
    std::string path, error;
    const int fd = new_file_create(dir.file("shot"), ".jpg", &path, &error);
    ASSERT_GE(fd, 0) << error;
    ::close(fd);
    EXPECT_EQ(path, dir.file("shot (3).jpg"));
    EXPECT_EQ(text_of(dir.file("shot.jpg")), "first");
    EXPECT_EQ(text_of(dir.file("shot (2).jpg")), "second");
    // A dangling link holds its name too: writing through it would create a file elsewhere.
    fs::create_symlink(dir.file("nowhere"), dir.file("link.jpg"));
    const int linked = new_file_create(dir.file("link"), ".jpg", &path, &error);
    ASSERT_GE(linked, 0);
    ::close(linked);
    EXPECT_EQ(path, dir.file("link (2).jpg"));
    EXPECT_FALSE(fs::exists(dir.file("nowhere")));
    // A folder that is not there is a failure, not a hunt through every number.
    EXPECT_LT(new_file_create(dir.file("missing/x"), ".jpg", &path, &error), 0);
    EXPECT_EQ(error, "Cannot create " + dir.file("missing/x.jpg"));
}

// A pair moves on whole: a leftover subtitle file alone takes the number from both.
TEST(NewFile, ASetSkipsANumberWhereAnyMemberIsTakenAndLeavesNothingThere) {
    testkit::TempDir dir;
    put(dir.file("[CH01]10_00_00.smi"), "old subtitles");
    put(dir.file("[CH01]10_00_00 (2).avi"), "old video");
    std::vector<int> fds;
    std::string chosen, error;
    ASSERT_EQ(new_file_create_set(dir.file("[CH01]10_00_00"), {".avi", ".smi"}, &fds, &chosen,
                                  &error),
              0)
        << error;
    for (int fd : fds) ::close(fd);
    EXPECT_EQ(chosen, dir.file("[CH01]10_00_00 (3)"));
    EXPECT_TRUE(fs::exists(dir.file("[CH01]10_00_00 (3).avi")));
    EXPECT_TRUE(fs::exists(dir.file("[CH01]10_00_00 (3).smi")));
    // The avi made under the first number, before its smi was found taken, is gone again.
    EXPECT_FALSE(fs::exists(dir.file("[CH01]10_00_00.avi")));
    EXPECT_FALSE(fs::exists(dir.file("[CH01]10_00_00 (2).smi")));
    EXPECT_EQ(text_of(dir.file("[CH01]10_00_00.smi")), "old subtitles");
    EXPECT_EQ(text_of(dir.file("[CH01]10_00_00 (2).avi")), "old video");
}

TEST(NewFile, StillsOfATakenNameGoToTheNextNumber) {
    testkit::TempDir dir;
    const std::vector<uint8_t> rgb(4 * 4 * 3, 0x80);
    std::string written, error;
    ASSERT_EQ(still_save_jpeg(dir.file("shot.jpg"), rgb.data(), 4, 4, 100, &written, &error), 0);
    EXPECT_EQ(written, dir.file("shot.jpg"));
    const std::vector<uint8_t> first = testkit::read_file(written);
    const std::vector<uint8_t> other(2 * 2 * 3, 0x10);
    ASSERT_EQ(still_save_jpeg(dir.file("shot.jpg"), other.data(), 2, 2, 100, &written, &error), 0);
    EXPECT_EQ(written, dir.file("shot (2).jpg"));
    EXPECT_EQ(testkit::read_file(dir.file("shot.jpg")), first);
    ASSERT_EQ(still_save_bmp(dir.file("shot.jpg"), rgb.data(), 4, 4, &written, &error), 0);
    EXPECT_EQ(written, dir.file("shot (3).jpg"));
    const uint8_t bytes[] = {1, 2, 3};
    ASSERT_EQ(still_save_bytes(dir.file("shot.jpg"), bytes, 3, &written, &error), 0);
    EXPECT_EQ(written, dir.file("shot (4).jpg"));
    EXPECT_EQ(testkit::read_file(written), std::vector<uint8_t>(bytes, bytes + 3));
    EXPECT_EQ(testkit::read_file(dir.file("shot.jpg")), first);
}

class Quiet final : public ExportNotify {
public:
    void backup_notification(int32_t, int32_t) override {}
};

// One key frame a second for a few seconds into channel 1 of a job over [from, from + 60].
std::vector<CAvimaker::FileSet> export_once(const std::string& folder, uint32_t from) {
    Quiet quiet;
    CAvimaker maker;
    DateTime start{}, end{};
    time_to_systemtime(from, &start);
    time_to_systemtime(from + 60, &end);
    maker.setup(&quiet, start, end, 0x1, folder, 4, 0);
    std::vector<uint8_t> frame(200, 0x11);
    frame[0] = frame[1] = frame[2] = 0;
    frame[3] = 1;
    for (uint32_t t = from; t < from + 3; ++t)
        maker.on_record(0, t, 0, frame.data(), 200, 0, 352u << 16 | 240u);
    maker.reset();
    return maker.opened();
}

TEST(NewFile, ASecondExportIntoTheFolderWritesAPairOfItsOwn) {
    testkit::TempDir dir;
    const uint32_t from = 1773480000;  // 2026-03-14 09:20:00
    const auto first = export_once(dir.path(), from);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].prefix, dir.file("[CH01]09_20_00."));
    const std::vector<uint8_t> avi = testkit::read_file(dir.file("[CH01]09_20_00.avi"));
    const std::vector<uint8_t> smi = testkit::read_file(dir.file("[CH01]09_20_00.smi"));
    ASSERT_FALSE(avi.empty());
    const auto second = export_once(dir.path(), from);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].prefix, dir.file("[CH01]09_20_00 (2)."));
    EXPECT_GT(fs::file_size(dir.file("[CH01]09_20_00 (2).avi")), 2048u);
    EXPECT_TRUE(fs::exists(dir.file("[CH01]09_20_00 (2).smi")));
    EXPECT_EQ(testkit::read_file(dir.file("[CH01]09_20_00.avi")), avi);
    EXPECT_EQ(testkit::read_file(dir.file("[CH01]09_20_00.smi")), smi);
    // The subtitles name their own files.
    EXPECT_NE(text_of(dir.file("[CH01]09_20_00 (2).smi")).find("09_20_00 (2)."), std::string::npos);
}

TEST(NewFile, ALaterReportIsNamedByItsJobsStartAndReplacesNone) {
    testkit::TempDir dir;
    ExportReport report;
    std::string written, error;
    ASSERT_EQ(write_export_report(dir.path(), report, &error, {9, 5, 7}, &written), 0) << error;
    EXPECT_EQ(written, dir.file("export-report.json"));
    const std::string first = text_of(written);
    ASSERT_NE(first.find("\"files\""), std::string::npos);
    report.error = "second";
    ASSERT_EQ(write_export_report(dir.path(), report, &error, {9, 5, 7}, &written), 0) << error;
    EXPECT_EQ(written, dir.file("export-report-090507.json"));
    EXPECT_NE(text_of(written).find("\"error\": \"second\""), std::string::npos);
    report.error = "third";
    ASSERT_EQ(write_export_report(dir.path(), report, &error, {9, 5, 7}, &written), 0) << error;
    EXPECT_EQ(written, dir.file("export-report-090507 (2).json"));
    EXPECT_EQ(text_of(dir.file("export-report.json")), first);
    // Nothing is left beside them.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) entries += e.exists() ? 1 : 0;
    EXPECT_EQ(entries, 3);
    // A folder that is not there: an error, and no report claimed anywhere.
    EXPECT_EQ(write_export_report(dir.file("missing"), report, &error, {}, &written), -1);
    EXPECT_FALSE(error.empty());
}

}  // namespace
