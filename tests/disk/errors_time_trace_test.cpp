// Error texts, type names, recorder time text, the trace and the word checksum.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "disk/disk.h"
#include "tests/testkit/stderr_capture.h"

namespace {

TEST(ErrorText, EveryCodeOfTheTableHasItsMessage) {
    const struct {
        int32_t code;
        const char* text;
    } table[] = {
        {-1, "No Buffer Memory Error"},
        {-2, "No Space Error"},
        {-3, "There is another Writer"},
        {-4, "DVR File System Internal Error"},
        {-5, "No Permission Error"},
        {-6, "No Index Error"},
        {-7, "Bad Descriptor Error"},
        {-8, "Call Would Block"},
        {-9, "DVRFS Need Recycle"},
        {-10, "Invalid Parameter Error"},
        {-11, "DVR is In use"},
        {-12, "No DVR File System"},
        {-13, "File System Broken"},
        {-14, "No Hard Disk"},
        {-15, "DVR File System need FSCK"},
        {-16, "DVR_FS Already Locked"},
        {-17, "DVRFS Met Disk Error"},
        {-18, "No DVR FS driver found"},
        {-19, "DVRFS Disk mounted"},
        {-20, "DVRFS Layout Version mismatch"},
        {-21, "Function not supported"},
        {-22, "Backup Disk/Session is not Mounted"},
        {-50, "Free Block Map Error"},
        {-51, "Check Sum Error"},
        {-52, "Data offset Error"},
        {-53, "Channel Number mismatch"},
        {-54, "CD-Write file open error"},
        {-55, "No CD-Media"},
        {-56, "not proper CD-Media"},
        {-57, "CD record failed"},
        {-58, "No Backup Data"},
        {-59, "No such channel found"},
    };
    for (const auto& e : table) EXPECT_STREQ(dvrfs_strerror(e.code), e.text) << e.code;
    EXPECT_EQ(DVR_ENEED_FSCK, -15);
}

TEST(ErrorText, UnknownCodesNameTheirNumber) {
    for (int32_t code : {0, -23, -49, 7, -60, INT32_MIN}) {
        const std::string expected =
            "Unknown Error -> Register it !!! (" + std::to_string(code) + ")";
        EXPECT_EQ(dvrfs_strerror(code), expected);
    }
}

TEST(FsTypeName, NamesOfTheTypeCodes) {
    const char* names[] = {"NONE",  "OTHER", "MS",       "LINUX",    "DVR20",
                           "DVR30", "PSOS",  "BACKUP10", "BACKUP20", "WHOLE"};
    for (uint32_t code = 0; code < 10; ++code) EXPECT_STREQ(fs_type_name(code), names[code]);
    for (uint32_t code : {10u, 255u, 0xFFFFFFFFu}) EXPECT_STREQ(fs_type_name(code), "WHAT?");
}

// --- Recorder time text ---------------------------------------------------------------------

struct TimeCase {
    uint32_t time;
    const char* long_form;
    const char* short_form;
};

// Expected texts are calendar facts (UTC breakdown), not outputs of the code under test.
constexpr TimeCase kTimes[] = {
    {86399, "1970/01/01-23:59:59", "700101:235959"},
    {86400, "1970/01/02-00:00:00", "700102:000000"},
    {951782399, "2000/02/28-23:59:59", "000228:235959"},
    {951782400, "2000/02/29-00:00:00", "000229:000000"},  // 2000 is a leap year
    {1709210096, "2024/02/29-12:34:56", "240229:123456"},
    {4107542399, "2100/02/28-23:59:59", "000228:235959"},
    {4107542400, "2100/03/01-00:00:00", "000301:000000"},  // 2100 is not
    {0x7FFFFFFF, "2038/01/19-03:14:07", "380119:031407"},
    {0x80000000, "2038/01/19-03:14:08", "380119:031408"},  // past the signed 32-bit range
    {0xFFFFFFFF, "2106/02/07-06:28:15", "060207:062815"},
};

TEST(TimeString, ZeroIsNullInBothForms) {
    EXPECT_STREQ(dvrfs_time_string(0, 0), "NULL");
    EXPECT_STREQ(dvrfs_time_string(0, 1), "NULL");
}

TEST(TimeString, CalendarFieldsAcrossLeapDaysAnd2038) {
    for (const TimeCase& c : kTimes) {
        EXPECT_STREQ(dvrfs_time_string(c.time, 0), c.long_form) << c.time;
        EXPECT_STREQ(dvrfs_time_string(c.time, 1), c.short_form) << c.time;
    }
}

TEST(TimeString, NoTimeZoneShiftsTheText) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    for (const char* tz :
         {"Pacific/Kiritimati", "America/St_Johns", "<+14>-14", "NST3:30NDT,M3.2.0,M11.1.0"}) {
        setenv("TZ", tz, 1);
        tzset();
        for (const TimeCase& c : kTimes) {
            EXPECT_STREQ(dvrfs_time_string(c.time, 0), c.long_form) << tz << " " << c.time;
        }
    }
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(TimeString, RingOfEightKeepsEightResults) {
    const char* first = dvrfs_time_string(86400, 0);
    const char* results[9] = {first};
    for (uint32_t i = 1; i < 8; ++i) results[i] = dvrfs_time_string(86400 * (i + 1), 0);
    for (int i = 0; i < 8; ++i) {
        for (int j = i + 1; j < 8; ++j) EXPECT_NE(results[i], results[j]);
    }
    EXPECT_STREQ(first, "1970/01/02-00:00:00");  // still intact after seven further calls
    results[8] = dvrfs_time_string(86399, 1);
    EXPECT_EQ(results[8], first);  // the ninth call reuses the first buffer
    EXPECT_STREQ(results[8], "700101:235959");
    for (uint32_t i = 1; i < 8; ++i) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "1970/01/%02u-00:00:00", i + 2);
        EXPECT_STREQ(results[i], expected);
    }
}

// --- Trace ----------------------------------------------------------------------------------

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { dvrfs_set_trace(false); }
    void TearDown() override { dvrfs_set_trace(false); }
};

TEST_F(TraceTest, OffWritesNothing) {
    testkit::StderrCapture capture;
    dvrfs_trace("Disk Access\n");
    dvrfs_trace("%d: Drive '%s' Open !\n", 3, "/dev/null");
    EXPECT_EQ(capture.text(), "");
}

TEST_F(TraceTest, OnWritesClockAndMessageWithoutAddingALineBreak) {
    dvrfs_set_trace(true);
    testkit::StderrCapture capture;
    dvrfs_trace("Super Block Checksum");
    const std::string one = capture.text();
    EXPECT_TRUE(std::regex_match(one, std::regex("([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] "
                                                 "Super Block Checksum")))
        << one;
    dvrfs_trace("%d: Drive '%s' Open !\n", 7, "img");
    const std::string two = capture.text().substr(one.size());
    EXPECT_TRUE(
        std::regex_match(two, std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2} 7: Drive 'img' Open !\n")))
        << two;
}

TEST_F(TraceTest, OverlongMessageIsCutNotOverflowed) {
    dvrfs_set_trace(true);
    const std::string huge(4000, 'x');
    testkit::StderrCapture capture;
    dvrfs_trace("%s%s", huge.c_str(), "END");
    const std::string out = capture.text();
    ASSERT_GT(out.size(), 9u);
    EXPECT_LT(out.size(), 512u);
    EXPECT_EQ(out.find("END"), std::string::npos);
    EXPECT_EQ(out.find_first_not_of('x', 9), std::string::npos) << "only the message is cut";
}

// --- Word checksum --------------------------------------------------------------------------

TEST(Checksum, FewerThanFourBytesGiveZero) {
    const uint8_t bytes[3] = {0x12, 0x34, 0x56};
    for (uint32_t n = 0; n < 4; ++n) EXPECT_EQ(dvrfs_checksum(bytes, n), 0u) << n;
}

TEST(Checksum, WordsAreLittleEndianAndTheTailIsIgnored) {
    const uint8_t bytes[7] = {0x01, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0xCC};
    EXPECT_EQ(dvrfs_checksum(bytes, 4), 0xFFFFFFFFu);
    EXPECT_EQ(dvrfs_checksum(bytes, 7), 0xFFFFFFFFu);
    const uint8_t high[4] = {0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(dvrfs_checksum(high, 4), 0xFF000000u);
}

TEST(Checksum, StoredValueMakesTheStructureSumToZero) {
    // 34 words at an odd address, as a super block copied out of a sector might lie.
    alignas(4) uint8_t buffer[1 + 136] = {};
    uint8_t* sb = buffer + 1;
    uint32_t expected_sum = 0;
    for (uint32_t w = 0; w < 33; ++w) {
        const uint32_t value = 0x9E3779B9u * (w + 1);
        std::memcpy(sb + 4 * w, &value, 4);
        expected_sum += value;
    }
    const uint32_t c = dvrfs_checksum(sb, 136);
    EXPECT_EQ(c + expected_sum, 0u);
    std::memcpy(sb + 132, &c, 4);
    EXPECT_EQ(dvrfs_checksum(sb, 136), 0u);
    sb[17] ^= 0x40;
    EXPECT_NE(dvrfs_checksum(sb, 136), 0u);
}

}  // namespace
