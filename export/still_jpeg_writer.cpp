// RGB rows to a baseline JPEG file through libjpeg. The library's fatal errors end in
// error_exit, which must not return into the library: it jumps back to compress(), whose frame
// and the library's frames hold no object with a destructor, so the jump skips nothing. The
// compression state lives in the caller's JpegJob, not in the frame that calls setjmp.
#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

#include "export/still_i.h"

namespace {

struct JpegJob {
    jpeg_error_mgr err;  // first: the library hands error_exit a pointer to it
    std::jmp_buf jump;
    jpeg_compress_struct cinfo;
    char message[JMSG_LENGTH_MAX];
};

JpegJob* job_of(j_common_ptr cinfo) {
    return reinterpret_cast<JpegJob*>(cinfo->err);
}

[[noreturn]] void fatal_exit(j_common_ptr cinfo) {
    JpegJob* job = job_of(cinfo);
    (*cinfo->err->format_message)(cinfo, job->message);
    std::longjmp(job->jump, 1);
}

// Warnings and trace lines stay out of standard error; a corrupt-data warning cannot arise
// while compressing.
void quiet(j_common_ptr) {}

struct JpegInput {
    std::FILE* file;
    const uint8_t* rgb;
    int width;
    int height;
    int quality;
};

void run_compression(JpegJob* job, const JpegInput& in) {
    jpeg_compress_struct* c = &job->cinfo;
    jpeg_stdio_dest(c, in.file);
    c->image_width = static_cast<JDIMENSION>(in.width);
    c->image_height = static_cast<JDIMENSION>(in.height);
    c->input_components = 3;
    c->in_color_space = JCS_RGB;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, in.quality, TRUE);
    jpeg_start_compress(c, TRUE);
    // The row array comes from the library's per-image pool, freed with the object.
    const size_t rows = static_cast<size_t>(in.height);
    auto* array = static_cast<JSAMPARRAY>((*c->mem->alloc_large)(
        reinterpret_cast<j_common_ptr>(c), JPOOL_IMAGE, rows * sizeof(JSAMPROW)));
    const size_t stride = static_cast<size_t>(in.width) * 3;
    // The library reads input rows and never writes them.
    for (size_t y = 0; y < rows; ++y) array[y] = const_cast<JSAMPROW>(in.rgb + y * stride);
    jpeg_write_scanlines(c, array, static_cast<JDIMENSION>(in.height));
    jpeg_finish_compress(c);
}

// Returns 0, or -1 after a fatal error of the library with its text in job->message.
int compress(JpegJob* job, const JpegInput& in) {
    job->cinfo.err = jpeg_std_error(&job->err);
    job->err.error_exit = fatal_exit;
    job->err.output_message = quiet;
    if (setjmp(job->jump) != 0) {
        jpeg_destroy_compress(&job->cinfo);
        return -1;
    }
    jpeg_create_compress(&job->cinfo);
    run_compression(job, in);
    jpeg_destroy_compress(&job->cinfo);
    return 0;
}

}  // namespace

namespace {

bool jpeg_input_ok(const uint8_t* rgb, int width, int height, int quality) {
    return rgb != nullptr && width > 0 && height > 0 && quality >= 0 && quality <= 100;
}

// Compresses into the open file and closes it; a file that failed is removed.
int32_t write_jpeg(std::FILE* file, const std::string& path, const uint8_t* rgb, int width,
                   int height, int quality, std::string* error) {
    auto job = std::make_unique<JpegJob>();
    const int rc = compress(job.get(), JpegInput{file, rgb, width, height, quality});
    const bool flushed = std::fflush(file) == 0 && std::ferror(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (rc != 0) {
        still_remove_partial(path);
        return still_fail(error, STILL_ERR_JPEG, job->message);
    }
    if (!flushed || !closed) {
        still_remove_partial(path);
        return still_fail(error, STILL_ERR_WRITE, still_text("Cannot write ", path));
    }
    return 0;
}

}  // namespace

int32_t still_write_jpeg(const std::string& path, const uint8_t* rgb, int width, int height,
                         int quality, std::string* error) {
    if (!jpeg_input_ok(rgb, width, height, quality))
        return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return still_fail(error, STILL_ERR_OPEN, still_text("Cannot open ", path));
    return write_jpeg(file, path, rgb, width, height, quality, error);
}

int32_t still_save_jpeg(const std::string& path, const uint8_t* rgb, int width, int height,
                        int quality, std::string* written, std::string* error) {
    if (!jpeg_input_ok(rgb, width, height, quality))
        return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    std::string made;
    std::FILE* file = still_open_new(path, &made, error);
    if (file == nullptr) return STILL_ERR_OPEN;
    const int32_t rc = write_jpeg(file, made, rgb, width, height, quality, error);
    if (rc == 0 && written != nullptr) *written = made;
    return rc;
}

int32_t still_dib_to_jpeg(const StillDib& dib, int quality, const std::string& path,
                          std::string* error) {
    if (quality < 0 || quality > 100)
        return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    std::vector<uint8_t> rgb;
    const int32_t rc = still_dib_to_rgb(dib, &rgb, error);
    if (rc != 0) return rc;
    return still_write_jpeg(path, rgb.data(), dib.width, dib.height, quality, error);
}

int32_t still_bmp_file_to_jpeg(const std::string& bmp_path, const std::string& jpeg_path,
                               std::string* error, std::string* written) {
    StillDib dib;
    int32_t rc = still_read_bmp_file(bmp_path, &dib, error);
    if (rc != 0) return rc;
    std::vector<uint8_t> rgb;
    rc = still_dib_to_rgb(dib, &rgb, error);
    if (rc != 0) return rc;
    return still_save_jpeg(jpeg_path, rgb.data(), dib.width, dib.height, kStillJpegQuality,
                           written, error);
}
