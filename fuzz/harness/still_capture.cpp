// The still_capture target: a BMP file through the reader, the conversion to RGB rows, the JPEG
// writer, and the BMP writer whose file must read back to the same rows.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "export/still_capture.h"
#include "fuzz/harness/harness.h"

namespace {

namespace fs = std::filesystem;

// Larger pictures are read and converted but not written, to keep each input quick.
constexpr uint64_t kWrittenPixels = uint64_t{1} << 20;

[[noreturn]] void broken(const char* what, const std::string& error) {
    std::fprintf(stderr, "still_capture: %s: %s\n", what, error.c_str());
    std::abort();
}

// A folder of its own for this input's files, removed afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        std::string name = (fs::temp_directory_path() / "quillon-fuzz-still-XXXXXX").string();
        if (mkdtemp(name.data()) != nullptr) path_ = name;
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

void write_and_read_back(const StillDib& dib, const std::vector<uint8_t>& rgb) {
    ScratchDir dir;
    if (dir.path().empty()) return;
    std::string error;
    // The library refuses sides above 65500 through its fatal error; nothing else may fail.
    const int32_t jpeg =
        still_dib_to_jpeg(dib, kStillJpegQuality, dir.path() + "/still.jpg", &error);
    const bool too_wide = dib.width > 65500 || dib.height > 65500;
    if (jpeg != 0 && !(jpeg == STILL_ERR_JPEG && too_wide)) broken("JPEG writer", error);
    if (jpeg != 0 && fs::exists(dir.path() + "/still.jpg"))
        broken("JPEG writer left its file", error);

    const std::string bmp = dir.path() + "/still.bmp";
    if (still_write_bmp(bmp, rgb.data(), dib.width, dib.height, &error) != 0)
        broken("BMP writer", error);
    StillDib back;
    std::vector<uint8_t> back_rgb;
    if (still_read_bmp_file(bmp, &back, &error) != 0) broken("reading our BMP", error);
    if (still_dib_to_rgb(back, &back_rgb, &error) != 0) broken("converting our BMP", error);
    if (back_rgb != rgb) broken("our BMP", "pixels differ");
}

}  // namespace

namespace fuzz {

int still_capture(const uint8_t* data, size_t size) {
    StillDib dib;
    std::string error;
    if (still_parse_bmp(data, size, &dib, &error) != 0) return 0;
    // Whatever the reader accepts, the conversion converts.
    std::vector<uint8_t> rgb;
    if (still_dib_to_rgb(dib, &rgb, &error) != 0) broken("DIB rows", error);
    if (static_cast<uint64_t>(dib.width) * static_cast<uint64_t>(dib.height) <= kWrittenPixels)
        write_and_read_back(dib, rgb);
    return 0;
}

}  // namespace fuzz
