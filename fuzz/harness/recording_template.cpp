#include "fuzz/harness/recording_template.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/sample/sample.h"

namespace fuzz {
namespace {

constexpr uint32_t kVideoMarker = 0x5A17C0DE;
constexpr uint32_t kAudioMarker = 0x5A17A0D1;

// Units of marker, then the unit's number: unique words that no other structure holds.
sample::ChannelData marked_channel(int32_t channel, uint32_t marker, size_t per_second) {
    sample::ChannelData data;
    data.channel = channel;
    uint32_t unit = 0;
    for (int s = 0; s < kRecordingSeconds; ++s) {
        std::vector<uint8_t> bytes(per_second);
        for (size_t at = 0; at < per_second; at += 8, ++unit) {
            std::memcpy(bytes.data() + at, &marker, 4);
            std::memcpy(bytes.data() + at + 4, &unit, 4);
        }
        data.writes.push_back({kRecordingStart + static_cast<uint32_t>(s), std::move(bytes)});
    }
    return data;
}

sample::DiskSpec template_spec() {
    sample::DiskSpec d;
    d.total_sectors = 1u << 20;
    d.layout = sample::DiskLayout::Bare;
    d.bare.kind = sample::AreaKind::Recorder;
    d.bare.recorder.block_size = 4096;  // records cross block boundaries
    d.bare.recorder.map_sectors_per_channel = 1;
    d.bare.recorder.channel_count = 29;
    d.bare.recorder.content.channels = {marked_channel(3, kVideoMarker, kVideoBytesPerSecond),
                                        marked_channel(19, kAudioMarker, kAudioBytesPerSecond)};
    return d;
}

bool find_units(const SparseImage& image, uint32_t marker, size_t units, ChannelPlacement* out) {
    out->assign(units, {0, 0});
    std::vector<bool> seen(units, false);
    for (const auto& [sector, bytes] : image.sectors) {
        for (uint32_t at = 0; at + 8 <= bytes.size(); at += 8) {
            uint32_t word = 0, unit = 0;
            std::memcpy(&word, bytes.data() + at, 4);
            std::memcpy(&unit, bytes.data() + at + 4, 4);
            if (word != marker || unit >= units) continue;
            (*out)[unit] = {sector, at};
            seen[unit] = true;
        }
    }
    for (bool s : seen) {
        if (!s) return false;
    }
    return true;
}

RecordingTemplate build() {
    RecordingTemplate t;
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/quillon-fuzz-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) return t;
    ::close(fd);
    std::string error;
    sample::ImageSummary summary;
    const bool written = sample::write_image(path, template_spec(), &summary, &error) == 0;
    const bool loaded = written && load_image_file(path, &t.image);
    ::unlink(path.c_str());
    if (!loaded) {
        std::fprintf(stderr, "recording template: %s\n", error.c_str());
        return t;
    }
    t.ok = find_units(t.image, kVideoMarker, kRecordingSeconds * kVideoBytesPerSecond / 8, &t.video) &&
           find_units(t.image, kAudioMarker, kRecordingSeconds * kAudioBytesPerSecond / 8, &t.audio);
    if (!t.ok) std::fprintf(stderr, "recording template: channel bytes not found\n");
    return t;
}

}  // namespace

const RecordingTemplate& recording_template() {
    static const RecordingTemplate t = build();
    return t;
}

void place_channel_bytes(const ChannelPlacement& placement, const uint8_t* bytes, size_t length,
                         SparseImage* image) {
    for (size_t unit = 0; unit < placement.size(); ++unit) {
        const auto& [sector, at] = placement[unit];
        uint8_t* dst = image->sectors[sector].data() + at;
        const size_t from = unit * 8;
        const size_t n = from < length ? std::min<size_t>(8, length - from) : 0;
        if (n > 0) std::memcpy(dst, bytes + from, n);
        std::memset(dst + n, 0, 8 - n);
    }
}

}  // namespace fuzz
