// The capture image stored under a capture log record's time.
#include <cstring>

#include "storage/api_state.h"
#include "storage/channel_handle.h"

namespace {

struct CaptureImageHeader {
    uint32_t time;
    int32_t length;  // the image takes length + 4 bytes after the header
    uint8_t unused[8];
};
static_assert(sizeof(CaptureImageHeader) == 16);

// Bytes of the image behind a header; -1 for a length that no image can have.
int64_t image_bytes(const CaptureImageHeader& h) {
    const int64_t n = int64_t{h.length} + 4;
    return n >= 0 ? n : -1;
}

int32_t read_header(int32_t fd, CaptureImageHeader* h) {
    std::memset(h, 0, sizeof *h);
    const int32_t n = backup_read(fd, h, sizeof *h);
    return n <= 0 ? n : 1;
}

}  // namespace

int32_t api_read_capture_image(uint32_t time, uint8_t* buffer, int32_t size) {
    ApiState& st = api_state();
    std::lock_guard<std::mutex> guard(st.lock);
    const uint32_t aligned = api_align_time(time, 0);
    const VolumeRecord* v = api_session();
    if (aligned == 0 || v == nullptr || buffer == nullptr || size < 0) return kApiRefused;
    const int32_t channel = capture_image_channel(static_cast<int32_t>(v->channel_count));
    if (channel < 0) return kApiRefused;

    ChannelHandle ch(backup_open(channel));
    if (ch.fd() < 0) return ch.fd();
    int32_t rc = backup_locate_index(ch.fd(), static_cast<int32_t>(aligned), nullptr);
    if (rc != 0) {
        dvrfs_trace("locat index error .. continue\n");
        return rc;
    }
    CaptureImageHeader h;
    if ((rc = read_header(ch.fd(), &h)) <= 0) return rc;
    while (static_cast<int32_t>(h.time) < static_cast<int32_t>(time)) {
        if (image_bytes(h) < 0) return kApiRefused;
        rc = backup_lseek(ch.fd(), image_bytes(h), SEEK_CURRENT);
        if (rc != 0) {
            dvrfs_trace("lseek Error %s", dvrfs_strerror(rc));
            return rc;
        }
        if ((rc = read_header(ch.fd(), &h)) <= 0) return rc;
    }
    // The caller's buffer bounds the image: a record that does not fit is refused whole.
    const int64_t n = image_bytes(h);
    if (n < 0 || n > size) return kApiRefused;
    return backup_read(ch.fd(), buffer, static_cast<int32_t>(n));
}
