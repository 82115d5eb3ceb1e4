// Split raw images: the names of the pieces, and every read through the pieces against the same
// bytes read from one file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/container.h"
#include "platform/drive.h"
#include "platform/split_raw.h"
#include "tests/testkit/temp_image.h"

namespace {

using Bytes = std::vector<uint8_t>;

void write_file(const std::string& path, const uint8_t* data, size_t n) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
    ASSERT_TRUE(out.good()) << path;
}

Bytes pattern(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

// Writes whole cut at the given piece sizes as stem.001, stem.002, ...; returns the names.
std::vector<std::string> write_pieces(const testkit::TempDir& dir, const std::string& stem,
                                      const Bytes& whole, const std::vector<size_t>& sizes) {
    std::vector<std::string> names;
    size_t at = 0;
    for (size_t i = 0; i < sizes.size(); ++i) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%03zu", i + 1);
        names.push_back(dir.file(stem + suffix));
        write_file(names.back(), whole.data() + at, sizes[i]);
        at += sizes[i];
    }
    EXPECT_EQ(at, whole.size());
    return names;
}

// Every read of the drive at the offsets and lengths given equals the same bytes of whole.
void expect_reads_match(platform::Drive& drive, const Bytes& whole,
                        const std::vector<std::pair<uint64_t, size_t>>& reads) {
    for (const auto& [offset, n] : reads) {
        Bytes got(n, 0xEE);
        const int64_t r = drive.read_at(offset, got.data(), n);
        const size_t want = offset >= whole.size() ? 0 : std::min<size_t>(n, whole.size() - offset);
        ASSERT_EQ(r, static_cast<int64_t>(want)) << "offset " << offset << " length " << n;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(want),
                               whole.begin() + static_cast<std::ptrdiff_t>(offset)))
            << "offset " << offset << " length " << n;
    }
}

TEST(SplitRawNames, FirstPieceAndItsSuccessorsUntilTheFirstGap) {
    testkit::TempDir dir;
    const Bytes b = pattern(10, 1);
    for (const char* name : {"disk.001", "disk.002", "disk.003", "disk.005"}) {
        write_file(dir.file(name), b.data(), b.size());
    }
    EXPECT_EQ(platform::split_raw_pieces(dir.file("disk.001")),
              (std::vector<std::string>{dir.file("disk.001"), dir.file("disk.002"),
                                        dir.file("disk.003")}));
    // disk.004 is missing while disk.005 is there: no shorter disk that looks whole.
    EXPECT_EQ(platform::split_raw_gap(dir.file("disk.001")), dir.file("disk.004"));
    EXPECT_EQ(platform::open_drive(dir.file("disk.001").c_str()), nullptr);
    std::string why;
    EXPECT_EQ(platform::check_container(dir.file("disk.001"), &why), -1);
    EXPECT_NE(why.find(dir.file("disk.004") + " is missing"), std::string::npos) << why;
    write_file(dir.file("disk.004"), b.data(), b.size());
    EXPECT_EQ(platform::split_raw_gap(dir.file("disk.001")), "");
    EXPECT_EQ(platform::split_raw_pieces(dir.file("disk.001")).size(), 5u);
    EXPECT_NE(platform::open_drive(dir.file("disk.001").c_str()), nullptr);
    ASSERT_EQ(::unlink(dir.file("disk.004").c_str()), 0);
    // Only a first piece starts a set; a later piece alone is a raw image.
    EXPECT_TRUE(platform::split_raw_pieces(dir.file("disk.002")).empty());
    EXPECT_EQ(platform::container_kind(dir.file("disk.002")), platform::ContainerKind::kRaw);
    EXPECT_EQ(platform::container_kind(dir.file("disk.001")), platform::ContainerKind::kSplitRaw);

    // A first piece without a second is an ordinary image.
    write_file(dir.file("lone.001"), b.data(), b.size());
    EXPECT_TRUE(platform::split_raw_pieces(dir.file("lone.001")).empty());
    EXPECT_EQ(platform::container_files(dir.file("lone.001")),
              std::vector<std::string>{dir.file("lone.001")});

    // Four-digit numbering keeps its width; too few digits or a dot in the folder are no pieces.
    write_file(dir.file("wide.0001"), b.data(), b.size());
    write_file(dir.file("wide.0002"), b.data(), b.size());
    EXPECT_EQ(platform::split_raw_pieces(dir.file("wide.0001")).size(), 2u);
    write_file(dir.file("short.01"), b.data(), b.size());
    write_file(dir.file("short.02"), b.data(), b.size());
    EXPECT_TRUE(platform::split_raw_pieces(dir.file("short.01")).empty());
    EXPECT_TRUE(platform::split_raw_pieces(dir.path() + "/x.001/").empty());
}

TEST(SplitRawPlan, ReadsSpanningEmptyAndUnequalPiecesAreCutAtTheBoundaries) {
    const std::vector<uint64_t> sizes = {512, 0, 1000, 1, 0, 3000};
    std::vector<uint64_t> starts;
    uint64_t total = 0;
    ASSERT_TRUE(platform::piece_starts(sizes, &starts, &total));
    EXPECT_EQ(total, 4513u);
    const auto plan = platform::plan_piece_reads(starts, sizes, 500, 1020);
    ASSERT_EQ(plan.size(), 4u);
    EXPECT_EQ(plan[0].piece, 0u);
    EXPECT_EQ(plan[0].offset, 500u);
    EXPECT_EQ(plan[0].length, 12u);
    EXPECT_EQ(plan[1].piece, 2u);  // the empty piece 1 takes no part
    EXPECT_EQ(plan[1].offset, 0u);
    EXPECT_EQ(plan[1].length, 1000u);
    EXPECT_EQ(plan[1].buffer_offset, 12u);
    EXPECT_EQ(plan[2].piece, 3u);
    EXPECT_EQ(plan[2].length, 1u);
    EXPECT_EQ(plan[3].piece, 5u);
    EXPECT_EQ(plan[3].length, 7u);
    EXPECT_EQ(plan[3].buffer_offset, 1013u);
    // At and past the end there is nothing to read; a read is cut at the end.
    EXPECT_TRUE(platform::plan_piece_reads(starts, sizes, total, 10).empty());
    EXPECT_TRUE(platform::plan_piece_reads(starts, sizes, UINT64_MAX, 10).empty());
    const auto tail = platform::plan_piece_reads(starts, sizes, total - 3, 100);
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_EQ(tail[0].length, 3u);
    // Sizes that add up past any byte offset are refused.
    EXPECT_FALSE(platform::piece_starts({UINT64_MAX / 2, UINT64_MAX / 2, 10}, &starts, &total));
}

TEST(SplitRawDrive, EveryReadMatchesTheSingleImageWhateverTheCuts) {
    testkit::TempDir dir;
    const Bytes whole = pattern(70001, 7);
    // Cuts that are no multiple of a sector, one piece shorter than a sector, the last shorter.
    const std::vector<size_t> sizes = {20000, 333, 1, 24999, 20000, 4668};
    const auto names = write_pieces(dir, "disk", whole, sizes);
    auto drive = platform::open_drive(names[0].c_str());
    ASSERT_NE(drive, nullptr);
    platform::DriveGeometry g;
    ASSERT_EQ(drive->geometry(&g), 0);
    EXPECT_EQ(uint64_t(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track, whole.size() / 512);

    std::vector<std::pair<uint64_t, size_t>> reads = {
        {0, 512}, {19999, 2}, {19990, 400}, {20332, 2}, {20333, 1}, {0, whole.size()},
        {69990, 100}, {70000, 1}, {70001, 10}, {1u << 30, 512}};
    std::mt19937 rng(3);
    for (int i = 0; i < 300; ++i) {
        reads.push_back({rng() % whole.size(), 1 + rng() % 30000});
    }
    expect_reads_match(*drive, whole, reads);
}

TEST(SplitRawDrive, ManyMorePiecesThanItKeepsOpen) {
    testkit::TempDir dir;
    const Bytes whole = pattern(100 * 97, 9);
    const auto names = write_pieces(dir, "many", whole, std::vector<size_t>(100, 97));
    ASSERT_EQ(platform::container_files(names[0]), names);
    auto drive = platform::open_drive(names[0].c_str());
    ASSERT_NE(drive, nullptr);
    std::vector<std::pair<uint64_t, size_t>> reads;
    std::mt19937 rng(5);
    for (int i = 0; i < 400; ++i) reads.push_back({rng() % whole.size(), 1 + rng() % 500});
    expect_reads_match(*drive, whole, reads);
}

TEST(SplitRawDrive, APieceCutShortOrGoneAfterOpeningIsAReadErrorNamingIt) {
    testkit::TempDir dir;
    const Bytes whole = pattern(3000, 11);
    const auto names = write_pieces(dir, "cut", whole, {1000, 1000, 1000});
    auto drive = platform::open_drive(names[0].c_str());
    ASSERT_NE(drive, nullptr);
    ASSERT_EQ(::truncate(names[1].c_str(), 600), 0);
    Bytes buf(1000);
    // Bytes before the cut stand; a read that needs the lost ones falls short.
    EXPECT_EQ(drive->read_at(900, buf.data(), 1000), 700);
    EXPECT_NE(drive->error_detail().find(names[1]), std::string::npos) << drive->error_detail();
    EXPECT_EQ(drive->read_at(1700, buf.data(), 10), -1);
    EXPECT_EQ(drive->read_at(2000, buf.data(), 1000), 1000);  // the third piece is whole
    // A piece that cannot be opened at all refuses the whole image.
    ASSERT_EQ(::chmod(names[2].c_str(), 0), 0);
    if (::access(names[2].c_str(), R_OK) != 0) {  // root reads anything
        EXPECT_EQ(platform::open_drive(names[0].c_str()), nullptr);
    }
}

}  // namespace
