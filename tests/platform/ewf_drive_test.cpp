// E01 segment sets made here with ewfacquire: the whole media read back byte for byte, the
// acquisition metadata, and damaged sets failing the reads they spoil and only those.
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/container.h"
#include "platform/drive.h"
#include "tests/testkit/temp_image.h"
#include "tests/testkit/tool_run.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kMiB = 1u << 20;

// Half runs of one byte (they compress) and half noise (it does not): several chunks per segment.
Bytes media(size_t n) {
    std::mt19937 rng(21);
    Bytes b(n);
    for (size_t i = 0; i < n; i += 64) {
        const auto run = static_cast<uint8_t>(rng() % 4);
        for (size_t j = i; j < std::min(n, i + 32); ++j) b[j] = run;
        for (size_t j = i + 32; j < std::min(n, i + 64); ++j) b[j] = static_cast<uint8_t>(rng());
    }
    return b;
}

class EwfDriveTest : public ::testing::Test {
protected:
    void SetUp() override {
        whole_ = media(5 * kMiB + 4096);
        raw_ = dir_.file("media.raw");
        std::ofstream(raw_, std::ios::binary)
            .write(reinterpret_cast<const char*>(whole_.data()), static_cast<std::streamsize>(whole_.size()));
    }
    // Acquires the media into dir_/name.E01, .E02, ...; returns the segment names.
    std::vector<std::string> acquire(const std::string& name, const std::string& compression,
                                     int sector_bytes = 512) {
        const testkit::ToolRun r = testkit::run_tool(
            dir_, "ewfacquire -u -q -d sha1 -P " + std::to_string(sector_bytes) + " -c " +
                      compression + " -S 1048576 -C 'CASE 7' -D desc" +
                      " -e 'A. Examiner' -E EV-12 -N notes -t " + testkit::quoted(dir_.file(name)) +
                      " " + testkit::quoted(raw_));
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        return platform::container_files(dir_.file(name + ".E01"));
    }
    std::string tool_out(const std::string& command) {
        return testkit::run_tool(dir_, command).out;
    }
    // The read of [offset, offset + n): its result and whether its bytes match the media.
    int64_t read(platform::Drive& d, uint64_t offset, size_t n, bool* same) {
        Bytes got(n);
        const int64_t r = d.read_at(offset, got.data(), n);
        *same = r >= 0 && std::equal(got.begin(), got.begin() + r,
                                     whole_.begin() + static_cast<std::ptrdiff_t>(offset));
        return r;
    }
    testkit::TempDir dir_;
    Bytes whole_;
    std::string raw_;
};

TEST_F(EwfDriveTest, CompressedAndUncompressedSetsReadBackTheMediaAndItsMetadata) {
    const std::string md5 = tool_out("md5sum " + testkit::quoted(raw_)).substr(0, 32);
    const std::string sha1 = tool_out("sha1sum " + testkit::quoted(raw_)).substr(0, 40);
    for (const char* compression : {"deflate:fast", "none"}) {
        SCOPED_TRACE(compression);
        const std::string name = std::string("set-") + (compression[0] == 'n' ? "none" : "fast");
        const std::vector<std::string> segments = acquire(name, compression);
        ASSERT_GE(segments.size(), 3u);
        EXPECT_EQ(segments[0], dir_.file(name + ".E01"));
        EXPECT_EQ(segments[1], dir_.file(name + ".E02"));

        platform::ContainerInfo info;
        ASSERT_EQ(platform::describe_container(segments[0], &info), 0);
        EXPECT_EQ(info.kind, platform::ContainerKind::kEwf);
        EXPECT_EQ(std::string(platform::container_kind_name(info.kind)), "E01");
        EXPECT_EQ(info.files, segments);
        EXPECT_FALSE(info.incomplete);
        EXPECT_EQ(info.case_number, "CASE 7");
        EXPECT_EQ(info.evidence_number, "EV-12");
        EXPECT_EQ(info.examiner, "A. Examiner");
        EXPECT_EQ(info.md5, md5);
        EXPECT_EQ(info.sha1, sha1);
        EXPECT_EQ(info.acquisition_date.size(), 19u) << info.acquisition_date;

        auto drive = platform::open_drive(segments[0].c_str());
        ASSERT_NE(drive, nullptr);
        platform::DriveGeometry g;
        ASSERT_EQ(drive->geometry(&g), 0);
        EXPECT_EQ(uint64_t(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track,
                  whole_.size() / 512);
        bool same = false;
        EXPECT_EQ(read(*drive, 0, whole_.size(), &same), int64_t(whole_.size()));
        EXPECT_TRUE(same);
        std::mt19937 rng(4);
        for (int i = 0; i < 100; ++i) {
            const uint64_t offset = rng() % whole_.size();
            const size_t n = 1 + rng() % 200000;
            const int64_t want = int64_t(std::min<uint64_t>(n, whole_.size() - offset));
            ASSERT_EQ(read(*drive, offset, n, &same), want) << offset;
            EXPECT_TRUE(same) << offset;
        }
        EXPECT_EQ(read(*drive, whole_.size(), 512, &same), 0);
    }
}

// Which of the whole-MiB reads a damaged set fails: none of them may return wrong bytes.
std::vector<bool> failed_reads(platform::Drive& drive, const Bytes& whole) {
    std::vector<bool> failed;
    Bytes got(kMiB);
    for (uint64_t offset = 0; offset < whole.size(); offset += kMiB) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kMiB, whole.size() - offset));
        const int64_t r = drive.read_at(offset, got.data(), n);
        EXPECT_TRUE(r == -1 || r == int64_t(n)) << offset;
        if (r == int64_t(n)) {
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + r,
                                   whole.begin() + static_cast<std::ptrdiff_t>(offset)))
                << "wrong bytes handed out as good at " << offset;
        } else {
            EXPECT_FALSE(drive.error_detail().empty());
        }
        failed.push_back(r == -1);
    }
    return failed;
}

TEST_F(EwfDriveTest, AFlippedByteInACompressedChunkFailsThatReadAndNoOther) {
    // libewf counts bad chunks in the media's sectors, which need not be 512 bytes.
    for (int sector_bytes : {512, 4096}) {
        SCOPED_TRACE(sector_bytes);
        const auto segments = acquire("flip" + std::to_string(sector_bytes), "deflate:fast", sector_bytes);
        ASSERT_GE(segments.size(), 3u);
        {
            std::fstream f(segments[1], std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(500000);
            f.put('\x5A');
        }
        auto drive = platform::open_drive(segments[0].c_str());
        ASSERT_NE(drive, nullptr);
        const std::vector<bool> failed = failed_reads(*drive, whole_);
        EXPECT_EQ(std::count(failed.begin(), failed.end(), true), 1);
        EXPECT_FALSE(failed.front());
        // Read again, the bad chunk is still bad (libewf keeps it cached).
        const std::vector<bool> again = failed_reads(*drive, whole_);
        EXPECT_EQ(again, failed);
        EXPECT_NE(drive->error_detail().find("checksum"), std::string::npos) << drive->error_detail();
        // Small reads around the bad chunk: those inside it fail, the others do not.
        const size_t bad = static_cast<size_t>(std::find(failed.begin(), failed.end(), true) - failed.begin());
        int small_failed = 0;
        for (uint64_t offset = bad * kMiB; offset < (bad + 1) * kMiB; offset += 32 * 1024) {
            bool same = false;
            const int64_t r = read(*drive, offset, 32 * 1024, &same);
            EXPECT_TRUE(r == -1 || (r == 32 * 1024 && same)) << offset;
            small_failed += r == -1;
        }
        // A chunk is 64 sectors: the reads that fall in it, one more when it straddles two.
        const int chunk_reads = 64 * sector_bytes / (32 * 1024);
        EXPECT_GE(small_failed, chunk_reads);
        EXPECT_LE(small_failed, chunk_reads + 1);
    }
}

TEST_F(EwfDriveTest, AMissingMiddleOrTruncatedLastSegmentFailsTheReadsOfWhatIsLost) {
    auto segments = acquire("gap", "deflate:fast");
    ASSERT_GE(segments.size(), 3u);
    ASSERT_EQ(::unlink(segments[1].c_str()), 0);
    platform::ContainerInfo info;
    ASSERT_EQ(platform::describe_container(segments[0], &info), 0);
    EXPECT_TRUE(info.incomplete);
    auto gap = platform::open_drive(segments[0].c_str());
    ASSERT_NE(gap, nullptr);
    std::vector<bool> failed = failed_reads(*gap, whole_);
    EXPECT_FALSE(failed.front());
    EXPECT_TRUE(failed.back());

    segments = acquire("cut", "deflate:fast");
    ASSERT_EQ(::truncate(segments.back().c_str(), 4000), 0);
    ASSERT_EQ(platform::describe_container(segments[0], &info), 0);
    EXPECT_TRUE(info.incomplete);
    auto cut = platform::open_drive(segments[0].c_str());
    ASSERT_NE(cut, nullptr);
    failed = failed_reads(*cut, whole_);
    EXPECT_FALSE(failed.front());
    EXPECT_TRUE(failed.back());
}

// Sets the sectors per chunk of every volume and data section of a segment, with their checksums
// balanced so that libewf takes the value. Returns how many sections it changed.
int set_sectors_per_chunk(const std::string& path, uint32_t sectors) {
    std::vector<uint8_t> d = testkit::read_file(path);
    constexpr size_t kHeader = 76, kVolume = 1052;  // section header, volume data with its checksum
    int changed = 0;
    for (const char* name : {"volume", "data"}) {
        for (size_t at = 0; at + kHeader + kVolume <= d.size(); ++at) {
            if (std::memcmp(d.data() + at, name, std::strlen(name) + 1) != 0) continue;
            uint64_t size = 0;
            std::memcpy(&size, d.data() + at + 24, sizeof size);
            if (size != kHeader + kVolume) continue;
            uint8_t* v = d.data() + at + kHeader;
            std::memcpy(v + 8, &sectors, sizeof sectors);
            const uint32_t sum = static_cast<uint32_t>(adler32(1, v, kVolume - 4));
            std::memcpy(v + kVolume - 4, &sum, sizeof sum);
            ++changed;
        }
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
    return changed;
}

// A damaged header stating chunks of half a gigabyte: libewf would allocate that much for each
// chunk it reads; the set is refused instead, with the reason.
TEST_F(EwfDriveTest, ImpossibleChunkSizesDoNotOpen) {
    const auto segments = acquire("big", "deflate:fast");
    int changed = 0;
    for (const std::string& s : segments) changed += set_sectors_per_chunk(s, 1u << 20);
    ASSERT_EQ(changed, static_cast<int>(segments.size()));
    EXPECT_EQ(platform::open_drive(segments[0].c_str()), nullptr);
    std::string why;
    EXPECT_EQ(platform::check_container(segments[0], &why), -1);
    EXPECT_NE(why.find("chunks of 536870912 bytes"), std::string::npos) << why;

    // The largest chunk an acquisition writes still opens.
    const auto largest = acquire("largest", "deflate:fast", 4096);
    ASSERT_FALSE(largest.empty());
    for (const std::string& s : largest) set_sectors_per_chunk(s, 32768);
    EXPECT_EQ(platform::check_container(largest[0], &why), 0) << why;
}

// libewf keeps every segment open: a set of more segments than the soft limit on open files
// still opens, the limit raised towards the hard one.
TEST_F(EwfDriveTest, ASetOfMoreSegmentsThanTheSoftLimitOnOpenFilesOpens) {
    const auto segments = acquire("many", "none");
    ASSERT_GE(segments.size(), 5u);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit low = saved;
    low.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    auto drive = platform::open_drive(segments[0].c_str());
    struct rlimit after {};
    ::getrlimit(RLIMIT_NOFILE, &after);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    ASSERT_NE(drive, nullptr);
    EXPECT_GT(after.rlim_cur, 16u);
    bool same = false;
    EXPECT_EQ(read(*drive, 0, whole_.size(), &same), int64_t(whole_.size()));
    EXPECT_TRUE(same);
}

TEST_F(EwfDriveTest, ARawFileNamedLikeASegmentIsRaw) {
    const std::string fake = dir_.file("fake.E01");
    ASSERT_EQ(::link(raw_.c_str(), fake.c_str()), 0);
    EXPECT_EQ(platform::container_kind(fake), platform::ContainerKind::kRaw);
    auto drive = platform::open_drive(fake.c_str());
    ASSERT_NE(drive, nullptr);
    bool same = false;
    EXPECT_EQ(read(*drive, 0, 4096, &same), 4096);
    EXPECT_TRUE(same);
    // A file with the signature and nothing after it opens as nothing.
    const std::string stub = dir_.file("stub.E01");
    std::ofstream(stub, std::ios::binary).write("EVF\x09\x0d\x0a\xff\x00", 8);
    EXPECT_EQ(platform::open_drive(stub.c_str()), nullptr);
}

}  // namespace
