#include "tests/testkit/stderr_capture.h"

#include <unistd.h>

#include <gtest/gtest.h>

namespace testkit {

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_fd_ = ::dup(STDERR_FILENO);
    if (file_ == nullptr || saved_fd_ < 0 || ::dup2(::fileno(file_), STDERR_FILENO) < 0) {
        ADD_FAILURE() << "cannot redirect standard error";
    }
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    if (saved_fd_ >= 0) {
        ::dup2(saved_fd_, STDERR_FILENO);
        ::close(saved_fd_);
    }
    if (file_ != nullptr) std::fclose(file_);
}

std::string StderrCapture::text() {
    std::fflush(stderr);
    std::string out;
    if (file_ == nullptr) return out;
    std::rewind(file_);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
    std::fseek(file_, 0, SEEK_END);
    return out;
}

}  // namespace testkit
