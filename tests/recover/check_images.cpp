#include "tests/recover/check_images.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/testkit/image_tools.h"
#include "tests/testkit/volume_helpers.h"

namespace checktest {

sample::ChannelData gop_channel(int32_t channel, uint32_t from, int count, const DamageOf& damage) {
    sample::ChannelData data;
    data.channel = channel;
    uint32_t previous = 0;
    for (int i = 0; i < count; ++i) {
        const uint32_t t = from + static_cast<uint32_t>(i);
        sample::GopRecordSpec spec;
        spec.time = t;
        spec.previous_length = previous;
        for (int f = 0; f < 5; ++f) {
            spec.frames.push_back({sample::synthetic_frame(t * 8 + static_cast<uint32_t>(f),
                                                           f == 0 ? 200 : 60, f == 0),
                                   f == 0 ? 1u : 2u, f == 0 ? 0u : 33u});
        }
        if (damage) damage(i, &spec.damage);
        std::vector<uint8_t> record = sample::gop_record(spec);
        previous = sample::record_length(record);
        data.writes.push_back({t, std::move(record)});
    }
    return data;
}

sample::ChannelData audio_channel(int32_t channel, uint32_t from, int count,
                                  const DamageOf& damage) {
    sample::ChannelData data;
    data.channel = channel;
    uint32_t previous = 0;
    for (int i = 0; i < count; ++i) {
        const uint32_t t = from + static_cast<uint32_t>(i);
        sample::AudioRecordSpec spec;
        spec.time = t;
        spec.previous_size = previous;
        spec.samples.assign(800, static_cast<uint8_t>(0x10 + i % 64));
        if (damage) damage(i, &spec.damage);
        std::vector<uint8_t> record = sample::audio_record(spec);
        previous = sample::record_length(record);
        data.writes.push_back({t, std::move(record)});
    }
    return data;
}

uint64_t bytes_before(const sample::ChannelData& channel, int index) {
    uint64_t n = 0;
    for (int i = 0; i < index; ++i) n += channel.writes[static_cast<size_t>(i)].bytes.size();
    return n;
}

uint64_t bytes_of(const sample::ChannelData& channel) {
    return bytes_before(channel, static_cast<int>(channel.writes.size()));
}

sample::DiskSpec recorder_with(const std::vector<sample::ChannelData>& channels) {
    sample::VolumeContent content;
    content.channels = channels;
    sample::DiskSpec spec = testkit::small_recorder(content, 29);
    // 16 MiB: small enough that a test hashes the whole image before and after.
    spec.total_sectors = 1u << 15;
    return spec;
}

std::string cut_short_image(const testkit::TempDir& dir) {
    sample::ChannelData video = gop_channel(3, testkit::kT0, 60);
    video.first_block = 2000;  // behind the index, which must still be read
    video.image_ends_at_write = 20;
    sample::DiskSpec spec = recorder_with({video});
    // The super block near the start, where the shorter image still holds it.
    spec.bare.recorder.placement = sample::Placement::Pointer;
    const std::string path = testkit::make_image(dir, "cut.img", spec);
    const auto size = std::filesystem::file_size(path);
    EXPECT_LT(size, 64u << 20) << "the image was not cut short";
    // The probe reads the middle of the shorter area first: it holds bytes that fail the
    // checksum there, as on a used disk.
    std::vector<uint8_t> noise(512);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 7 + 1);
    testkit::write_bytes(path, size / 512 / 2 * 512, noise.data(), noise.size());
    return path;
}

}  // namespace checktest
