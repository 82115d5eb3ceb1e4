// Captures what the process writes to standard error (the trace goes there) while alive.
#pragma once

#include <cstdio>
#include <string>

namespace testkit {

class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Everything written since the capture began.
    std::string text();

private:
    std::FILE* file_ = nullptr;
    int saved_fd_ = -1;
};

}  // namespace testkit
