// BMP files into DIBs. Every offset, size and count of the headers is checked against the
// file's size before anything is read through it.
#include <cstring>
#include <fstream>
#include <iterator>

#include "export/still_i.h"

namespace {

constexpr size_t kFileHeader = 14;
constexpr uint32_t kCoreHeader = 12;
constexpr uint32_t kInfoHeader = 40;
constexpr uint32_t kRgb = 0;
constexpr uint32_t kBitFields = 3;

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// What the headers say, before the pixels are touched.
struct BmpLayout {
    uint32_t header_size = 0;
    int64_t width = 0;
    int64_t height = 0;  // negative: top-down
    uint16_t planes = 0;
    uint16_t bit_count = 0;
    uint32_t compression = kRgb;
    uint32_t colors_used = 0;
    uint64_t palette_at = 0;
    uint32_t palette_entry = 4;  // bytes per palette entry: 3 in core headers
    uint64_t pixels_at = 0;
};

bool known_header_size(uint32_t size) {
    return size == kCoreHeader || size == kInfoHeader || size == 52 || size == 56 || size == 108 ||
           size == 124;
}

int32_t read_headers(const uint8_t* data, size_t size, BmpLayout* l, std::string* error) {
    if (size < kFileHeader + 4) return still_fail(error, STILL_ERR_FORMAT, "BMP file too short");
    if (data[0] != 'B' || data[1] != 'M')
        return still_fail(error, STILL_ERR_FORMAT, "Not a BMP file");
    l->pixels_at = le32(data + 10);
    l->header_size = le32(data + kFileHeader);
    if (!known_header_size(l->header_size))
        return still_fail(
            error, STILL_ERR_FORMAT,
            still_text("Unsupported BMP header size ", std::to_string(l->header_size)));
    if (kFileHeader + l->header_size > size)
        return still_fail(error, STILL_ERR_FORMAT, "BMP header runs past the end of the file");
    const uint8_t* h = data + kFileHeader;
    l->palette_at = kFileHeader + l->header_size;
    if (l->header_size == kCoreHeader) {
        l->width = le16(h + 4);
        l->height = le16(h + 6);
        l->planes = le16(h + 8);
        l->bit_count = le16(h + 10);
        l->palette_entry = 3;
        return 0;
    }
    l->width = static_cast<int32_t>(le32(h + 4));
    l->height = static_cast<int32_t>(le32(h + 8));
    l->planes = le16(h + 12);
    l->bit_count = le16(h + 14);
    l->compression = le32(h + 16);
    l->colors_used = le32(h + 32);
    return 0;
}

bool known_bit_count(uint16_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Bit fields are accepted when they describe the uncompressed layout; the masks follow a
// 40-byte header and lie at the same place inside the longer ones.
int32_t check_compression(const uint8_t* data, size_t size, BmpLayout* l, std::string* error) {
    if (l->compression == kRgb) return 0;
    if (l->compression != kBitFields || (l->bit_count != 16 && l->bit_count != 32))
        return still_fail(
            error, STILL_ERR_FORMAT,
            still_text("Unsupported BMP compression ", std::to_string(l->compression)));
    const size_t masks_at = kFileHeader + kInfoHeader;
    if (masks_at + 12 > size)
        return still_fail(error, STILL_ERR_FORMAT, "BMP bit fields run past the end of the file");
    const uint32_t red = le32(data + masks_at), green = le32(data + masks_at + 4),
                   blue = le32(data + masks_at + 8);
    const bool plain = l->bit_count == 16
                           ? red == 0x7C00 && green == 0x03E0 && blue == 0x001F
                           : red == 0xFF0000 && green == 0x00FF00 && blue == 0x0000FF;
    if (!plain) return still_fail(error, STILL_ERR_FORMAT, "Unsupported BMP bit fields");
    if (l->header_size == kInfoHeader) l->palette_at += 12;
    return 0;
}

int32_t check_geometry(const BmpLayout& l, std::string* error) {
    if (l.planes != 1)
        return still_fail(error, STILL_ERR_FORMAT,
                          still_text("BMP plane count ", std::to_string(l.planes)));
    if (!known_bit_count(l.bit_count))
        return still_fail(error, STILL_ERR_BIT_COUNT, "Invalid bitmap bit count");
    const int64_t rows = l.height < 0 ? -l.height : l.height;
    if (l.width <= 0 || rows == 0)
        return still_fail(error, STILL_ERR_FORMAT, "BMP picture has no pixels");
    if (static_cast<uint64_t>(l.width) * static_cast<uint64_t>(rows) > kStillMaxPixels)
        return still_fail(error, STILL_ERR_FORMAT, "BMP picture too large");
    return 0;
}

// The palette lies between the headers and the pixels; the pixels end inside the file.
int32_t check_extents(const BmpLayout& l, size_t size, uint64_t palette_bytes, uint64_t image_bytes,
                      std::string* error) {
    if (l.palette_at + palette_bytes > l.pixels_at)
        return still_fail(error, STILL_ERR_FORMAT, "BMP pixel offset points into the headers");
    if (l.pixels_at > size || image_bytes > size - l.pixels_at)
        return still_fail(error, STILL_ERR_FORMAT, "BMP pixel data runs past the end of the file");
    return 0;
}

uint32_t palette_entries(const BmpLayout& l) {
    if (l.bit_count > 8) return 0;
    const uint32_t full = 1u << l.bit_count;
    if (l.colors_used == 0 || l.colors_used > full) return full;
    return l.colors_used;
}

void copy_palette(const uint8_t* data, const BmpLayout& l, uint32_t entries, StillDib* dib) {
    dib->colors.assign(l.bit_count <= 8 ? (size_t{4} << l.bit_count) : 0, 0);
    const uint8_t* p = data + l.palette_at;
    for (uint32_t i = 0; i < entries; ++i, p += l.palette_entry)
        std::memcpy(&dib->colors[4 * i], p, 3);
}

}  // namespace

int32_t still_parse_bmp(const uint8_t* data, size_t size, StillDib* dib, std::string* error) {
    if (data == nullptr || dib == nullptr)
        return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    BmpLayout l;
    int32_t rc = read_headers(data, size, &l, error);
    if (rc == 0) rc = check_compression(data, size, &l, error);
    if (rc == 0) rc = check_geometry(l, error);
    if (rc != 0) return rc;
    const uint64_t rows = static_cast<uint64_t>(l.height < 0 ? -l.height : l.height);
    const uint64_t image_bytes = still_row_stride(l.width, l.bit_count) * rows;
    const uint32_t entries = palette_entries(l);
    rc = check_extents(l, size, uint64_t{entries} * l.palette_entry, image_bytes, error);
    if (rc != 0) return rc;
    dib->width = static_cast<int32_t>(l.width);
    dib->height = static_cast<int32_t>(rows);
    dib->top_down = l.height < 0;
    dib->bit_count = l.bit_count;
    copy_palette(data, l, entries, dib);
    dib->bits.assign(data + l.pixels_at, data + l.pixels_at + image_bytes);
    return 0;
}

int32_t still_read_bmp_file(const std::string& path, StillDib* dib, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return still_fail(error, STILL_ERR_OPEN, still_text("Cannot open ", path));
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    // The largest picture the reader accepts at 32 bits, with room for any headers.
    const auto limit = static_cast<std::streamoff>(kStillMaxPixels * 4 + (1u << 20));
    if (length < 0 || length > limit)
        return still_fail(error, STILL_ERR_FORMAT, still_text("BMP file too large: ", path));
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    in.seekg(0, std::ios::beg);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), length))
        return still_fail(error, STILL_ERR_READ, still_text("Cannot read ", path));
    return still_parse_bmp(bytes.data(), bytes.size(), dib, error);
}
