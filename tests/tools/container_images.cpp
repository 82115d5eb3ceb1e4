#include "tests/tools/container_images.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include <gtest/gtest.h>

#include "tests/testkit/tool_run.h"
#include "tests/tools/cli_runner.h"
#include "tests/testkit/volume_helpers.h"
#include "tools/sample/log_records.h"
#include "tools/sample/recordings.h"
#include "tools/sample/test_pattern.h"
#include "tools/sample/video_encoder.h"

namespace clitest {
namespace {

using testkit::kT0;


// Recordings of two minutes, audio and the event and system logs on a 64 MiB disk.
sample::DiskSpec recorder_disk(std::string* error) {
    sample::VolumeContent content;
    sample::VideoRecordingSpec video;
    video.video_channel = 1;
    video.width = 176;
    video.height = 144;
    video.fps = 15;
    video.from = kT0;
    video.to = kT0 + 120;
    video.gaps = {{kT0 + 50, kT0 + 70}};
    auto encoder = sample::VideoEncoder::create(sample::Codec::H264, video.width, video.height,
                                                video.fps, error);
    if (!encoder) return {};
    auto v = sample::video_recording(video, *encoder, error);
    if (!v) return {};
    content.channels.push_back(std::move(v->data));
    auto a = sample::audio_recording(1, kT0, kT0 + 40, {}, error);
    if (!a) return {};
    content.channels.push_back(std::move(a->data));
    sample::ChannelData events, system;
    events.channel = 26;
    system.channel = 28;
    for (uint32_t i = 0; i < 10; ++i) {
        events.writes.push_back({kT0 + 7 * i, sample::event_log_record(kT0 + 7 * i, 0, 2)});
        system.writes.push_back({kT0 + 9 * i, sample::system_log_record(kT0 + 9 * i, "UP")});
    }
    // Stills of noise, which no compression shrinks: the compressed sets get several segments.
    sample::ChannelData stills, captures;
    stills.channel = 23;
    captures.channel = 27;
    std::mt19937 rng(16);
    for (uint32_t i = 0; i < 4; ++i) {
        sample::RgbImage noise{640, 480, std::vector<uint8_t>(640 * 480 * 3)};
        for (uint8_t& p : noise.pixels) p = static_cast<uint8_t>(rng());
        const uint32_t t = kT0 + 5 + 10 * i;
        stills.writes.push_back({t, sample::capture_image_record(t, sample::encode_jpeg(noise, 95))});
        captures.writes.push_back({t, sample::capture_log_record(t, 1, t)});
    }
    for (sample::ChannelData* c : {&events, &stills, &captures, &system}) {
        content.channels.push_back(std::move(*c));
    }
    sample::DiskSpec disk = testkit::small_recorder(content, 29);
    disk.total_sectors = 1u << 17;
    disk.bare.recorder.block_size = 64 * 1024;
    return disk;
}

bool acquire(const testkit::TempDir& dir, const std::string& raw, const std::string& target,
             const std::string& compression) {
    const testkit::ToolRun r = testkit::run_tool(
        dir, "ewfacquire -u -q -d sha1 -c " + compression +
                 " -S 1048576 -C CASE-16 -D 'recorder disk' -e 'Examiner One' -E EV-3 -N none -t " +
                 testkit::quoted(target) + " " + testkit::quoted(raw) + " >/dev/null");
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0;
}

std::unique_ptr<ContainerImages> build() {
    auto images = std::make_unique<ContainerImages>();
    const testkit::TempDir& dir = images->dir;
    std::string error;
    const sample::DiskSpec disk = recorder_disk(&error);
    if (!error.empty()) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    images->raw = testkit::make_image(dir, "disk.img", disk);
    if (!acquire(dir, images->raw, dir.file("fast"), "deflate:fast") ||
        !acquire(dir, images->raw, dir.file("none"), "none")) {
        return nullptr;
    }
    images->e01_fast = dir.file("fast.E01");
    images->e01_none = dir.file("none.E01");
    // Pieces of a size that is no multiple of 512, the last one shorter.
    const testkit::ToolRun split = testkit::run_tool(
        dir, "split -b 3999999 -d -a 3 --numeric-suffixes=1 " + testkit::quoted(images->raw) + " " +
                 testkit::quoted(dir.file("piece.")));
    EXPECT_EQ(split.status, 0) << split.err;
    images->split = dir.file("piece.001");
    images->md5 = testkit::run_tool(dir, "md5sum " + testkit::quoted(images->raw)).out.substr(0, 32);
    images->sha1 = testkit::run_tool(dir, "sha1sum " + testkit::quoted(images->raw)).out.substr(0, 40);
    return split.status == 0 ? std::move(images) : nullptr;
}

}  // namespace

ContainerImages* container_images() {
    static std::unique_ptr<ContainerImages> images = build();
    return images.get();
}

std::vector<std::string> files_of_set(const testkit::TempDir& dir, const std::string& first) {
    const std::string stem = first.substr(0, first.size() - 2);  // "x.E01" -> "x.E", "x.001" -> "x.0"
    const testkit::ToolRun r = testkit::run_tool(dir, "ls -1 " + testkit::quoted(stem) + "*");
    std::vector<std::string> files;
    size_t at = 0;
    while (at < r.out.size()) {
        const size_t nl = r.out.find('\n', at);
        files.push_back(r.out.substr(at, nl - at));
        at = nl == std::string::npos ? r.out.size() : nl + 1;
    }
    return files;
}

std::string link_set(const testkit::TempDir& dir, const std::string& name,
                     const std::vector<std::string>& files, const std::vector<size_t>& copies) {
    const std::string folder = dir.file(name);
    EXPECT_EQ(testkit::run_tool(dir, "mkdir -p " + testkit::quoted(folder)).status, 0);
    std::string first;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string base = files[i].substr(files[i].find_last_of('/') + 1);
        const std::string target = folder + "/" + base;
        const bool copy = std::find(copies.begin(), copies.end(), i) != copies.end();
        const std::string command = (copy ? "cp " : "ln ") + testkit::quoted(files[i]) + " " + testkit::quoted(target);
        EXPECT_EQ(testkit::run_tool(dir, command).status, 0) << command;
        if (i == 0) first = target;
    }
    return first;
}

std::optional<StoredChunk> find_stored_chunk(const std::vector<std::string>& segments,
                                             const std::string& raw, uint64_t offset) {
    constexpr size_t kChunk = 32 * 1024;
    const std::vector<uint8_t> disk = testkit::read_file(raw);
    const uint64_t start = offset / kChunk * kChunk;
    if (start + kChunk > disk.size()) return std::nullopt;
    const std::vector<uint8_t> chunk(disk.begin() + static_cast<std::ptrdiff_t>(start),
                                     disk.begin() + static_cast<std::ptrdiff_t>(start + kChunk));
    std::vector<uint8_t> inflated(kChunk);
    for (size_t s = 0; s < segments.size(); ++s) {
        const std::vector<uint8_t> bytes = testkit::read_file(segments[s]);
        if (const void* at = ::memmem(bytes.data(), bytes.size(), chunk.data(), chunk.size())) {
            return StoredChunk{s, uint64_t(static_cast<const uint8_t*>(at) - bytes.data()), false};
        }
        // A zlib stream starts with 0x78; the one that inflates to the chunk is it.
        for (size_t at = 0; at + 2 < bytes.size(); ++at) {
            if (bytes[at] != 0x78 || ((bytes[at] << 8) | bytes[at + 1]) % 31 != 0) continue;
            uLongf length = kChunk;
            const uLong available = static_cast<uLong>(std::min<size_t>(bytes.size() - at, 2 * kChunk));
            if (uncompress(inflated.data(), &length, bytes.data() + at, available) == Z_OK ||
                length == kChunk) {
                if (length == kChunk && inflated == chunk) return StoredChunk{s, at, true};
            }
        }
    }
    return std::nullopt;
}

int64_t channel_offset(const std::string& raw) {
    // Bytes from inside the recording, away from the channel's first block and its header.
    const CliResult r = run_cli({"--image", raw, "read", "--channel", "3", "--offset", "300000",
                                 "--length", "512"});
    if (r.status != 0 || r.out.size() != 512) return -1;
    const std::vector<uint8_t> disk = testkit::read_file(raw);
    const void* at = ::memmem(disk.data(), disk.size(), r.out.data(), r.out.size());
    return at == nullptr ? -1 : static_cast<const uint8_t*>(at) - disk.data();
}

}  // namespace clitest
