// Still capture: the picture the display wrote as a BMP file, saved under the user's name as a
// copy of that file or as a baseline JPEG; a reader of BMP files that trusts no header field;
// the conversion of a device-independent bitmap (DIB) to RGB rows; writers of 24-bit BMP and
// of JPEG files from RGB rows.
//
// Results: 0 for success, a negative StillError for failure with a message in *error (when
// error is not null). Nothing is printed. A file that fails half-way is removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum StillError : int32_t {
    STILL_ERR_INPUT = -1,      // bad arguments or a DIB that cannot be converted
    STILL_ERR_BIT_COUNT = -2,  // a bit count other than 1, 4, 8, 16, 24, 32
    STILL_ERR_OPEN = -3,       // a file that cannot be opened or created
    STILL_ERR_WRITE = -4,      // a write, flush or close that failed
    STILL_ERR_READ = -5,       // a read that failed or came up short
    STILL_ERR_FORMAT = -6,     // a BMP file whose headers are wrong, unsupported or lie
    STILL_ERR_JPEG = -7,       // the JPEG library stopped with a fatal error; *error is its text
    STILL_ERR_FOLDER = -8,     // the capture folder cannot be found or created
};

// The capture folder used when the user names none, below the home folder.
inline constexpr const char* kStillCaptureFolder = "Storage/Capture";
// The display's picture waiting to be saved, in the per-user cache folder.
inline constexpr const char* kStillTempName = "temp.dat";
// The BMP copy moves the file through one buffer of this size.
inline constexpr size_t kStillCopyBlock = 51200;
// Quality of every captured JPEG.
inline constexpr int kStillJpegQuality = 100;
// Largest picture the reader accepts, in pixels: a bigger one would need gigabytes of memory
// once converted to RGB (a 1-bit file holds 24 times fewer bytes than its RGB rows).
inline constexpr uint64_t kStillMaxPixels = uint64_t{1} << 26;

// A DIB: the pixel rows as a BMP file stores them, each padded to a multiple of 4 bytes, the
// bottom row first unless top_down is set.
struct StillDib {
    int32_t width = 0;
    int32_t height = 0;  // number of rows, positive
    bool top_down = false;
    uint16_t bit_count = 0;
    // For bit counts up to 8: 2^bit_count entries of 4 bytes (blue, green, red, unused).
    std::vector<uint8_t> colors;
    std::vector<uint8_t> bits;
};

// Bytes of one stored row: bit_count * width bits rounded up to 32 bits. 0 when it overflows.
uint64_t still_row_stride(int64_t width, uint32_t bit_count);

// BMP reader. Accepts the 12-byte core header and the 40- to 124-byte information headers,
// bit counts 1, 4, 8, 16, 24, 32, uncompressed, or bit fields equal to the uncompressed layout
// (5-5-5 for 16 bits, 8-8-8 for 32); negative heights (top-down rows). Short palettes are
// filled up with black.
int32_t still_parse_bmp(const uint8_t* data, size_t size, StillDib* dib, std::string* error);
int32_t still_read_bmp_file(const std::string& path, StillDib* dib, std::string* error);

// DIB to RGB: fills rgb with height rows of 3 * width bytes (red, green, blue), top row first.
// Errors "Invalid input data" and "Invalid bitmap bit count".
int32_t still_dib_to_rgb(const StillDib& dib, std::vector<uint8_t>* rgb, std::string* error);

// Writes top-down RGB24 rows (3 * width bytes each, unpadded) as a 24-bit bottom-up BMP file
// with a 40-byte information header and rows padded to 4 bytes. Creates or truncates path: for
// the program's own temporary files only.
int32_t still_write_bmp(const std::string& path, const uint8_t* rgb, int width, int height,
                        std::string* error);
// The same for a user's still: never replaces a file. When path is taken the still goes to
// "name (2).bmp", "name (3).bmp", ...; *written (when not null) receives the name made.
int32_t still_save_bmp(const std::string& path, const uint8_t* rgb, int width, int height,
                       std::string* written, std::string* error);

// Writes top-down RGB24 rows as a baseline JPEG of the given quality (0..100). "Cannot open "
// and the path when the file cannot be created; STILL_ERR_JPEG with the library's message when
// the library refuses (for instance a side above 65500).
int32_t still_write_jpeg(const std::string& path, const uint8_t* rgb, int width, int height,
                         int quality, std::string* error);
// The same for a user's still, under a new name as still_save_bmp chooses it.
int32_t still_save_jpeg(const std::string& path, const uint8_t* rgb, int width, int height,
                        int quality, std::string* written, std::string* error);

// DIB to JPEG file: the DIB's rows converted and written with still_write_jpeg. Nothing is
// created when the DIB cannot be converted.
int32_t still_dib_to_jpeg(const StillDib& dib, int quality, const std::string& path,
                          std::string* error);

// BMP file to JPEG file at kStillJpegQuality, under a new name as still_save_bmp chooses it.
int32_t still_bmp_file_to_jpeg(const std::string& bmp_path, const std::string& jpeg_path,
                               std::string* error, std::string* written = nullptr);

// Copies a file unchanged in kStillCopyBlock blocks into a new file: "to", or "to" numbered as
// still_save_bmp numbers it when taken. *written (when not null) receives the name made.
int32_t still_copy_file(const std::string& from, const std::string& to, std::string* error,
                        std::string* written = nullptr);
// Bytes held in memory (a picture read from the disk) into a new file, named as
// still_copy_file names it.
int32_t still_save_bytes(const std::string& path, const uint8_t* data, size_t size,
                         std::string* written, std::string* error);

// The folder a capture goes to, ending in '/': the given one, or $HOME/Storage/Capture when it
// is empty. Empty when the home folder is unknown.
std::string still_capture_folder(const std::string& folder);
// Creates every missing level of the folder.
int32_t still_make_folder(const std::string& folder, std::string* error);

enum StillFormat : int32_t {
    STILL_FORMAT_BMP = 0,   // "BITMAP(*.BMP)"
    STILL_FORMAT_JPEG = 1,  // "JPEG(*.JPG)"
};

// What the capture dialog returns.
struct StillCaptureRequest {
    std::string folder;  // empty: the capture folder
    std::string name;    // file name without extension
    int32_t format = STILL_FORMAT_BMP;
};

// The file a request saves to: folder/name.bmp or folder/name.jpg (numbered when taken).
std::string still_capture_path(const StillCaptureRequest& request);

// Saves the display's picture (the BMP file at temp_path) as the request asks: creates the
// folder, copies the file or converts it to JPEG, then deletes the temporary file whatever
// happened. An existing file is never replaced: the still is saved as "name (2).jpg", ...
// *saved_path (when not null) receives the file written.
int32_t still_save_capture(const std::string& temp_path, const StillCaptureRequest& request,
                           std::string* saved_path, std::string* error);
