// The AVI writer: compressed video frames and audio blocks into one AVI 1.0 file (a single RIFF
// form "AVI " with an idx1 index and no OpenDML parts). It knows nothing of recorders, channels
// or time; one `avi_out` record serves one output file, used by one thread at a time.
//
// The file starts with a reserved area of zeros; chunks are appended after it, and finishing
// appends idx1 and then writes the real header into the reserved area. Until then the first
// 2048 bytes of the file are zero.
//
// Results: 0 for success and -1 for failure, except the two format setters, which return 1 when
// stored and 0 when refused. The writer prints nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// Bytes reserved for the header at the start of the file; the first chunk starts here.
inline constexpr uint32_t kAviHeaderSize = 2048;
// Highest file size the writer lets a file reach, chunk, idx1 and all.
inline constexpr uint32_t kAviSizeLimit = 0xFEFFF7FF;
inline constexpr int kAviMaxTracks = 8;
// Size of the name buffer, terminating zero included; longer paths are refused, never cut.
inline constexpr size_t kAviNameSize = 4096;
// The index grows by this many entries at a time; with spilling on, this many entries at most
// stay in memory.
inline constexpr size_t kAviIndexStep = 4096;
// idx1 flag of a key video frame.
inline constexpr uint32_t kAviKeyFrame = 0x10;

enum AviOutMode : uint32_t {
    AVI_OUT_WRITING = 0,
    AVI_OUT_READING = 1,  // every writer operation refuses
};

struct avi_out_track {
    uint32_t format_tag = 0;      // written as 16 bits
    int32_t channels = 0;
    int32_t rate = 0;             // samples per second
    int32_t bits = 0;             // bits per sample
    int32_t kbit_rate = 0;        // kbit/s
    uint32_t bytes_written = 0;
    uint32_t chunks_written = 0;
};

// One idx1 entry exactly as it lies in the file (little-endian).
struct avi_out_index_entry {
    char id[4];
    uint32_t flags;   // kAviKeyFrame or 0
    uint32_t offset;  // absolute file position of the chunk's 8-byte header
    uint32_t length;  // chunk data length, without header and pad byte
};
static_assert(sizeof(avi_out_index_entry) == 16);

// What the file holds for certain: the state as it stood at the last successful flush of the
// write buffer. A failed flush returns the record to it.
struct avi_out_mark {
    uint32_t pos = 0;
    uint64_t index_count = 0;
    uint32_t video_frames = 0;
    uint32_t last_frame_pos = 0;
    uint32_t last_frame_length = 0;
    uint32_t track_bytes[kAviMaxTracks] = {};
    uint32_t track_chunks[kAviMaxTracks] = {};
};

// Chunks collected in memory and written to the file in one piece: [at, at + used).
struct avi_out_buffer {
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;  // 0: every chunk goes to the file at once
    size_t used = 0;
    uint32_t at = 0;
};

// The writer state. The owner keeps it until the file is finished and closed; destroying it
// closes a file still open (without finishing it).
struct avi_out {
    avi_out() = default;
    ~avi_out();
    avi_out(const avi_out&) = delete;
    avi_out& operator=(const avi_out&) = delete;

    int file = -1;                      // open output file, -1 when none
    uint32_t mode = AVI_OUT_WRITING;
    char name[kAviNameSize] = {};       // path of the file, as given
    int32_t width = 0;
    int32_t height = 0;
    double fps = 0;
    char compressor[4] = {};            // video FourCC; zero for uncompressed
    uint32_t video_frames = 0;          // video chunks written
    uint32_t last_frame_pos = 0;        // position and length of the last video chunk
    uint32_t last_frame_length = 0;
    avi_out_track tracks[kAviMaxTracks];
    int32_t track_count = 0;            // 0..kAviMaxTracks
    int32_t current_track = 0;          // track that audio writes go to
    uint32_t pos = 0;                   // end of the file = position of the next chunk
    // idx1 entries not yet spilled; all of them unless spilling is on.
    std::vector<avi_out_index_entry> index;
    bool finished = false;              // idx1 and header written; no more writes

    // Set by avi_out_set_buffering; off after create.
    avi_out_buffer buffer;
    int index_file = -1;                // unnamed temporary file of spilled idx1 entries
    uint64_t index_spilled = 0;         // entries in index_file, all before `index`
    avi_out_mark durable;
};

// --- Operations -------------------------------------------------------------------------------

// Creates (or truncates) the file at path and writes the reserved header area of zeros. Refused
// for a missing record, a record that still has a file open, and a path that is empty, holds a
// zero byte or does not fit the name buffer. On failure no file stays open.
int avi_out_create(avi_out* avi, std::string_view path);
// The same on a file the caller created (for instance under a name that must not replace
// another file): the record takes the descriptor, and closes it on failure. path names it.
int avi_out_create_fd(avi_out* avi, int fd, std::string_view path);

// Video parameters for the header. The FourCC is four characters; "RGB " or an empty one means
// uncompressed and is stored as zero. Also refused: a negative size, a picture of more than 4 GiB
// at 3 bytes a pixel, a frame rate that is not a number or too high for the header's rate field.
int avi_out_video_format(avi_out* avi, int32_t width, int32_t height, double fps,
                         std::string_view fourcc);

// Adds an audio track, which becomes the track audio writes go to. Refused beyond kAviMaxTracks
// and for values that do not fit their header fields.
int avi_out_audio_format(avi_out* avi, int32_t channels, int32_t rate, int32_t bits,
                         uint32_t format_tag, int32_t kbit_rate);

// One "00db" chunk. A frame of length 0 is valid and gives an empty chunk.
int avi_out_write_frame(avi_out* avi, const void* data, size_t length, bool key);

// One audio chunk ("01wb" for the first track) for the current track.
int avi_out_write_audio(avi_out* avi, const void* data, size_t length);

// Write buffering for long exports: chunks are collected in a buffer of buffer_bytes and written
// in one request when it is full, and with spill_index the idx1 entries go to an unnamed
// temporary file beside the output whenever kAviIndexStep of them are in memory, so that memory
// stays flat however long the file grows. Without a temporary file the entries stay in memory.
// When a buffered write fails, the chunks written since the last successful flush are cut off
// again and the record returns to that state (`durable`): the file never holds a chunk its
// counters or index do not know. Call after create, before the first chunk; -1 when the
// buffer cannot be had.
int avi_out_set_buffering(avi_out* avi, size_t buffer_bytes, bool spill_index);

// Writes the buffered chunks to the file. 0 on success (also when nothing is buffered); -1 when
// the write failed, with the record back at its durable state.
int avi_out_flush(avi_out* avi);

// idx1 entries so far, spilled ones included.
uint64_t avi_out_index_count(const avi_out* avi);

// Appends idx1 and writes the final header at offset 0. When idx1 cannot be written the header
// is still written (without the has-index flag) and the result is -1.
int avi_out_finish(avi_out* avi);

// Closes the file and releases the index; the record can then create another file. -1 when the
// system reports an error on closing (data that never reached the disk).
int avi_out_close(avi_out* avi);

// --- Steps the operations are built from --------------------------------------------------------

// Appends tag, 32-bit length, data and a zero pad byte for an odd length at pos. A failed write
// leaves pos as it was and cuts off whatever part of the chunk reached the file.
int avi_out_put_chunk(avi_out* avi, const char tag[4], const void* data, size_t length);

// Appends an idx1 entry, growing the index by kAviIndexStep entries when it is full.
int avi_out_put_index(avi_out* avi, const char tag[4], uint32_t flags, uint32_t position,
                      uint32_t length);

// Size check, index entry, chunk: the common path of frame and audio writes.
int avi_out_put_data(avi_out* avi, const void* data, size_t length, bool audio, bool key);

// Lays out the final header of the record's current state in `header` (kAviHeaderSize bytes);
// the RIFF size comes from pos, so idx1 is appended first. movi_length is the size field of the
// movi list, has_index whether idx1 was written. -1 when the stream lists leave no room for the
// JUNK chunk before the movi list.
int avi_out_build_header(const avi_out* avi, uint32_t movi_length, bool has_index,
                         uint8_t* header);
