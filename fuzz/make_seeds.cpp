// Writes the seed corpora of the fuzz targets into fuzz/seeds/<target>/ from the sample
// builder: small recorder and backup disks as sparse images (one small disk raw), recordings of
// GOP and audio records, and export inputs. Run again after a change of the formats:
//   quillon-fuzz-seeds fuzz/seeds
// It also turns any disk image file into a sparse input of the disk_image target (its non-zero
// sectors; --repair sets the flag that balances checksums):
//   quillon-fuzz-seeds --convert [--repair] IMAGE OUTPUT
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk/format.h"
#include "fuzz/harness/recording_template.h"
#include "fuzz/harness/sparse_image.h"
#include "storage/api.h"
#include "tests/testkit/bmp_builder.h"
#include "tools/sample/log_records.h"
#include "tools/sample/sample.h"
#include "tools/sample/stream_records.h"
#include "tools/sample/test_pattern.h"
#include "tools/sample/video_encoder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kT0 = fuzz::kRecordingStart;

bool save(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::printf("%-48s %7zu bytes\n", path.string().c_str(), bytes.size());
    return static_cast<bool>(out);
}

// --- Stream records ------------------------------------------------------------------------

Bytes gop(uint32_t time, uint32_t ms, int frames, uint32_t previous, sample::RecordDamage damage = {}) {
    sample::GopRecordSpec spec;
    spec.time = time;
    spec.milliseconds = ms;
    spec.previous_length = previous;
    spec.damage = damage;
    for (int i = 0; i < frames; ++i) {
        spec.frames.push_back({sample::synthetic_frame(time * 16 + static_cast<uint32_t>(i),
                                                       i == 0 ? 120 : 40, i == 0),
                               i == 0 ? 1u : 2u, i == 0 ? 0u : 66u});
    }
    return sample::gop_record(spec);
}

Bytes audio(uint32_t time, uint32_t previous, size_t length, sample::RecordDamage damage = {}) {
    sample::AudioRecordSpec spec;
    spec.time = time;
    spec.previous_size = previous;
    spec.damage = damage;
    spec.samples.assign(length, 0);
    for (size_t i = 0; i < length; ++i) spec.samples[i] = static_cast<uint8_t>(0x10 + i % 0xE0);
    return sample::audio_record(spec);
}

// GOPs of `frames` frames twice a second over [from, to), each second's first GOP at the
// second's index point; damage applies to the GOPs of the listed seconds.
Bytes video_channel(uint32_t from, uint32_t to, int frames, const std::vector<uint32_t>& broken = {},
                    bool end_mark = false) {
    Bytes out;
    uint32_t previous = 0;
    for (uint32_t t = from; t < to; ++t) {
        for (uint32_t ms : {0u, 500u}) {
            sample::RecordDamage d;
            for (uint32_t b : broken) d.broken_start_bits |= b == t;
            Bytes r = gop(t, ms, frames, previous, d);
            previous = sample::record_length(r);
            out.insert(out.end(), r.begin(), r.end());
        }
    }
    if (end_mark) {
        sample::RecordDamage d;
        d.end_mark = true;
        Bytes r = gop(0, 0, 1, previous, d);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

Bytes audio_channel(uint32_t from, uint32_t to) {
    Bytes out;
    uint32_t previous = 0;
    for (uint32_t t = from; t < to; ++t) {
        Bytes r = audio(t, previous, 200);
        previous = sample::record_length(r);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

// --- Disk images -----------------------------------------------------------------------------

sample::VolumeContent recorder_content(uint32_t start, uint32_t seconds) {
    sample::VolumeContent c;
    for (int32_t video = 0; video < 2; ++video) {
        sample::ChannelData v{.channel = 3 + video};
        uint32_t previous = 0;
        for (uint32_t t = start; t < start + seconds; t += 15) {
            Bytes r = gop(t, 0, 3, previous);
            previous = sample::record_length(r);
            v.writes.push_back({t, std::move(r)});
        }
        c.channels.push_back(std::move(v));
    }
    sample::ChannelData a{.channel = 19};
    uint32_t previous = 0;
    for (uint32_t t = start; t < start + seconds; t += 15) {
        Bytes r = audio(t, previous, 64);
        previous = sample::record_length(r);
        a.writes.push_back({t, std::move(r)});
    }
    c.channels.push_back(std::move(a));
    sample::ChannelData system{.channel = 28}, events{.channel = 26}, captures{.channel = 27},
        images{.channel = 23};
    for (uint32_t i = 0; i < 4; ++i) {
        const uint32_t t = start + i * (seconds / 4);
        system.writes.push_back({t, sample::system_log_record(t, i == 3 ? "REC\x01" : "POWER ON")});
        events.writes.push_back({t + 1, sample::event_log_record(t + 1, static_cast<uint8_t>(i), 2, i != 2)});
        captures.writes.push_back({t + 2, sample::capture_log_record(t + 2, i, t)});
    }
    const uint32_t still = start + 2;
    images.writes.push_back(
        {still, sample::capture_image_record(still, sample::encode_jpeg(sample::test_pattern(16, 16, "", 0), 50))});
    for (sample::ChannelData* ch : {&system, &events, &captures, &images}) c.channels.push_back(std::move(*ch));
    return c;
}

sample::AreaSpec small_recorder_area(uint32_t start, uint32_t seconds) {
    sample::AreaSpec a;
    a.kind = sample::AreaKind::Recorder;
    a.recorder.block_size = 4096;
    a.recorder.map_sectors_per_channel = 1;
    a.recorder.channel_count = 29;
    a.recorder.content = recorder_content(start, seconds);
    return a;
}

sample::AreaSpec small_backup_area(uint32_t start) {
    sample::AreaSpec a;
    a.kind = sample::AreaKind::Backup;
    a.backup.slot_count = 4;
    a.backup.block_size = 4096;
    for (uint32_t slot : {0u, 2u}) {
        sample::SessionSpec s;
        s.slot = slot;
        s.name = "BACKUP " + std::to_string(slot + 1);
        s.created = start + 86400 * slot;
        sample::VolumeContent c;
        sample::ChannelData v{.channel = 3};
        uint32_t previous = 0;
        for (uint32_t t = start - 7200 * (slot + 1); t < start - 7200 * (slot + 1) + 60; t += 15) {
            Bytes r = gop(t, 0, 2, previous);
            previous = sample::record_length(r);
            v.writes.push_back({t, std::move(r)});
        }
        c.channels.push_back(std::move(v));
        s.content = std::move(c);
        a.backup.sessions.push_back(std::move(s));
    }
    return a;
}

// The builder's image as a sparse input with the given flags, or, for a small disk, as the raw
// bytes of the whole disk.
enum class Form { Sparse, Raw };

bool disk_seed(const fs::path& out, const sample::DiskSpec& spec, uint8_t flags = 0,
               Form form = Form::Sparse) {
    const std::string tmp = (fs::temp_directory_path() / ("quillon-seed-" + std::to_string(::getpid()) + ".img")).string();
    std::string error;
    sample::ImageSummary summary;
    fuzz::SparseImage image;
    Bytes raw;
    bool ok = sample::write_image(tmp, spec, &summary, &error) == 0;
    if (ok && form == Form::Raw) {
        std::ifstream in(tmp, std::ios::binary);
        raw.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ok = raw.size() == spec.total_sectors * fuzz::kSectorSize;
    } else if (ok) {
        ok = fuzz::load_image_file(tmp, &image);
    }
    ::unlink(tmp.c_str());
    if (!ok) {
        std::fprintf(stderr, "%s: %s\n", out.string().c_str(),
                     error.empty() ? "cannot read the image" : error.c_str());
        return false;
    }
    image.flags = flags;
    return save(out, form == Form::Raw ? raw : fuzz::encode_sparse_image(image));
}

bool disk_seeds(const fs::path& dir) {
    const uint32_t start = sample::kDefaultTime / 3600 * 3600 - 7200;
    bool ok = true;

    sample::DiskSpec recorder;
    recorder.total_sectors = 1u << 20;
    recorder.bare = small_recorder_area(start, 600);
    ok &= disk_seed(dir / "recorder.bin", recorder);

    // Recordings over midnight and a month's end, so that the calendar has two months.
    sample::DiskSpec month_end = recorder;
    month_end.bare = small_recorder_area(1775001600u - 1800u, 2100);  // 2026-03-31 23:30
    month_end.bare_start = kDvrSecondProbeStart;
    ok &= disk_seed(dir / "recorder_2552_month_end.bin", month_end);

    sample::DiskSpec damaged = recorder;
    damaged.bare.recorder.placement = sample::Placement::Pointer;
    damaged.bare.recorder.pointer_copies = {sample::PointerCopy{.sector = 10},
                                            sample::PointerCopy{.sector = 0, .bad_checksum = true}};
    damaged.bare.recorder.content.channels[0].zero_block = 1;
    damaged.bare.recorder.content.trailing_bytes[1] = Bytes(7, 0xAB);
    damaged.bare.recorder.content.index_end = start + 300;
    ok &= disk_seed(dir / "recorder_damaged.bin", damaged);

    sample::DiskSpec backup;
    backup.total_sectors = 8u << 20;
    backup.layout = sample::DiskLayout::Partitioned;
    backup.partitions = {{.type_byte = kPartTypeBackup, .count = (8u << 20) - 4096, .area = small_backup_area(start)}};
    ok &= disk_seed(dir / "backup.bin", backup);

    sample::DiskSpec partitioned;
    partitioned.total_sectors = 12u << 20;
    partitioned.layout = sample::DiskLayout::Partitioned;
    partitioned.partitions = {
        {.type_byte = 0x0C, .bootable = true, .count = 1u << 18},
        {.type_byte = kPartTypeRecorder, .count = 1u << 20, .area = small_recorder_area(start, 120)},
        {.type_byte = kPartTypeBackup, .count = 8u << 20, .area = small_backup_area(start)},
    };
    ok &= disk_seed(dir / "partitioned.bin", partitioned);

    // With the repair flag the checksums broken here are balanced again before the scan, as
    // they are after any mutation of these inputs.
    sample::DiskSpec torn = recorder;
    torn.bare.recorder.damage.checksum = true;
    ok &= disk_seed(dir / "recorder_repair.bin", torn, fuzz::kRepairChecksums);

    sample::DiskSpec torn_backup = backup;
    torn_backup.partitions[0].area.backup.damage.checksum = true;
    torn_backup.partitions[0].area.backup.sessions[1].bad_checksum = true;
    ok &= disk_seed(dir / "backup_repair.bin", torn_backup, fuzz::kRepairChecksums);
    ok &= disk_seed(dir / "partitioned_repair.bin", partitioned, fuzz::kRepairChecksums);

    // A whole disk of 256 KiB given raw, as an image file would be.
    sample::DiskSpec small = recorder;
    small.total_sectors = 512;
    small.bare = small_recorder_area(start, 120);
    ok &= disk_seed(dir / "recorder_raw.bin", small, 0, Form::Raw);

    sample::DiskSpec ms;
    ms.total_sectors = 1u << 16;
    ms.layout = sample::DiskLayout::MsBoot;
    ok &= disk_seed(dir / "ms_boot.bin", ms);
    return ok;
}

// --- Recordings ---------------------------------------------------------------------------------

Bytes recording_seed(uint8_t flags, uint8_t start, std::array<uint8_t, 4> modes, const Bytes& video,
                     const Bytes& audio_bytes, std::array<uint8_t, 8> commands) {
    Bytes out = {flags, start};
    out.insert(out.end(), modes.begin(), modes.end());
    const size_t n = std::min<size_t>(video.size(), 0xFFFF);
    out.push_back(static_cast<uint8_t>(n));
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.insert(out.end(), commands.begin(), commands.end());
    out.insert(out.end(), video.begin(), video.begin() + static_cast<std::ptrdiff_t>(n));
    out.insert(out.end(), audio_bytes.begin(), audio_bytes.end());
    return out;
}

bool recording_seeds(const fs::path& dir) {
    const uint32_t s = fuzz::kRecordingStart;
    bool ok = true;
    // Play forward, then rewind, then step frames both ways.
    ok &= save(dir / "play_rewind.bin",
               recording_seed(0, 8, {PM_PLAY, PM_REW_4, PM_FRAME_F, PM_FRAME_B}, video_channel(s, s + 20, 4),
                              audio_channel(s, s + 20), {48, 49, 50, 64, 65, 80, 81, 0x20 | 2}));
    ok &= save(dir / "key_frames_fast.bin",
               recording_seed(1, 20, {PM_FF_8, PM_REW_32, PM_MINUTE_F, PM_PLAY}, video_channel(s, s + 30, 8),
                              {}, {0x46, 0x86, 0x0A, 0x1F, 0x9F, 0x3F, 0x22, 0x23}));
    ok &= save(dir / "broken_end_mark.bin",
               recording_seed(0, 0, {PM_PLAY, PM_MINUTE_B, PM_REW_1, PM_PAUSE},
                              video_channel(s, s + 12, 6, {s + 3, s + 4}, true), audio_channel(s, s + 6),
                              {65, 65, 64, 52, 53, 51, 0x24, 0x25}));
    ok &= save(dir / "wide_gops.bin",
               recording_seed(0, 8, {PM_PLAY, PM_FF_2, PM_REW_2, PM_FRAME_B}, video_channel(s, s + 10, 16),
                              audio_channel(s, s + 12), {82, 0x52, 0xD2, 0x40, 0x41, 0x51, 0x21, 0xA1}));
    return ok;
}

// --- Export inputs --------------------------------------------------------------------------------

struct Writer {
    Bytes b;
    void u8(uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
    void u16(uint32_t v) { u8(v); u8(v >> 8); }
    void u32(uint32_t v) { u16(v); u16(v >> 16); }
    void f64(double d) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        u32(static_cast<uint32_t>(bits));
        u32(static_cast<uint32_t>(bits >> 32));
    }
};

// The AVI writer part: formats, then `ops` frames and audio blocks.
// shape: the FourCC length and the buffering bits; repeat: the first two writes repeat enough
// to spill the index.
void avi_part(Writer& w, int32_t width, int32_t height, double fps, int tracks, int ops,
              uint8_t shape = 4, bool repeat = false) {
    w.u32(static_cast<uint32_t>(width));
    w.u32(static_cast<uint32_t>(height));
    w.f64(fps);
    for (char c : std::string("h264")) w.u8(static_cast<uint8_t>(c));
    w.u8(shape);
    w.u8(static_cast<uint32_t>(tracks));
    for (int t = 0; t < tracks; ++t) {
        w.u32(1);
        w.u32(8000);
        w.u32(8);
        w.u32(7);
        w.u32(64);
    }
    w.u8(static_cast<uint32_t>(ops));
    for (int i = 0; i < ops; ++i) {
        if (repeat && i < 2) {
            w.u8(0x40 | (i == 0 ? 2u : 1u));
            w.u16(i == 0 ? 31u : 800u);
            w.u8(255);
            continue;
        }
        w.u8(i % 5 == 0 ? 2u : i % 3 == 0 ? 1u : 0u);
        w.u16(i % 7 == 6 ? 0 : 100u + 37u * static_cast<uint32_t>(i));
    }
}

// The channel writer part: seconds of `fps` frames and one audio block each, with a hole.
void channel_part(Writer& w, uint8_t setup, uint32_t start, int seconds, int fps) {
    w.u8(setup);
    w.u32(start);
    int records = 0;
    Writer body;
    for (int s = 0; s < seconds; ++s) {
        for (int f = 0; f < fps; ++f, ++records) {
            body.u8(f == 0 ? 0x02 : 0x00);
            body.u8(f == 0 ? (s == 3 ? 3u : 1u) : 0u);  // a second later, or a hole of three
            body.u16(f == 0 ? 900u : 200u);
            body.u16(static_cast<uint32_t>(f * 1000 / fps));
        }
        body.u8(0x01);
        body.u8(0);
        body.u16(1000);
        ++records;
    }
    body.u8(0x0C);  // a drain
    body.u8(1);
    body.u16(50);
    body.u16(0);
    ++records;
    w.u8(static_cast<uint32_t>(std::min(records, 256) - 1));
    w.b.insert(w.b.end(), body.b.begin(), body.b.end());
}

bool export_seeds(const fs::path& dir) {
    bool ok = true;
    Writer a;
    avi_part(a, 352, 240, 30.0, 1, 40);
    channel_part(a, 0x06, kT0, 6, 5);
    ok &= save(dir / "ntsc_h264_audio.bin", a.b);
    Writer b;
    avi_part(b, 720, 576, 25.0, 2, 20, 0x80 | 0x40 | (2 << 3) | 4, true);
    channel_part(b, 0x05, kT0 + 3600, 4, 8);
    ok &= save(dir / "pal_two_tracks.bin", b.b);
    Writer c;
    avi_part(c, -1, 0, 1e300, 9, 10);
    channel_part(c, 0x00, 0xFFFFFFF0u, 3, 4);
    ok &= save(dir / "refused_formats_late_time.bin", c.b);
    return ok;
}

// --- Still capture -------------------------------------------------------------------------

// A small picture of each bit count and header kind; pixel bytes count up so rows differ.
Bytes still_seed(uint32_t header_size, int32_t width, int32_t height, uint16_t bits,
                 uint32_t colors_used = 0, uint32_t compression = 0) {
    testkit::BmpSpec s;
    s.header_size = header_size;
    s.width = width;
    s.height = height;
    s.bit_count = bits;
    s.colors_used = colors_used;
    s.compression = compression;
    if (compression == 3) s.masks = {0x00, 0x7C, 0, 0, 0xE0, 0x03, 0, 0, 0x1F, 0, 0, 0};
    const uint32_t entries = bits > 8 ? 0 : colors_used != 0 ? colors_used : 1u << bits;
    for (uint32_t i = 0; i < entries * (header_size == 12 ? 3 : 4); ++i)
        s.palette.push_back(static_cast<uint8_t>(i * 29));
    const size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
    for (size_t i = 0; i < stride * static_cast<size_t>(height < 0 ? -height : height); ++i)
        s.pixels.push_back(static_cast<uint8_t>(i * 7 + 3));
    return testkit::build_bmp(s);
}

bool still_seeds(const fs::path& dir) {
    bool ok = true;
    ok &= save(dir / "bits1_10x3.bmp", still_seed(40, 10, 3, 1));
    ok &= save(dir / "bits4_5x3_short_palette.bmp", still_seed(40, 5, 3, 4, 5));
    ok &= save(dir / "bits8_7x2_top_down.bmp", still_seed(40, 7, -2, 8));
    ok &= save(dir / "bits16_5x3.bmp", still_seed(40, 5, 3, 16));
    ok &= save(dir / "bits16_fields_3x2.bmp", still_seed(40, 3, 2, 16, 0, 3));
    ok &= save(dir / "bits24_5x3.bmp", still_seed(40, 5, 3, 24));
    ok &= save(dir / "bits32_4x2_v5_header.bmp", still_seed(124, 4, 2, 32));
    ok &= save(dir / "core_bits8_3x2.bmp", still_seed(12, 3, 2, 8));
    // Wider than the JPEG library takes: its fatal error path.
    ok &= save(dir / "bits1_65501x1_too_wide.bmp", still_seed(40, 65501, 1, 1));
    return ok;
}

// --- Display frames ---------------------------------------------------------------------------

// Frames of one GOP of real video as display_frames records; key frames carry the picture size.
void display_gop(Writer& w, sample::Codec codec, int width, int height, uint32_t time,
                 uint8_t extra_flags, size_t skip = 0, uint8_t first_flags = 0) {
    std::string error;
    auto encoder = sample::VideoEncoder::create(codec, width, height, 15, &error);
    if (!encoder) return;
    const auto frames = encoder->encode_gop(2, time, 6, &error);
    for (size_t i = skip; i < frames.size(); ++i) {
        const bool key = frames[i].key;
        w.u8(static_cast<uint32_t>((key ? 0x01 : 0x00) | 0x08 | extra_flags |
                                   (i == skip ? first_flags : 0)));
        w.u32(static_cast<uint32_t>(width) << 16 | static_cast<uint32_t>(height));
        w.u16(static_cast<uint32_t>(frames[i].bytes.size()));
        w.b.insert(w.b.end(), frames[i].bytes.begin(), frames[i].bytes.end());
    }
}

bool display_seeds(const fs::path& dir) {
    bool ok = true;
    Writer a;  // H.264, then MPEG-4 at the same size, then H.264 at another size
    display_gop(a, sample::Codec::H264, 96, 64, kT0, 0x10);
    display_gop(a, sample::Codec::Mpeg4, 96, 64, kT0 + 1, 0x10);
    display_gop(a, sample::Codec::H264, 128, 96, kT0 + 2, 0);
    ok &= !a.b.empty() && save(dir / "codec_and_size_changes.bin", a.b);
    Writer b;  // P-frames before the first key frame, a reset, the loop filter skipped
    display_gop(b, sample::Codec::Mpeg4, 80, 48, kT0, 0, 3);
    display_gop(b, sample::Codec::H264, 80, 48, kT0 + 1, 0x04, 0, 0x02);
    ok &= !b.b.empty() && save(dir / "start_between_keys.bin", b.b);
    Writer c;  // an impossible size, an impossible length, a key frame of noise, then a GOP
    c.u8(0x01);
    c.u32(0xFFFFFFFFu);
    c.u16(4);
    c.u32(0x01000000u);
    c.u8(0x21);
    c.u32(96u << 16 | 64u);
    c.u16(0);
    c.u8(0x09);
    c.u32(96u << 16 | 64u);
    c.u16(64);
    c.u32(0x01000000u);
    for (uint32_t i = 0; i < 60; ++i) c.u8(i * 97 + 13);
    Writer gop;
    display_gop(gop, sample::Codec::H264, 96, 64, kT0 + 5, 0x10);
    c.b.insert(c.b.end(), gop.b.begin(), gop.b.end());
    ok &= gop.b.size() > 1000 && save(dir / "refusals_and_damage.bin", c.b);
    return ok;
}

// --- Carver blocks ------------------------------------------------------------------------------

// GOP records of real video, chained by their previous lengths.
std::vector<Bytes> real_gops(sample::Codec codec, uint32_t time, int count) {
    std::vector<Bytes> out;
    std::string error;
    auto encoder = sample::VideoEncoder::create(codec, 96, 64, 15, &error);
    if (!encoder) return out;
    uint32_t previous = 0;
    for (int i = 0; i < count; ++i) {
        sample::GopRecordSpec spec;
        spec.time = time + static_cast<uint32_t>(i);
        spec.width = 96;
        spec.height = 64;
        spec.previous_length = previous;
        for (const sample::EncodedFrame& f : encoder->encode_gop(1, spec.time, 3, &error)) {
            spec.frames.push_back({f.bytes, f.key ? 1u : 2u, f.key ? 0u : 66u});
        }
        Bytes r = sample::gop_record(spec);
        if (r.empty()) return {};
        previous = sample::record_length(r);
        out.push_back(std::move(r));
    }
    return out;
}

// The scan's begin and the bytes left off the end, then the block.
Bytes carver_input(uint16_t begin, uint16_t cut, const std::vector<Bytes>& pieces) {
    Writer w;
    w.u16(begin);
    w.u16(cut);
    for (const Bytes& p : pieces) w.b.insert(w.b.end(), p.begin(), p.end());
    return w.b;
}

bool carver_seeds(const fs::path& dir) {
    const std::vector<Bytes> h264 = real_gops(sample::Codec::H264, kT0, 3);
    const std::vector<Bytes> mpeg4 = real_gops(sample::Codec::Mpeg4, kT0 + 60, 2);
    if (h264.size() != 3 || mpeg4.size() != 2) return false;
    const Bytes gap(64, 0);
    bool ok = save(dir / "run_and_audio.bin",
                   carver_input(0, 0, {h264[0], h264[1], h264[2], gap, audio(kT0, 0, 400)}));
    // A frame table that does not add up, start bits in noise, then a record cut by the end.
    Bytes table = h264[1];
    table[28] ^= 0x01;
    Bytes noise(96);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 73 + 5);
    std::memcpy(noise.data() + 32, "\xFF\xF0\x0F\xFF", 4);
    ok &= save(dir / "decoys_and_cut.bin",
               carver_input(0, static_cast<uint16_t>(h264[2].size() / 2),
                            {noise, table, h264[0], h264[2]}));
    // The scan begins behind an H.264 record; MPEG-4 records follow.
    ok &= save(dir / "begin_behind_a_record.bin",
               carver_input(static_cast<uint16_t>(h264[0].size()), 0,
                            {h264[0], mpeg4[0], mpeg4[1], gap}));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const bool convert = argc >= 4 && std::strcmp(argv[1], "--convert") == 0;
    const bool repair = convert && argc == 5 && std::strcmp(argv[2], "--repair") == 0;
    if (convert && (argc == 4 || repair)) {
        fuzz::SparseImage image;
        if (!fuzz::load_image_file(argv[argc - 2], &image)) {
            std::fprintf(stderr, "%s: cannot read the image\n", argv[argc - 2]);
            return 1;
        }
        image.flags = repair ? fuzz::kRepairChecksums : 0;
        return save(argv[argc - 1], fuzz::encode_sparse_image(image)) ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SEEDS_DIR | --convert [--repair] IMAGE OUTPUT\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* t :
         {"disk_image", "recording", "export_writer", "still_capture", "display_frames", "carver"}) {
        fs::create_directories(root / t);
    }
    const bool ok = disk_seeds(root / "disk_image") && recording_seeds(root / "recording") &&
                    export_seeds(root / "export_writer") && still_seeds(root / "still_capture") &&
                    display_seeds(root / "display_frames") && carver_seeds(root / "carver");
    return ok ? 0 : 1;
}
