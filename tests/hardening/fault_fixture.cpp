#include "tests/hardening/fault_fixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "disk/channel_i.h"
#include "disk/disk_i.h"

namespace hardening {
namespace {

size_t entries(const char* dir) {
    size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        ++n;
    }
    return n;
}

}  // namespace

size_t thread_count() { return entries("/proc/self/task"); }

// The directory iterator holds one descriptor of its own while it counts.
size_t fd_count() { return entries("/proc/self/fd"); }

LeakGuard::LeakGuard() : threads_(thread_count()), fds_(fd_count()) {}

void LeakGuard::expect_back() const {
    // api_exit returns once the playback thread said it stopped; it may still be unwinding.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (thread_count() > threads_ && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(thread_count(), threads_) << "a thread outlived the test";
    EXPECT_EQ(fd_count(), fds_) << "a descriptor outlived the test";
}

uint64_t channel_sector(int32_t channel, int64_t offset) {
    const int32_t fd = backup_open(channel);
    EXPECT_GE(fd, 0) << "channel " << channel;
    if (fd < 0) return 0;
    EXPECT_EQ(backup_lseek(fd, offset, SEEK_HEAD), 0) << "channel " << channel << " offset " << offset;
    ChannelPosition p{};
    backup_tell(fd, &p);
    backup_close(fd);
    const DiskState& st = disk_state();
    const uint64_t relative = st.ops == &kDvrfsOps ? dvrfs_block_sector(p.block, p.offset)
                                                   : bkfs_block_sector(p.block, p.offset);
    return st.origin + relative;
}

size_t occurrences(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

}  // namespace hardening
