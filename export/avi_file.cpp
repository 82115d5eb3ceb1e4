// The output file: creation with the reserved header area, chunks appended at pos, the frame and
// audio writes with their size check, and finishing with idx1 and the header.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <string>

#include "export/avi_file_i.h"

namespace {

// idx1 is written straight from the entries in memory.
static_assert(std::endian::native == std::endian::little,
              "idx1 entries are written as they lie in memory");

constexpr char kVideoTag[4] = {'0', '0', 'd', 'b'};
constexpr char kIndexTag[4] = {'i', 'd', 'x', '1'};
// Offset of the movi list's type field, from where its size counts.
constexpr uint32_t kMoviSizeFrom = kAviHeaderSize - 4;

void put_le32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A record whose file is open for writing and not yet finished.
bool open_for_writing(const avi_out* avi) {
    return avi != nullptr && avi->mode == AVI_OUT_WRITING && avi->file >= 0 && !avi->finished;
}

void reset(avi_out* avi) {
    avi->file = -1;
    avi->mode = AVI_OUT_WRITING;
    std::memset(avi->name, 0, sizeof avi->name);
    avi->width = 0;
    avi->height = 0;
    avi->fps = 0;
    std::memset(avi->compressor, 0, sizeof avi->compressor);
    avi->video_frames = 0;
    avi->last_frame_pos = 0;
    avi->last_frame_length = 0;
    for (avi_out_track& t : avi->tracks) t = avi_out_track{};
    avi->track_count = 0;
    avi->current_track = 0;
    avi->pos = 0;
    std::vector<avi_out_index_entry>().swap(avi->index);
    avi->finished = false;
    avi_release_buffering(avi);
    avi->durable = avi_out_mark{};
}

// idx1: the spilled entries, then those in memory. A failure cuts the chunk off again.
bool put_index_chunk(avi_out* avi) {
    const uint64_t bytes = avi_out_index_count(avi) * sizeof(avi_out_index_entry);
    if (avi->pos + 8 + bytes > UINT32_MAX) return false;
    if (avi->index_spilled == 0)
        return avi_out_put_chunk(avi, kIndexTag, avi->index.data(), static_cast<size_t>(bytes)) == 0 &&
               avi_out_flush(avi) == 0;
    uint8_t head[8];
    std::memcpy(head, kIndexTag, 4);
    put_le32(head + 4, static_cast<uint32_t>(bytes));
    const uint64_t spilled = avi->index_spilled * sizeof(avi_out_index_entry);
    iovec head_piece{head, sizeof head};
    iovec rest{avi->index.data(), avi->index.size() * sizeof(avi_out_index_entry)};
    if (!avi_write_all_at(avi->file, &head_piece, 1, avi->pos) ||
        !avi_copy_spilled_index(avi, avi->pos + 8) ||
        !avi_write_all_at(avi->file, &rest, 1, avi->pos + 8 + spilled)) {
        int cut = ::ftruncate(avi->file, static_cast<off_t>(avi->pos));
        static_cast<void>(cut);
        return false;
    }
    avi->pos += static_cast<uint32_t>(8 + bytes);
    return true;
}

}  // namespace

avi_out::~avi_out() {
    if (file >= 0) ::close(file);
    avi_release_buffering(this);
}

int avi_out_create(avi_out* avi, std::string_view path) {
    if (avi == nullptr || avi->file >= 0) return -1;
    // A path is taken whole or not at all: cut short it would name another file.
    if (path.empty() || path.size() >= kAviNameSize || path.find('\0') != std::string_view::npos)
        return -1;
    const std::string name(path);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    return avi_out_create_fd(avi, fd, path);
}

int avi_out_create_fd(avi_out* avi, int fd, std::string_view path) {
    if (fd < 0) return -1;
    if (avi == nullptr || avi->file >= 0 || path.empty() || path.size() >= kAviNameSize ||
        path.find('\0') != std::string_view::npos) {
        ::close(fd);
        return -1;
    }
    char name[kAviNameSize] = {};
    std::memcpy(name, path.data(), path.size());
    static const uint8_t zeros[kAviHeaderSize] = {};
    iovec piece{const_cast<uint8_t*>(zeros), sizeof zeros};
    if (!avi_write_all_at(fd, &piece, 1, 0)) {
        ::close(fd);
        return -1;
    }
    reset(avi);
    std::memcpy(avi->name, name, sizeof name);
    avi->file = fd;
    avi->pos = kAviHeaderSize;
    avi->durable = avi_mark_of(*avi);
    return 0;
}

int avi_out_close(avi_out* avi) {
    if (avi == nullptr) return -1;
    int result = 0;
    // An unfinished file still gets the chunks it was given.
    if (avi->file >= 0 && avi_out_flush(avi) != 0) result = -1;
    if (avi->file >= 0 && ::close(avi->file) != 0) result = -1;
    avi->file = -1;
    std::vector<avi_out_index_entry>().swap(avi->index);
    avi_release_buffering(avi);
    return result;
}

int avi_out_put_chunk(avi_out* avi, const char tag[4], const void* data, size_t length) {
    if (avi == nullptr || avi->file < 0 || tag == nullptr) return -1;
    if (data == nullptr && length > 0) return -1;
    uint64_t padded = length + (length & 1);
    if (avi->pos + 8 + padded > UINT32_MAX) return -1;

    uint8_t head[8];
    std::memcpy(head, tag, 4);
    put_le32(head + 4, static_cast<uint32_t>(length));
    static const uint8_t pad = 0;
    iovec pieces[3] = {{head, sizeof head},
                       {const_cast<void*>(data), length},
                       {const_cast<uint8_t*>(&pad), length & 1}};
    if (avi_buffer_take(avi, pieces, 3, static_cast<size_t>(8 + padded))) {
        avi->pos += static_cast<uint32_t>(8 + padded);
        return 0;
    }
    if (avi->buffer.used > 0 && avi_out_flush(avi) != 0) return -1;
    if (!avi_write_all_at(avi->file, pieces, 3, avi->pos)) {
        // Whatever part reached the file is cut off again, so the file ends at pos as before;
        // should that fail too, the next chunk still overwrites it from pos.
        int cut = ::ftruncate(avi->file, static_cast<off_t>(avi->pos));
        static_cast<void>(cut);
        return -1;
    }
    avi->pos += static_cast<uint32_t>(8 + padded);
    return 0;
}

int avi_out_put_data(avi_out* avi, const void* data, size_t length, bool audio, bool key) {
    if (avi == nullptr) return -1;
    // Room for this chunk's header and data, the idx1 header and one more entry, counted in
    // 64 bits so that a huge length cannot wrap around and pass.
    uint64_t need = static_cast<uint64_t>(avi->pos) + 16 + static_cast<uint64_t>(length) +
                    16 * (avi_out_index_count(avi) + 1);
    if (need > kAviSizeLimit) return -1;
    if (!avi_make_room(avi, 8 + static_cast<uint64_t>(length) + (length & 1)))
        return -1;

    char tag[4];
    if (audio) {
        if (avi->current_track < 0 || avi->current_track >= kAviMaxTracks) return -1;
        tag[0] = '0';
        tag[1] = static_cast<char>('0' + avi->current_track + 1);
        tag[2] = 'w';
        tag[3] = 'b';
    } else {
        std::memcpy(tag, kVideoTag, 4);
    }
    uint32_t flags = !audio && key ? kAviKeyFrame : 0;
    const uint64_t entries = avi_out_index_count(avi);
    if (avi_out_put_index(avi, tag, flags, avi->pos, static_cast<uint32_t>(length)) != 0)
        return -1;
    if (avi_out_put_chunk(avi, tag, data, length) != 0) {
        // An entry for a chunk that is not in the file would send readers to the wrong bytes.
        if (avi_out_index_count(avi) > entries && !avi->index.empty()) avi->index.pop_back();
        return -1;
    }
    return 0;
}

int avi_out_write_frame(avi_out* avi, const void* data, size_t length, bool key) {
    if (!open_for_writing(avi)) return -1;
    uint32_t at = avi->pos;
    if (avi_out_put_data(avi, data, length, false, key) != 0) return -1;
    avi->last_frame_pos = at;
    avi->last_frame_length = static_cast<uint32_t>(length);
    avi->video_frames += 1;
    return 0;
}

int avi_out_write_audio(avi_out* avi, const void* data, size_t length) {
    if (!open_for_writing(avi)) return -1;
    // Without a track set the chunk would belong to no stream of the header.
    if (avi->current_track < 0 || avi->current_track >= avi->track_count) return -1;
    if (avi_out_put_data(avi, data, length, true, false) != 0) return -1;
    avi_out_track& track = avi->tracks[avi->current_track];
    track.bytes_written += static_cast<uint32_t>(length);
    track.chunks_written += 1;
    return 0;
}

int avi_out_finish(avi_out* avi) {
    if (!open_for_writing(avi)) return -1;
    // Whatever happens below, idx1 may be in the file: nothing more is appended.
    avi->finished = true;
    // A failed flush leaves the record at what the file holds; idx1 then describes that.
    static_cast<void>(avi_out_flush(avi));
    uint32_t movi_length = avi->pos - kMoviSizeFrom;
    bool has_index = put_index_chunk(avi);

    uint8_t header[kAviHeaderSize];
    if (avi_out_build_header(avi, movi_length, has_index, header) != 0) return -1;
    iovec piece{header, sizeof header};
    if (!avi_write_all_at(avi->file, &piece, 1, 0)) return -1;
    return has_index ? 0 : -1;
}
