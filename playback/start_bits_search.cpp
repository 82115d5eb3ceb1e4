// The start-bits search that puts a slot back onto a record after damage. Forward it reads
// chunk after chunk; backward the video search leaves ever larger stretches between the chunks
// it scans (a damaged stretch of video can be long, and a record further back still serves
// rewind), while the audio search scans contiguously.
#include <algorithm>
#include <cstring>

#include "playback/reader_i.h"

namespace {

struct SearchKind {
    int32_t chunk;       // bytes read and scanned at a time
    int64_t first_step;  // backward: the seek before the second chunk
    bool doubling;       // backward: each further step twice the one before
    uint8_t* buffer;
    bool video;
};

SearchKind video_kind() {
    return {kVideoSearchChunk, 2 * int64_t{kVideoSearchChunk}, true,
            stream_reader_state().video_search, true};
}

SearchKind audio_kind() {
    return {kAudioSearchChunk, 2 * int64_t{kAudioSearchChunk}, false,
            stream_reader_state().audio_search, false};
}

void trace_read_error(const SearchKind& kind, int place) {
    if (kind.video) {
        dvrfs_trace("video_start_gop read_error --%d\n", place);
    } else {
        dvrfs_trace("audio_start_gop read_error \n");
    }
}

void trace_seek_error(const SearchKind& kind) {
    dvrfs_trace(kind.video ? "video_start_gop lseek_error \n" : "audio_start_gop lseek_error \n");
}

// Every chunk the search may read was read and none held start bits, though the data goes on.
constexpr int32_t kDamagedBeyond = 2;

bool is_start_bits(const uint8_t* buffer, int32_t word) {
    uint32_t value;
    std::memcpy(&value, buffer + 4 * word, sizeof value);
    return value == kStartBits;
}

bool same(const ChannelPosition& a, const ChannelPosition& b) {
    return a.block == b.block && a.offset == b.offset;
}

// How far the data reaches back from the position, up to limit; -1 when the file cannot be
// positioned. The position is left where it was. A backward seek stops at the head without
// saying so: a seek back and forth that does not return to the start shows where the head is.
int64_t room_behind(int32_t fd, int64_t limit) {
    ChannelPosition start{}, here{}, origin{};
    if (backup_tell(fd, &start) != 0 || !seek_by(fd, -1) || backup_tell(fd, &here) != 0) {
        return -1;
    }
    if (same(here, start)) return 0;  // at the head
    // The start in the form a forward seek gives it (a read can end on a block's last byte).
    if (!seek_by(fd, 1) || backup_tell(fd, &origin) != 0) return -1;
    auto fits = [&](int64_t k) -> int {
        if (!seek_by(fd, -k) || !seek_by(fd, k) || backup_tell(fd, &here) != 0) return -1;
        return same(here, origin) ? 1 : 0;
    };
    int found = fits(limit);
    if (found != 0) return found < 0 ? -1 : limit;
    int64_t low = 1;       // fits
    int64_t high = limit;  // does not
    while (high - low > 1) {
        const int64_t middle = low + (high - low) / 2;
        if (backup_iseek(fd, &origin) != 0) return -1;
        found = fits(middle);
        if (found < 0) return -1;
        (found ? low : high) = middle;
    }
    return backup_iseek(fd, &origin) == 0 ? low : -1;
}

int32_t found_at(const SearchKind& kind, int32_t fd, int32_t word, int32_t read) {
    if (!seek_by(fd, int64_t{4} * word - read)) {
        trace_seek_error(kind);
        return -1;
    }
    return 0;
}

int32_t search_forward(const SearchKind& kind, int32_t fd) {
    for (int chunk = 0; chunk < kSearchChunks; ++chunk) {
        const int32_t n = reader_read(fd, kind.buffer, kind.chunk);
        if (n <= 0) {
            trace_read_error(kind, n < 0 ? 1 : 2);
            return -1;
        }
        for (int32_t word = 0; word < n / 4; ++word) {
            if (is_start_bits(kind.buffer, word)) return found_at(kind, fd, word, n);
        }
    }
    return kDamagedBeyond;
}

int32_t search_backward(const SearchKind& kind, int32_t fd) {
    int64_t step = kind.first_step;
    int32_t previous = 0;  // bytes of the chunk scanned before
    for (int chunk = 0; chunk < kSearchChunks; ++chunk) {
        const int64_t want = chunk == 0 ? kind.chunk : step;
        const int64_t room = room_behind(fd, want);
        if (room < 0) {
            trace_seek_error(kind);
            return -1;
        }
        int64_t back = want;
        int64_t length = kind.chunk;
        const bool at_head = room < want;
        if (at_head) {
            // The last chunk: from the head (in whole words from the start of the search) up
            // to what was scanned already.
            back = room & ~int64_t{3};
            length = std::min<int64_t>(kind.chunk, back - previous);
            if (length <= 0) return 1;
        }
        if (!seek_by(fd, -back)) {
            trace_seek_error(kind);
            return -1;
        }
        const int32_t n = reader_read(fd, kind.buffer, static_cast<int32_t>(length));
        if (n <= 0) {
            trace_read_error(kind, n < 0 ? 3 : 4);
            return -1;
        }
        for (int32_t word = n / 4 - 1; word >= 0; --word) {
            if (is_start_bits(kind.buffer, word)) return found_at(kind, fd, word, n);
        }
        if (at_head || n < length) return 1;
        previous = n;
        if (chunk > 0 && kind.doubling) step *= 2;
    }
    return kDamagedBeyond;
}

int32_t search(const SearchKind& kind, int32_t fd, int32_t slot, int32_t direction) {
    if (kind.video) {
        dvrfs_trace("search_video_start_gop no %d direction %d\n", slot, direction);
    } else {
        dvrfs_trace("search_audio_start_gop no %d  direction %d\n", slot, direction);
    }
    if (direction != 0 && direction != 1) return -1;
    const int32_t result = direction == 1 ? search_forward(kind, fd) : search_backward(kind, fd);
    if (result > 0) dvrfs_trace("START BIT find error %d, %d", slot, direction);
    if (result == kDamagedBeyond) reader_note_damage(fd);
    return result == 0 ? 0 : -1;
}

}  // namespace

int32_t video_start_bits_search(int32_t fd, int32_t slot, int32_t direction) {
    return search(video_kind(), fd, slot, direction);
}

int32_t audio_start_bits_search(int32_t fd, int32_t slot, int32_t direction) {
    return search(audio_kind(), fd, slot, direction);
}

int32_t search_video_start_gop(int32_t slot, int32_t direction) {
    const int32_t fd = reader_handle(slot);
    return fd < 0 ? -1 : video_start_bits_search(fd, slot, direction);
}

int32_t search_audio_start_gop(int32_t slot, int32_t direction) {
    const int32_t fd = reader_handle(slot);
    return fd < 0 ? -1 : audio_start_bits_search(fd, slot, direction);
}
