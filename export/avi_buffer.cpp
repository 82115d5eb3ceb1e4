// The AVI writer's write buffer and spilled index: fewer, larger writes and flat memory for long
// exports, without ever leaving the file ahead of what the record knows.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "export/avi_file_i.h"

namespace {

// Entries copied from the temporary file to the output per request.
constexpr size_t kCopyEntries = 4096;

// The state the file holds for certain, restored after a failed flush: whatever part of the
// buffer reached the file is cut off, and the chunks it held are forgotten.
void roll_back(avi_out* avi) {
    const avi_out_mark& m = avi->durable;
    int cut = ::ftruncate(avi->file, static_cast<off_t>(m.pos));
    static_cast<void>(cut);  // should it fail, the next chunk overwrites from pos anyway
    avi->pos = m.pos;
    const uint64_t kept = m.index_count > avi->index_spilled ? m.index_count - avi->index_spilled : 0;
    if (kept < avi->index.size()) avi->index.resize(static_cast<size_t>(kept));
    avi->video_frames = m.video_frames;
    avi->last_frame_pos = m.last_frame_pos;
    avi->last_frame_length = m.last_frame_length;
    for (int t = 0; t < kAviMaxTracks; ++t) {
        avi->tracks[t].bytes_written = m.track_bytes[t];
        avi->tracks[t].chunks_written = m.track_chunks[t];
    }
    avi->buffer.used = 0;
}

// Moves the in-memory entries to the end of the temporary file. They are all durable: the
// buffer was flushed just before. A failed spill keeps them in memory.
void spill_index(avi_out* avi) {
    const size_t bytes = avi->index.size() * sizeof(avi_out_index_entry);
    iovec piece{avi->index.data(), bytes};
    if (!avi_write_all_at(avi->index_file, &piece, 1,
                          avi->index_spilled * sizeof(avi_out_index_entry)))
        return;
    avi->index_spilled += avi->index.size();
    avi->index.clear();
}

// Directory part of the output's name, where the temporary index lives.
std::string directory_of(const char* name) {
    const std::string path(name);
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A file that vanishes when it is closed, in the output's folder (USB sticks and the like carry
// the export, and /tmp may be small). Without O_TMPFILE, which FAT and some network file
// systems lack, a named file is removed at once. -1 when neither works.
int open_unnamed_file(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string pattern = dir + "/.quillon-idx1-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    if (::unlink(pattern.c_str()) != 0) {
        ::close(fd);  // the index then stays in memory
        return -1;
    }
    return fd;
}

}  // namespace

bool avi_write_all_at(int fd, iovec* pieces, int count, uint64_t offset) {
    while (count > 0) {
        if (pieces->iov_len == 0) {
            ++pieces;
            --count;
            continue;
        }
        ssize_t n = ::pwritev(fd, pieces, count, static_cast<off_t>(offset));
        if (n <= 0) return false;
        offset += static_cast<uint64_t>(n);
        auto done = static_cast<size_t>(n);
        while (count > 0 && done >= pieces->iov_len) {
            done -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + done;
            pieces->iov_len -= done;
        }
    }
    return true;
}

avi_out_mark avi_mark_of(const avi_out& avi) {
    avi_out_mark m;
    m.pos = avi.pos;
    m.index_count = avi_out_index_count(&avi);
    m.video_frames = avi.video_frames;
    m.last_frame_pos = avi.last_frame_pos;
    m.last_frame_length = avi.last_frame_length;
    for (int t = 0; t < kAviMaxTracks; ++t) {
        m.track_bytes[t] = avi.tracks[t].bytes_written;
        m.track_chunks[t] = avi.tracks[t].chunks_written;
    }
    return m;
}

uint64_t avi_out_index_count(const avi_out* avi) {
    return avi == nullptr ? 0 : avi->index_spilled + avi->index.size();
}

int avi_out_set_buffering(avi_out* avi, size_t buffer_bytes, bool spill_index) {
    if (avi == nullptr || avi->file < 0 || avi->finished) return -1;
    if (avi_out_flush(avi) != 0) return -1;
    avi->buffer.bytes.reset();
    avi->buffer.capacity = 0;
    if (buffer_bytes > 0) {
        avi->buffer.bytes.reset(new (std::nothrow) uint8_t[buffer_bytes]);
        if (!avi->buffer.bytes) return -1;
        avi->buffer.capacity = buffer_bytes;
    }
    if (spill_index && avi->index_file < 0) {
        avi->index_file = open_unnamed_file(directory_of(avi->name));
    }
    avi->durable = avi_mark_of(*avi);
    return 0;
}

int avi_out_flush(avi_out* avi) {
    if (avi == nullptr || avi->file < 0) return -1;
    avi_out_buffer& b = avi->buffer;
    if (b.used == 0) return 0;
    iovec piece{b.bytes.get(), b.used};
    if (!avi_write_all_at(avi->file, &piece, 1, b.at)) {
        roll_back(avi);
        return -1;
    }
    b.used = 0;
    avi->durable = avi_mark_of(*avi);
    return 0;
}

bool avi_make_room(avi_out* avi, uint64_t chunk_bytes) {
    const avi_out_buffer& b = avi->buffer;
    const bool full = b.used > 0 && (b.used + chunk_bytes > b.capacity || b.at + b.used != avi->pos);
    const bool spill = avi->index_file >= 0 && avi->index.size() >= kAviIndexStep;
    if (full || spill) {
        if (avi_out_flush(avi) != 0) return false;
    }
    if (spill) spill_index(avi);
    return true;
}

bool avi_buffer_take(avi_out* avi, const iovec* pieces, int count, size_t total) {
    avi_out_buffer& b = avi->buffer;
    if (b.capacity == 0 || total > b.capacity - b.used) return false;
    if (b.used == 0) b.at = avi->pos;
    if (b.at + b.used != avi->pos) return false;
    for (int i = 0; i < count; ++i) {
        if (pieces[i].iov_len == 0) continue;
        std::memcpy(b.bytes.get() + b.used, pieces[i].iov_base, pieces[i].iov_len);
        b.used += pieces[i].iov_len;
    }
    return true;
}

bool avi_copy_spilled_index(avi_out* avi, uint64_t at) {
    constexpr size_t kEntry = sizeof(avi_out_index_entry);
    std::unique_ptr<avi_out_index_entry[]> piece(new (std::nothrow) avi_out_index_entry[kCopyEntries]);
    if (!piece) return false;
    for (uint64_t done = 0; done < avi->index_spilled;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyEntries, avi->index_spilled - done));
        const ssize_t got = ::pread(avi->index_file, piece.get(), n * kEntry,
                                    static_cast<off_t>(done * kEntry));
        if (got != static_cast<ssize_t>(n * kEntry)) return false;
        iovec out{piece.get(), n * kEntry};
        if (!avi_write_all_at(avi->file, &out, 1, at + done * kEntry)) return false;
        done += n;
    }
    return true;
}

void avi_release_buffering(avi_out* avi) {
    if (avi->index_file >= 0) ::close(avi->index_file);
    avi->index_file = -1;
    avi->index_spilled = 0;
    avi->buffer = avi_out_buffer{};
}
