// Every committed seed and every input a fuzzer once failed on, run through its target's
// harness under the sanitizers of the test build: a finding stays fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk/disk.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/recording_template.h"
#include "fuzz/harness/sparse_image.h"

namespace {

namespace fs = std::filesystem;
using Harness = int (*)(const uint8_t*, size_t);

std::vector<fs::path> inputs(const std::string& target, const char* kind) {
    std::vector<fs::path> files;
    const fs::path dir = fs::path(QUILLON_FUZZ_DIR) / kind / target;
    if (!fs::is_directory(dir)) return files;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void replay(const std::string& target, Harness run, size_t min_seeds) {
    const auto seeds = inputs(target, "seeds");
    EXPECT_GE(seeds.size(), min_seeds) << "seeds of " << target << " are missing";
    auto all = seeds;
    const auto found = inputs(target, "regressions");
    all.insert(all.end(), found.begin(), found.end());
    for (const fs::path& p : all) {
        SCOPED_TRACE(p.string());
        const std::vector<uint8_t> bytes = read_file(p);
        EXPECT_EQ(run(bytes.data(), bytes.size()), 0);
        // Twice: the harness leaves nothing behind that changes the next run.
        EXPECT_EQ(run(bytes.data(), bytes.size()), 0);
    }
}

TEST(FuzzReplay, DiskImage) { replay("disk_image", fuzz::disk_image, 3); }
TEST(FuzzReplay, Recording) { replay("recording", fuzz::recording, 3); }
TEST(FuzzReplay, ExportWriter) { replay("export_writer", fuzz::export_writer, 3); }

// The sparse format round-trips, holes read as zeros and reads stop at the end of the drive.
TEST(SparseImage, RoundTripAndReads) {
    fuzz::SparseImage image;
    image.total_sectors = 100;
    image.sectors[0].assign(512, 0x11);
    image.sectors[1].assign(512, 0x22);
    image.sectors[99].assign(512, 0x33);
    const std::vector<uint8_t> bytes = fuzz::encode_sparse_image(image);
    const fuzz::SparseImage back = fuzz::parse_sparse_image(bytes.data(), bytes.size());
    EXPECT_EQ(back.total_sectors, 100u);
    EXPECT_EQ(back.sectors, image.sectors);

    fuzz::MemoryDrive drive(std::make_shared<const fuzz::SparseImage>(back));
    std::vector<uint8_t> buf(2048, 0xEE);
    ASSERT_EQ(drive.read_at(256, buf.data(), 1024), 1024);
    EXPECT_EQ(buf[0], 0x11);
    EXPECT_EQ(buf[255], 0x11);
    EXPECT_EQ(buf[256], 0x22);
    EXPECT_EQ(buf[767], 0x22);
    EXPECT_EQ(buf[768], 0x00);  // sector 2 is a hole
    ASSERT_EQ(drive.read_at(99 * 512 + 500, buf.data(), 2048), 12);
    EXPECT_EQ(buf[11], 0x33);
    EXPECT_EQ(drive.read_at(100 * 512, buf.data(), 16), 0);
    platform::DriveGeometry g;
    ASSERT_EQ(drive.geometry(&g), 0);
    EXPECT_EQ(static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track, 100u);
}

// Sectors past the end are dropped; a run cut short by the input keeps what it carries.
TEST(SparseImage, CutRunsAndSectorsPastTheEnd) {
    std::vector<uint8_t> in = {4, 0, 0, 0, 0, 0, 0, 0};
    const auto run = [&](uint64_t first, uint16_t count) {
        for (int i = 0; i < 8; ++i) in.push_back(static_cast<uint8_t>(first >> (8 * i)));
        in.push_back(static_cast<uint8_t>(count));
        in.push_back(static_cast<uint8_t>(count >> 8));
    };
    run(3, 2);  // sector 4 lies past the end
    in.insert(in.end(), 1024, 0x7A);
    run(1, 500);  // cut short after 10 bytes
    in.insert(in.end(), 10, 0x5C);
    const fuzz::SparseImage image = fuzz::parse_sparse_image(in.data(), in.size());
    EXPECT_EQ(image.total_sectors, 4u);
    ASSERT_EQ(image.sectors.size(), 2u);
    EXPECT_EQ(image.sectors.at(3), std::vector<uint8_t>(512, 0x7A));
    std::vector<uint8_t> cut(512, 0);
    std::fill(cut.begin(), cut.begin() + 10, 0x5C);
    EXPECT_EQ(image.sectors.at(1), cut);
}

// The recording target is only worth running if the bytes it places are the bytes the channels
// of the mounted volume hold: video channel 1 (channel 3) and its audio channel (19).
TEST(RecordingTemplate, ChannelsReadBackThePlacedBytes) {
    const fuzz::RecordingTemplate& tpl = fuzz::recording_template();
    ASSERT_TRUE(tpl.ok);
    ASSERT_EQ(tpl.video.size() * 8, fuzz::kRecordingSeconds * fuzz::kVideoBytesPerSecond);
    std::vector<uint8_t> video(5000), audio(tpl.audio.size() * 8 + 100);
    for (size_t i = 0; i < video.size(); ++i) video[i] = static_cast<uint8_t>(i * 7 + 1);
    for (size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<uint8_t>(i * 13 + 5);
    auto image = std::make_shared<fuzz::SparseImage>(tpl.image);
    fuzz::place_channel_bytes(tpl.video, video.data(), video.size(), image.get());
    fuzz::place_channel_bytes(tpl.audio, audio.data(), audio.size(), image.get());

    fuzz::AttachedImage attached(image);
    ASSERT_TRUE(attached.ok());
    ASSERT_GT(backup_scan_disks(), 0);
    ASSERT_EQ(backup_mount_disk(backup_disk_table()), 0);
    ASSERT_EQ(backup_mount_session(backup_volume_records()), 0);
    const auto read_channel = [](int32_t channel) {
        std::vector<uint8_t> out(backup_channel_size(channel));
        const int32_t fd = backup_open(channel);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(backup_read(fd, out.data(), static_cast<int32_t>(out.size())),
                  static_cast<int32_t>(out.size()));
        backup_close(fd);
        return out;
    };
    const std::vector<uint8_t> got_video = read_channel(3);
    ASSERT_EQ(got_video.size(), tpl.video.size() * 8);
    // The input's bytes, then zeros where the input ended.
    EXPECT_TRUE(std::equal(video.begin(), video.end(), got_video.begin()));
    EXPECT_TRUE(std::all_of(got_video.begin() + static_cast<std::ptrdiff_t>(video.size()),
                            got_video.end(), [](uint8_t b) { return b == 0; }));
    // Bytes past the channel's size are left out.
    const std::vector<uint8_t> got_audio = read_channel(19);
    ASSERT_EQ(got_audio.size(), tpl.audio.size() * 8);
    EXPECT_TRUE(std::equal(got_audio.begin(), got_audio.end(), audio.begin()));
}

// A disk seed reaches what the target is for: a mounted session with channels to read.
TEST(DiskImageSeed, RecorderSeedMountsASession) {
    const auto seeds = inputs("disk_image", "seeds");
    const auto it = std::find_if(seeds.begin(), seeds.end(),
                                 [](const fs::path& p) { return p.filename() == "recorder.bin"; });
    ASSERT_NE(it, seeds.end());
    const std::vector<uint8_t> bytes = read_file(*it);
    fuzz::AttachedImage attached(
        std::make_shared<const fuzz::SparseImage>(fuzz::parse_sparse_image(bytes.data(), bytes.size())));
    ASSERT_TRUE(attached.ok());
    ASSERT_EQ(backup_scan_disks(), 1);
    EXPECT_EQ(backup_disk_table()->fs_type, static_cast<uint32_t>(FS_PSOS));
    ASSERT_EQ(backup_mount_disk(backup_disk_table()), 0);
    ASSERT_EQ(backup_volume_count(), 1);
    ASSERT_EQ(backup_mount_session(backup_volume_records()), 0);
    EXPECT_EQ(backup_channel_count(), 29);
    EXPECT_GT(backup_channel_size(3), 0u);
}

}  // namespace
