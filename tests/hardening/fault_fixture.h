// Whole-core tests over a failing drive: the fault plan installed before anything opens a
// drive, helpers that find where a structure of the mounted volume lies on the drive, and a
// check at the end of every test that no thread and no descriptor outlived it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/fault_drive.h"

namespace hardening {

// Entries of /proc/self/task and /proc/self/fd.
size_t thread_count();
size_t fd_count();

// Remembers the process's threads and descriptors; expect_back() fails the test when they
// have not returned to that count (a thread that is just leaving gets a moment).
class LeakGuard {
public:
    LeakGuard();
    void expect_back() const;

private:
    size_t threads_, fds_;
};

// The absolute drive sector that holds byte `offset` of a channel of the selected volume
// (recorder or backup driver). Fails the test when the channel cannot be opened there.
uint64_t channel_sector(int32_t channel, int64_t offset);

// How many times `needle` occurs in `text`.
size_t occurrences(const std::string& text, const std::string& needle);

}  // namespace hardening
