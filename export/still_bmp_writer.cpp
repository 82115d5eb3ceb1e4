// 24-bit BMP files from RGB rows, and the unchanged copy of a BMP file.
#include <cstdio>
#include <memory>

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

namespace {

int32_t write_bmp(std::FILE* file, const std::string& path, const uint8_t* rgb, int width,
                  int height, uint64_t stride, std::string* error) {
    uint8_t header[kHeaderBytes] = {};
    fill_headers(header, width, height,
                 static_cast<uint32_t>(stride * static_cast<uint64_t>(height)));
    const bool written = std::fwrite(header, 1, sizeof header, file) == sizeof header &&
                         write_rows(file, rgb, width, height, static_cast<size_t>(stride));
    return finish(file, written, path, error);
}

// The row stride of a picture the BMP writer can store; 0 when it cannot.
uint64_t bmp_stride(const uint8_t* rgb, int width, int height) {
    const uint64_t stride = still_row_stride(width, 24);
    if (rgb == nullptr || width <= 0 || height <= 0 || stride == 0 ||
        stride * static_cast<uint64_t>(height) > UINT32_MAX - kHeaderBytes)
        return 0;
    return stride;
}

}  // namespace

int32_t still_write_bmp(const std::string& path, const uint8_t* rgb, int width, int height,
                        std::string* error) {
    const uint64_t stride = bmp_stride(rgb, width, height);
    if (stride == 0) return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return still_fail(error, STILL_ERR_OPEN, still_text("Cannot open ", path));
    return write_bmp(file, path, rgb, width, height, stride, error);
}

int32_t still_save_bmp(const std::string& path, const uint8_t* rgb, int width, int height,
                       std::string* written, std::string* error) {
    const uint64_t stride = bmp_stride(rgb, width, height);
    if (stride == 0) return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    std::string made;
    std::FILE* file = still_open_new(path, &made, error);
    if (file == nullptr) return STILL_ERR_OPEN;
    const int32_t rc = write_bmp(file, made, rgb, width, height, stride, error);
    if (rc == 0 && written != nullptr) *written = made;
    return rc;
}

int32_t still_copy_file(const std::string& from, const std::string& to, std::string* error,
                        std::string* written) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (in == nullptr) return still_fail(error, STILL_ERR_OPEN, still_text("Cannot open ", from));
    // A new file, never an existing one: not the source itself, not an earlier still.
    std::string made;
    std::FILE* out = still_open_new(to, &made, error);
    if (out == nullptr) {
        std::fclose(in);
        return STILL_ERR_OPEN;
    }
    auto block = std::make_unique<uint8_t[]>(kStillCopyBlock);
    bool copied = true;
    size_t n = 0;
    while (copied && (n = std::fread(block.get(), 1, kStillCopyBlock, in)) > 0)
        copied = std::fwrite(block.get(), 1, n, out) == n;
    const bool read_ok = std::ferror(in) == 0;
    std::fclose(in);
    const int32_t rc = finish(out, copied && read_ok, made, error);
    if (rc != 0 && !read_ok)
        return still_fail(error, STILL_ERR_READ, still_text("Cannot read ", from));
    if (rc == 0 && written != nullptr) *written = made;
    return rc;
}

int32_t still_save_bytes(const std::string& path, const uint8_t* data, size_t size,
                         std::string* written, std::string* error) {
    if (data == nullptr && size > 0) return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    std::string made;
    std::FILE* out = still_open_new(path, &made, error);
    if (out == nullptr) return STILL_ERR_OPEN;
    const bool ok = size == 0 || std::fwrite(data, 1, size, out) == size;
    const int32_t rc = finish(out, ok, made, error);
    if (rc == 0 && written != nullptr) *written = made;
    return rc;
}
