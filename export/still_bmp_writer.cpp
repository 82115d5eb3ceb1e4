// 24-bit BMP files from RGB rows, and the unchanged copy of a BMP file.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "export/still_i.h"

namespace {

constexpr uint32_t kHeaderBytes = 14 + 40;

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// File header and 40-byte information header of a bottom-up, uncompressed 24-bit picture.
void fill_headers(uint8_t* h, int width, int height, uint32_t image_bytes) {
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, kHeaderBytes + image_bytes);  // file size
    put32(h + 10, kHeaderBytes);               // pixel offset
    put32(h + 14, 40);                         // header size
    put32(h + 18, static_cast<uint32_t>(width));
    put32(h + 22, static_cast<uint32_t>(height));  // positive: bottom row first
    put16(h + 26, 1);                              // planes
    put16(h + 28, 24);                             // bit count
    put32(h + 34, image_bytes);
    put32(h + 38, 2835);  // 72 dots per inch, in dots per metre
    put32(h + 42, 2835);
}

bool write_rows(std::FILE* file, const uint8_t* rgb, int width, int height, size_t stride) {
    std::vector<uint8_t> row(stride, 0);
    const size_t in_stride = static_cast<size_t>(width) * 3;
    for (int y = height - 1; y >= 0; --y) {
        const uint8_t* src = rgb + static_cast<size_t>(y) * in_stride;
        for (size_t x = 0; x < in_stride; x += 3) {
            row[x] = src[x + 2];
            row[x + 1] = src[x + 1];
            row[x + 2] = src[x];
        }
        if (std::fwrite(row.data(), 1, stride, file) != stride) return false;
    }
    return true;
}

// Closes the file; on failure removes it and reports which step failed.
int32_t finish(std::FILE* file, bool written, const std::string& path, std::string* error) {
    const bool flushed = written && std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (flushed && closed) return 0;
    still_remove_partial(path);
    return still_fail(error, STILL_ERR_WRITE, still_text("Cannot write ", path));
}

}  // namespace

int32_t still_write_bmp(const std::string& path, const uint8_t* rgb, int width, int height,
                        std::string* error) {
    const uint64_t stride = still_row_stride(width, 24);
    if (rgb == nullptr || width <= 0 || height <= 0 || stride == 0 ||
        stride * static_cast<uint64_t>(height) > UINT32_MAX - kHeaderBytes)
        return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return still_fail(error, STILL_ERR_OPEN, still_text("Cannot open ", path));
    uint8_t header[kHeaderBytes] = {};
    fill_headers(header, width, height,
                 static_cast<uint32_t>(stride * static_cast<uint64_t>(height)));
    const bool written = std::fwrite(header, 1, sizeof header, file) == sizeof header &&
                         write_rows(file, rgb, width, height, static_cast<size_t>(stride));
    return finish(file, written, path, error);
}

int32_t still_copy_file(const std::string& from, const std::string& to, std::string* error) {
    // Opening the destination truncates it: a copy onto the source itself would empty both.
    std::error_code ec;
    if (std::filesystem::equivalent(from, to, ec))
        return still_fail(error, STILL_ERR_INPUT,
                          still_text("Cannot copy a file onto itself: ", to));
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) return still_fail(error, STILL_ERR_OPEN, still_text("Cannot open ", from));
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (out == nullptr) {
        std::fclose(in);
        return still_fail(error, STILL_ERR_OPEN, still_text("Cannot open ", to));
    }
    auto block = std::make_unique<uint8_t[]>(kStillCopyBlock);
    bool written = true;
    size_t n = 0;
    while (written && (n = std::fread(block.get(), 1, kStillCopyBlock, in)) > 0)
        written = std::fwrite(block.get(), 1, n, out) == n;
    const bool read_ok = std::ferror(in) == 0;
    std::fclose(in);
    const int32_t rc = finish(out, written && read_ok, to, error);
    if (rc != 0 && !read_ok)
        return still_fail(error, STILL_ERR_READ, still_text("Cannot read ", from));
    return rc;
}
