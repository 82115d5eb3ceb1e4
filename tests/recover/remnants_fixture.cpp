#include "tests/recover/remnants_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "decode/av_handles.h"
#include "tests/testkit/temp_image.h"

namespace remnants_test {

const Built& built(sample::RemnantsVariant variant) {
    static testkit::TempDir dir;
    static std::map<sample::RemnantsVariant, Built> images;
    auto it = images.find(variant);
    if (it != images.end()) return it->second;
    std::string error;
    auto made = sample::remnants_sample(variant, &error);
    Built b;
    if (!made) {
        ADD_FAILURE() << "the remnants disk cannot be made: " << error;
        return images[variant] = b;
    }
    const char* name = variant == sample::RemnantsVariant::Live ? "remnants.img" : "reformatted.img";
    b.path = testkit::make_image(dir, name, made->spec);
    b.truth = std::move(made->truth);
    return images[variant] = std::move(b);
}

std::vector<uint8_t> read_bytes(const std::string& path, uint64_t offset, size_t n) {
    std::vector<uint8_t> out(n, 0);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    const ssize_t got = ::pread(fd, out.data(), n, static_cast<off_t>(offset));
    ::close(fd);
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

uint32_t seconds_of(const RecordTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    return static_cast<uint32_t>(timegm(&tm));
}

std::optional<GopRead> read_gop(const std::string& path, uint64_t offset) {
    GopRead r;
    const std::vector<uint8_t> head = read_bytes(path, offset, kGopHeaderSize);
    if (head.size() != kGopHeaderSize) return std::nullopt;
    std::memcpy(&r.header, head.data(), sizeof r.header);
    const uint32_t length = r.header.gop_length;
    if (length < kGopHeaderSize || length > kMaxGopLength) return std::nullopt;
    const std::vector<uint8_t> record = read_bytes(path, offset, length + kTrailerSize);
    if (record.size() != length + kTrailerSize) return std::nullopt;
    std::memcpy(&r.trailer, record.data() + length, sizeof r.trailer);
    const uint32_t count = r.header.frame_count;
    if (count < 1 || count > kMaxGopFrames) return r;
    uint64_t sum = kGopHeaderSize;
    for (uint32_t i = 0; i < count; ++i) sum += static_cast<uint64_t>(frame_bytes(r.header.frames[i]));
    r.table_adds_up = sum == length;
    if (!r.table_adds_up) return r;
    size_t at = kGopHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        const auto n = static_cast<size_t>(frame_bytes(r.header.frames[i]));
        r.frames.emplace_back(record.begin() + static_cast<ptrdiff_t>(at),
                              record.begin() + static_cast<ptrdiff_t>(at + n));
        at += n;
    }
    return r;
}

bool key_frame_decodes(const std::vector<uint8_t>& frame, int* width, int* height) {
    const AVCodec* decoder = avcodec_find_decoder(AV_CODEC_ID_H264);
    decode::CodecContextPtr c(avcodec_alloc_context3(decoder));
    decode::FramePtr picture(av_frame_alloc());
    decode::PacketPtr packet(av_packet_alloc());
    if (!decoder || !c || !picture || !packet || avcodec_open2(c.get(), decoder, nullptr) < 0) return false;
    std::vector<uint8_t> padded(frame);
    padded.resize(frame.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet->data = padded.data();
    packet->size = static_cast<int>(frame.size());
    if (avcodec_send_packet(c.get(), packet.get()) < 0) return false;
    avcodec_send_packet(c.get(), nullptr);
    if (avcodec_receive_frame(c.get(), picture.get()) != 0) return false;
    if (width) *width = picture->width;
    if (height) *height = picture->height;
    return !picture->decode_error_flags && picture->width > 0;
}

DvrSuperBlock super_block(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const off_t size = fd >= 0 ? ::lseek(fd, 0, SEEK_END) : 0;
    if (fd >= 0) ::close(fd);
    DvrSuperBlock sb{};
    const std::vector<uint8_t> bytes =
        read_bytes(path, static_cast<uint64_t>(size) / kSectorSize / 2 * kSectorSize, sizeof sb);
    if (bytes.size() == sizeof sb) std::memcpy(&sb, bytes.data(), sizeof sb);
    return sb;
}

std::pair<uint64_t, uint64_t> block_of(const DvrSuperBlock& sb, uint64_t offset) {
    const uint64_t bs = static_cast<uint64_t>(sb.block_size);
    const uint64_t area2 = uint64_t{sb.area2_sector} * kSectorSize;
    const uint64_t base = offset >= area2 ? area2 : uint64_t{sb.area1_sector} * kSectorSize;
    const uint64_t begin = base + (offset - base) / bs * bs;
    return {begin, begin + bs};
}

std::vector<std::pair<uint64_t, uint64_t>> stored_ranges(const std::string& path) {
    const DvrSuperBlock sb = super_block(path);
    const std::vector<uint8_t> info =
        read_bytes(path, uint64_t{sb.info_sector} * kSectorSize, size_t{sb.info_sectors} * kSectorSize);
    const std::vector<uint8_t> maps =
        read_bytes(path, uint64_t{sb.map_sector} * kSectorSize, size_t{sb.map_sectors} * kSectorSize);
    const uint32_t slots = sb.map_sectors_per_channel * kSectorSize / 2;
    const uint64_t bs = static_cast<uint64_t>(sb.block_size);
    std::vector<std::pair<uint64_t, uint64_t>> out;
    for (int32_t c = 0; c < sb.channel_count && size_t(c + 1) * 32 <= info.size(); ++c) {
        uint32_t rec[8];
        std::memcpy(rec, info.data() + size_t(c) * 32, sizeof rec);
        if (rec[0] == 0 && rec[1] == 0) continue;  // nothing stored
        uint32_t slot = rec[3];
        for (uint32_t step = 0; step < slots; ++step, slot = (slot + 1) % slots) {
            const size_t at = (size_t(c) * slots + slot) * 2;
            if (at + 2 > maps.size()) break;
            uint16_t block = 0;
            std::memcpy(&block, maps.data() + at, 2);
            if (block == 0) break;
            const uint64_t first = block >= sb.area2_block
                                       ? uint64_t{sb.area2_sector} * kSectorSize + (block - sb.area2_block) * bs
                                       : uint64_t{sb.area1_sector} * kSectorSize + (block - 1u) * bs;
            const uint64_t from = step == 0 ? rec[4] : 0;
            const uint64_t to = slot == rec[5] ? rec[6] : bs;
            out.emplace_back(first + from, first + to);
            if (slot == rec[5]) break;
        }
    }
    return out;
}

bool overlaps(uint64_t begin, uint64_t end, const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
    for (const auto& [b, e] : ranges) {
        if (begin < e && b < end) return true;
    }
    return false;
}

}  // namespace remnants_test
