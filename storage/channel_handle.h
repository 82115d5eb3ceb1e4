// A channel file opened for the length of one call and closed on every way out of it.
#pragma once

#include "disk/disk.h"

class ChannelHandle {
public:
    explicit ChannelHandle(int32_t fd) : fd_(fd) {}
    ~ChannelHandle() {
        if (fd_ >= 0) backup_close(fd_);
    }
    ChannelHandle(const ChannelHandle&) = delete;
    ChannelHandle& operator=(const ChannelHandle&) = delete;

    // The descriptor, or the error that backup_open returned.
    int32_t fd() const { return fd_; }

private:
    int32_t fd_;
};
