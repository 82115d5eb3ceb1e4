// Every committed seed and every input a fuzzer once failed on, run through its target's
// harness under the sanitizers of the test build: a finding stays fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "disk/disk.h"
#include "fuzz/harness/checksum_repair.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/recording_template.h"
#include "fuzz/harness/sparse_image.h"
#include "recover/carver_block.h"
#include "recover/carver_keyframe.h"
#include "tools/sample/sample.h"

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
TEST(FuzzReplay, StillCapture) { replay("still_capture", fuzz::still_capture, 6); }
TEST(FuzzReplay, DisplayFrames) { replay("display_frames", fuzz::display_frames, 3); }
TEST(FuzzReplay, SplitRaw) { replay("split_raw", fuzz::split_raw, 3); }
TEST(FuzzReplay, EwfImage) { replay("ewf_image", fuzz::ewf_image, 3); }
TEST(FuzzReplay, Carver) { replay("carver", fuzz::carver, 3); }

// The sparse format round-trips, holes read as zeros and reads stop at the end of the drive.
TEST(SparseImage, RoundTripAndReads) {
    fuzz::SparseImage image;
    image.total_sectors = 100;
    image.sectors[0].assign(512, 0x11);
    image.sectors[1].assign(512, 0x22);
    image.sectors[99].assign(512, 0x33);
    image.flags = 0x81;
    const std::vector<uint8_t> bytes = fuzz::encode_sparse_image(image);
    ASSERT_TRUE(fuzz::is_sparse_input(bytes.data(), bytes.size()));
    const fuzz::SparseImage back = fuzz::parse_sparse_image(bytes.data(), bytes.size());
    EXPECT_EQ(back.total_sectors, 100u);
    EXPECT_EQ(back.flags, 0x81);
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
    std::vector<uint8_t> in(fuzz::kSparseMagic, fuzz::kSparseMagic + sizeof fuzz::kSparseMagic);
    in.push_back(fuzz::kRepairChecksums);
    for (const int b : {4, 0, 0, 0, 0, 0, 0, 0}) in.push_back(static_cast<uint8_t>(b));
    const auto run = [&](uint64_t first, uint16_t count) {
        for (int i = 0; i < 8; ++i) in.push_back(static_cast<uint8_t>(first >> (8 * i)));
        in.push_back(static_cast<uint8_t>(count));
        in.push_back(static_cast<uint8_t>(count >> 8));
    };
    run(3, 2);  // sector 4 lies past the end
    in.insert(in.end(), 1024, 0x7A);
    run(1, 500);  // cut short after 10 bytes
    in.insert(in.end(), 10, 0x5C);
    ASSERT_TRUE(fuzz::is_sparse_input(in.data(), in.size()));
    const fuzz::SparseImage image = fuzz::parse_sparse_image(in.data(), in.size());
    EXPECT_EQ(image.flags, fuzz::kRepairChecksums);
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

// The carver seeds reach what the target is for: whole records found, decoys and cuts counted.
TEST(CarverSeed, SeedsHoldRecordsTheParserFinds) {
    const auto seeds = inputs("carver", "seeds");
    const auto find = [&](const char* name) {
        const auto it = std::find_if(seeds.begin(), seeds.end(),
                                     [&](const fs::path& p) { return p.filename() == name; });
        EXPECT_NE(it, seeds.end()) << name;
        const std::vector<uint8_t> bytes = it == seeds.end() ? std::vector<uint8_t>{} : read_file(*it);
        recover::DecoderKeyFrameCheck key;
        recover::BlockFindings found;
        if (bytes.size() > 4) {
            const size_t begin = size_t{bytes[0]} | size_t{bytes[1]} << 8;
            const size_t cut = size_t{bytes[2]} | size_t{bytes[3]} << 8;
            recover::scan_block(bytes.data() + 4, begin, bytes.size() - 4 - cut, key, &found);
        }
        return found;
    };
    const recover::BlockFindings run = find("run_and_audio.bin");
    ASSERT_EQ(run.runs.size(), 1u);
    EXPECT_EQ(run.runs[0].gops.size(), 3u);
    EXPECT_EQ(run.audio.size(), 1u);
    const recover::BlockFindings decoys = find("decoys_and_cut.bin");
    ASSERT_EQ(decoys.runs.size(), 1u);
    EXPECT_EQ(decoys.runs[0].gops.size(), 1u);
    EXPECT_EQ(decoys.cut_records, 1u);
    const recover::BlockFindings behind = find("begin_behind_a_record.bin");
    ASSERT_EQ(behind.runs.size(), 1u);
    EXPECT_EQ(behind.runs[0].key.codec, "mpeg4");
    EXPECT_EQ(behind.runs[0].gops.size(), 2u);
}

// --- Raw inputs and the checksum repair, on images of the sample builder ----------------------

struct BuiltImage {
    std::vector<uint8_t> raw;  // the whole disk
    fuzz::SparseImage sparse;
};

// The builder's disk as sparse sectors, and with `raw` as the whole disk's bytes too.
BuiltImage build(const sample::DiskSpec& spec, bool raw) {
    BuiltImage out;
    const fs::path tmp =
        fs::temp_directory_path() / ("quillon-replay-" + std::to_string(::getpid()) + ".img");
    std::string error;
    sample::ImageSummary summary;
    EXPECT_EQ(sample::write_image(tmp.string(), spec, &summary, &error), 0) << error;
    if (raw) out.raw = read_file(tmp);
    EXPECT_TRUE(fuzz::load_image_file(tmp.string(), &out.sparse));
    fs::remove(tmp);
    return out;
}

std::vector<uint8_t> channel_bytes(uint32_t seed, size_t n) {
    std::vector<uint8_t> b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 31 + seed) % 251 + 1);
    return b;
}

sample::VolumeContent content(uint32_t start) {
    sample::VolumeContent c;
    sample::ChannelData v{.channel = 3};
    for (uint32_t s = 0; s < 8; ++s) v.writes.push_back({start + s * 15, channel_bytes(s, 1500)});
    c.channels.push_back(std::move(v));
    return c;
}

// A bare recorder disk of 2 MiB, small enough to be given raw.
sample::DiskSpec small_recorder() {
    sample::DiskSpec d;
    d.total_sectors = 4096;
    d.bare.kind = sample::AreaKind::Recorder;
    d.bare.recorder.block_size = 4096;
    d.bare.recorder.map_sectors_per_channel = 1;
    d.bare.recorder.content = content(sample::kDefaultTime);
    return d;
}

// A recorder partition and a backup partition with sessions in slots 0 and 2.
sample::DiskSpec two_partitions() {
    sample::DiskSpec d;
    d.total_sectors = 12u << 20;
    d.layout = sample::DiskLayout::Partitioned;
    sample::AreaSpec recorder = small_recorder().bare;
    sample::AreaSpec backup;
    backup.kind = sample::AreaKind::Backup;
    backup.backup.slot_count = 4;
    backup.backup.block_size = 4096;
    for (uint32_t slot : {0u, 2u}) {
        sample::SessionSpec s;
        s.slot = slot;
        s.created = sample::kDefaultTime + slot;
        s.content = content(sample::kDefaultTime - 86400);
        backup.backup.sessions.push_back(std::move(s));
    }
    d.partitions = {{.type_byte = kPartTypeRecorder, .count = 1u << 20, .area = recorder},
                    {.type_byte = kPartTypeBackup, .count = 8u << 20, .area = backup}};
    return d;
}

uint64_t fnv(const uint8_t* p, size_t n) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// What the disk layer makes of the attached image: the scan's table, every row's mount and
// volume records, and of every session that mounts its channel sizes and a hash of each
// channel's first 64 KiB. `sessions` counts the sessions that mounted.
std::vector<uint64_t> what_mounts(int* sessions) {
    std::vector<uint64_t> seen;
    *sessions = 0;
    const int32_t rows = backup_scan_disks();
    seen.push_back(static_cast<uint64_t>(rows));
    std::vector<uint8_t> buf(64 * 1024);
    for (int32_t r = 0; r < rows; ++r) {
        const DiskEntry& e = backup_disk_table()[r];
        seen.insert(seen.end(), {e.fs_type, e.partition, e.start_sector, e.sector_count});
        const int32_t rc = backup_mount_disk(&e);
        seen.push_back(static_cast<uint64_t>(rc));
        if (rc != 0) continue;
        for (int32_t v = 0; v < backup_volume_count(); ++v) {
            const VolumeRecord& rec = backup_volume_records()[v];
            seen.insert(seen.end(), {rec.created, rec.oldest, rec.newest, rec.channel_count});
            const int32_t mrc = backup_mount_session(&rec);
            seen.push_back(static_cast<uint64_t>(mrc));
            if (mrc != 0) continue;
            ++*sessions;
            for (int32_t c = 0; c < backup_channel_count(); ++c) {
                seen.push_back(backup_channel_size(c));
                const int32_t fd = backup_open(c);
                const int32_t n =
                    fd < 0 ? fd : backup_read(fd, buf.data(), static_cast<int32_t>(buf.size()));
                if (fd >= 0) backup_close(fd);
                seen.push_back(n > 0 ? fnv(buf.data(), static_cast<size_t>(n))
                                     : static_cast<uint64_t>(n));
            }
            backup_unmount_session();
        }
        backup_unmount_disk();
    }
    return seen;
}

std::vector<uint64_t> what_mounts(const fuzz::SparseImage& image, int* sessions) {
    fuzz::AttachedImage attached(std::make_shared<const fuzz::SparseImage>(image));
    EXPECT_TRUE(attached.ok());
    return what_mounts(sessions);
}

// The bytes of an input are the disk; the tail of the last sector past them reads as zeros.
TEST(RawImage, ReadsTheInputAndPadsTheLastSector) {
    const std::vector<uint8_t> bytes = channel_bytes(9, 1300);
    ASSERT_FALSE(fuzz::is_sparse_input(bytes.data(), bytes.size()));
    fuzz::MemoryDrive drive(fuzz::RawImage{bytes.data(), bytes.size()});
    platform::DriveGeometry g;
    ASSERT_EQ(drive.geometry(&g), 0);
    EXPECT_EQ(static_cast<uint64_t>(g.cylinders) * g.tracks_per_cylinder * g.sectors_per_track, 3u);
    std::vector<uint8_t> buf(2048, 0xEE);
    ASSERT_EQ(drive.read_at(1000, buf.data(), 1000), 536);  // up to the end of sector 2
    EXPECT_TRUE(std::equal(bytes.begin() + 1000, bytes.end(), buf.begin()));
    EXPECT_TRUE(
        std::all_of(buf.begin() + 300, buf.begin() + 536, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(buf[536], 0xEE);
    EXPECT_EQ(drive.read_at(1536, buf.data(), 1), 0);
}

// A builder image given raw mounts exactly as its sparse encoding does, and so does a raw image
// cut inside its last sector, which keeps its whole size.
TEST(RawImage, MountsAsItsSparseEncoding) {
    const BuiltImage img = build(small_recorder(), true);
    const std::vector<uint8_t> encoded = fuzz::encode_sparse_image(img.sparse);
    int sparse_sessions = 0, raw_sessions = 0, cut_sessions = 0;
    const auto sparse_seen =
        what_mounts(fuzz::parse_sparse_image(encoded.data(), encoded.size()), &sparse_sessions);
    ASSERT_EQ(img.raw.size(), 4096u * 512);
    std::vector<uint64_t> raw_seen, cut_seen;
    {
        fuzz::AttachedImage attached(fuzz::RawImage{img.raw.data(), img.raw.size()});
        ASSERT_TRUE(attached.ok());
        raw_seen = what_mounts(&raw_sessions);
        // The channel's bytes come through.
        ASSERT_EQ(backup_scan_disks(), 1);
        ASSERT_EQ(backup_mount_disk(backup_disk_table()), 0);
        ASSERT_EQ(backup_mount_session(backup_volume_records()), 0);
        std::vector<uint8_t> got(1500);
        const int32_t fd = backup_open(3);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(backup_read(fd, got.data(), 1500), 1500);
        backup_close(fd);
        EXPECT_EQ(got, channel_bytes(0, 1500));
        backup_unmount_session();
        backup_unmount_disk();
    }
    EXPECT_EQ(raw_seen, sparse_seen);
    EXPECT_EQ(raw_sessions, sparse_sessions);
    EXPECT_EQ(raw_sessions, 1);

    ASSERT_TRUE(std::all_of(img.raw.end() - 100, img.raw.end(), [](uint8_t b) { return b == 0; }));
    {
        fuzz::AttachedImage attached(fuzz::RawImage{img.raw.data(), img.raw.size() - 100});
        ASSERT_TRUE(attached.ok());
        cut_seen = what_mounts(&cut_sessions);
    }
    EXPECT_EQ(cut_seen, raw_seen);
}

// A checksum the builder broke on purpose: the scan refuses the volume until the repair
// balances it, and the repair touches nothing but the balance word.
TEST(ChecksumRepair, RecorderSuperBlock) {
    sample::DiskSpec spec = small_recorder();
    spec.bare.recorder.damage.checksum = true;
    const fuzz::SparseImage torn = build(spec, false).sparse;
    int sessions = 0;
    what_mounts(torn, &sessions);
    EXPECT_EQ(sessions, 0);

    fuzz::SparseImage fixed = torn;
    EXPECT_EQ(fuzz::repair_checksums(&fixed), 1);
    EXPECT_EQ(fuzz::repair_checksums(&fixed), 0);  // balanced stays balanced
    what_mounts(fixed, &sessions);
    EXPECT_EQ(sessions, 1);

    ASSERT_EQ(fixed.sectors.size(), torn.sectors.size());
    int differing = 0;
    for (const auto& [sector, bytes] : fixed.sectors) {
        const std::vector<uint8_t>& before = torn.sectors.at(sector);
        if (bytes == before) continue;
        ++differing;
        EXPECT_EQ(sector, 2048u);  // the middle of the disk
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 132, before.begin()));
        EXPECT_TRUE(std::equal(bytes.begin() + 136, bytes.end(), before.begin() + 136));
    }
    EXPECT_EQ(differing, 1);
}

// The backup super block and a session header of the backup partition; the recorder partition
// before it is intact and stays so.
TEST(ChecksumRepair, BackupSuperBlockAndSessionHeader) {
    const fuzz::SparseImage intact = build(two_partitions(), false).sparse;
    int intact_sessions = 0;
    const auto intact_seen = what_mounts(intact, &intact_sessions);
    EXPECT_EQ(intact_sessions, 3);
    fuzz::SparseImage untouched = intact;
    EXPECT_EQ(fuzz::repair_checksums(&untouched), 0);
    EXPECT_EQ(untouched.sectors, intact.sectors);

    // A torn session header alone: the disk mounts, that session does not.
    sample::DiskSpec spec = two_partitions();
    spec.partitions[1].area.backup.sessions[1].bad_checksum = true;
    const fuzz::SparseImage torn_session = build(spec, false).sparse;
    int sessions = 0;
    what_mounts(torn_session, &sessions);
    EXPECT_EQ(sessions, 2);

    spec.partitions[1].area.backup.damage.checksum = true;
    const fuzz::SparseImage torn = build(spec, false).sparse;
    what_mounts(torn, &sessions);
    EXPECT_EQ(sessions, 1);  // only the recorder volume

    fuzz::SparseImage fixed = torn;
    EXPECT_EQ(fuzz::repair_checksums(&fixed), 2);
    const auto fixed_seen = what_mounts(fixed, &sessions);
    EXPECT_EQ(sessions, 3);
    EXPECT_EQ(fixed_seen, intact_seen);
}

}  // namespace
