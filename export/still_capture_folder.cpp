// Where a capture goes and the capture command's saving step, without any window.
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "export/still_i.h"

namespace {

bool valid_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

int32_t save(const std::string& temp_path, const StillCaptureRequest& request,
             std::string* saved_path, std::string* error) {
    if (request.format != STILL_FORMAT_BMP && request.format != STILL_FORMAT_JPEG)
        return still_fail(error, STILL_ERR_INPUT, "Invalid input data");
    if (!valid_name(request.name))
        return still_fail(error, STILL_ERR_INPUT, still_text("Invalid file name: ", request.name));
    const std::string folder = still_capture_folder(request.folder);
    if (folder.empty())
        return still_fail(error, STILL_ERR_FOLDER, "No home folder for the capture folder");
    int32_t rc = still_make_folder(folder, error);
    if (rc != 0) return rc;
    const std::string path = still_capture_path(request);
    std::string written;
    rc = request.format == STILL_FORMAT_BMP
             ? still_copy_file(temp_path, path, error, &written)
             : still_bmp_file_to_jpeg(temp_path, path, error, &written);
    if (rc == 0 && saved_path != nullptr) *saved_path = written;
    return rc;
}

}  // namespace

std::string still_capture_folder(const std::string& folder) {
    std::string path = folder;
    if (path.empty()) {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') return {};
        path = home;
        if (path.back() != '/') path += '/';
        path += kStillCaptureFolder;
    }
    if (path.back() != '/') path += '/';
    return path;
}

int32_t still_make_folder(const std::string& folder, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!std::filesystem::is_directory(folder, ec))
        return still_fail(error, STILL_ERR_FOLDER, still_text("Cannot create the folder ", folder));
    return 0;
}

std::string still_capture_path(const StillCaptureRequest& request) {
    const std::string folder = still_capture_folder(request.folder);
    if (folder.empty()) return {};
    std::string path = folder;
    path += request.name;
    path += request.format == STILL_FORMAT_JPEG ? ".jpg" : ".bmp";
    return path;
}

int32_t still_save_capture(const std::string& temp_path, const StillCaptureRequest& request,
                           std::string* saved_path, std::string* error) {
    const int32_t rc = save(temp_path, request, saved_path, error);
    // The display's picture is spent whatever happened; the next capture writes a new one.
    std::error_code ec;
    std::filesystem::remove(temp_path, ec);
    return rc;
}
