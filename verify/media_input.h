// A media file opened for reading its packets with libavformat, closed with the object.
#pragma once

#include <string>

struct AVFormatContext;

namespace verify {

class MediaInput {
public:
    MediaInput() = default;
    ~MediaInput();
    MediaInput(const MediaInput&) = delete;
    MediaInput& operator=(const MediaInput&) = delete;

    // Opens the file and reads its stream information; 0, or -1 with a message.
    int open(const std::string& path, std::string* error);
    AVFormatContext* context() const { return ctx_; }

private:
    AVFormatContext* ctx_ = nullptr;
};

}  // namespace verify
